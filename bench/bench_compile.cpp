// Compile throughput: a generated macro file of 100,000 display command lines
// in 2,000 macros is compiled by the vexac program; reports lines per second
// and the program's peak memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

constexpr int macros = 2000;
constexpr int lines_per_macro = 50;

std::string generate() {
  std::string text = "VexaG6 <Bench>\nX = 10\nY = 20\n!T! = \"bench\"\n";
  const char* commands[] = {"#TP X+1,Y*2;", "#ZL 10,20,\"Hello world\";", "#RR 0,0,479,271;",
                            "#DL;", "#AT 10,40,150,80,1,0,!T!;", "#FZ 2,1;", "#GD 1,2,3,4;",
                            "#%A 1,2,3,4,5,6,7,8;", "#TC X&1;", "#BR 1,10,20,200,30,0,100,1;"};
  for (int m = 0; m < macros; ++m) {
    text += "Macro " + std::to_string(m % 256) + " [" + std::to_string(m / 256) + "]\n";
    for (int i = 0; i < lines_per_macro; ++i) {
      text += commands[(m + i) % 10];
      text += '\n';
    }
  }
  return text;
}

}  // namespace

int main() {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vexa-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string text = generate();
  std::ofstream(dir / "bench.txt", std::ios::binary) << text;
  const int lines = 4 + macros * (lines_per_macro + 1);

  double best = 1e9, best_cpu = 1e9;
  long peak_kb = 0;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir.c_str()) != 0) _exit(127);
      std::freopen("/dev/null", "w", stdout);
      std::freopen("/dev/null", "r", stdin);
      ::execl(VEXAC_PATH, "vexac", "bench.txt", static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "compile failed (status %d)\n", status);
      return 1;
    }
    best = std::min(best, seconds);
    double cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    best_cpu = std::min(best_cpu, cpu);
    peak_kb = std::max(peak_kb, usage.ru_maxrss);
  }
  std::uintmax_t upload = std::filesystem::file_size(dir / "bench.DF");
  std::filesystem::remove_all(dir);
  std::printf("compile: %d lines in %d macros, best of 5: %.3f s wall (%.2f million lines/s), %.3f s cpu "
              "(%.2f million lines/s), peak memory %.1f MB, upload %ju bytes\n",
              lines, macros, best, lines / best / 1e6, best_cpu, lines / best_cpu / 1e6, peak_kb / 1024.0, upload);
  std::printf("targets: >= 2 million lines/s, < 40 MB\n");
  return 0;
}
