// Times whole runs of the vexac program on a macro file: the benchmarks that
// measure the compiler as a user meets it (start-up, reading, writing the
// upload file) share this one way of running and measuring it.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

namespace vexa::bench {

struct CompileRuns {
  double wall_seconds = 1e9;  // best of the runs
  double cpu_seconds = 1e9;   // best of the runs, user plus system
  double peak_mb = 0;         // largest resident size of any run
  std::uintmax_t upload_bytes = 0;
};

// Compiles macro_file in dir `runs` times with the console sent to /dev/null.
// False, after a message on stderr, when a run fails or writes no upload file.
inline bool time_compiles(const std::filesystem::path& dir, const std::string& macro_file, int runs,
                          CompileRuns& out) {
  for (int run = 0; run < runs; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir.c_str()) != 0) _exit(127);
      if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "r", stdin) == nullptr)
        _exit(127);
      ::execl(VEXAC_PATH, "vexac", macro_file.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "compile failed (status %d)\n", status);
      return false;
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                       static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    out.wall_seconds = std::min(out.wall_seconds, wall);
    out.cpu_seconds = std::min(out.cpu_seconds, cpu);
    out.peak_mb = std::max(out.peak_mb, static_cast<double>(usage.ru_maxrss) / 1024.0);
  }
  std::error_code error;
  const std::filesystem::path upload = dir / std::filesystem::path(macro_file).replace_extension(".DF");
  out.upload_bytes = std::filesystem::file_size(upload, error);
  if (error) {
    std::fprintf(stderr, "no upload file %s\n", upload.c_str());
    return false;
  }
  return true;
}

}  // namespace vexa::bench
