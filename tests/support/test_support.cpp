#include "test_support.h"

#include "command/source.h"
#include "driver/dispatch.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vexa::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexa-test-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  write_file(path, std::string(bytes.begin(), bytes.end()));
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::string s = read_file(path);
  return std::vector<std::uint8_t>(s.begin(), s.end());
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string testdata(const std::string& relative) {
  if (!relative.empty() && relative[0] == '/') return relative;  // a folder of this project's own
  const char* env = std::getenv("VEXA_TESTDATA");
  std::string root = env != nullptr ? env : VEXA_TESTDATA;
  if (!file_exists(root)) return {};
  return root + "/" + relative;
}

CapturedContext::CapturedContext() : ctx(std::make_unique<command::Context>()) {
  ctx->out.console = ::open_memstream(&buffer, &size);
  ctx->out.input = std::fopen("/dev/null", "rb");
  ctx->eval.random.seed(1);
}

CapturedContext::~CapturedContext() {
  command::close_all_sources(*ctx);
  if (ctx->out.log != nullptr) std::fclose(ctx->out.log);
  if (ctx->out.console != nullptr) std::fclose(ctx->out.console);
  if (ctx->out.input != nullptr) std::fclose(ctx->out.input);
  std::free(buffer);
}

void CapturedContext::compile_lines(const std::string& text, const std::string& name) {
  std::string path = dir.file(name);
  write_file(path, text);
  if (!command::open_source(*ctx, path, 1)) return;
  while (ctx->source.current >= 0) {
    if (command::read_source_line(*ctx))
      driver::dispatch_line(*ctx);
    else if (!command::end_of_source(*ctx))
      break;
  }
}

std::vector<std::uint8_t> macro_bytes(const command::Context& ctx) {
  return std::vector<std::uint8_t>(ctx.flash.image.begin(), ctx.flash.image.begin() + ctx.flash.image_pos);
}

std::string CapturedContext::console() {
  std::fflush(ctx->out.console);
  return std::string(buffer, size);
}

ProcessResult run_process(const std::vector<std::string>& argv, const std::string& directory,
                          const std::vector<std::string>& extra_env, const std::string& stdin_path) {
  ProcessResult result;
  int out_pipe[2], err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return result;
  pid_t pid = ::fork();
  if (pid == 0) {
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) _exit(127);
    int null_in = ::open(stdin_path.empty() ? "/dev/null" : stdin_path.c_str(), O_RDONLY);
    ::dup2(null_in, 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    // The program starts with the three standard descriptors only, as from
    // a shell: a descriptor number named on its command line is then one
    // that is not open.
    ::close_range(3, ~0U, 0);
    for (const std::string& e : extra_env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  char chunk[4096];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
      ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      } else {
        (i == 0 ? result.out : result.err).append(chunk, static_cast<std::size_t>(n));
      }
    }
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ProcessResult run_vexac(const std::vector<std::string>& args, const std::string& directory,
                        const std::vector<std::string>& extra_env, const std::string& stdin_path) {
  std::vector<std::string> argv = {VEXAC_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, directory, extra_env, stdin_path);
}

ProcessResult run_on_terminal(const std::vector<std::string>& args, const std::string& directory,
                                    const std::vector<std::string>& env, int limit_ms) {
  ProcessResult result;
  int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string terminal = ::ptsname(master);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int slave = ::open(terminal.c_str(), O_RDWR);
    if (slave < 0 || ::chdir(directory.c_str()) != 0) _exit(127);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    ::unsetenv("NO_COLOR");
    for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv = {const_cast<char*>(VEXAC_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  int status = 0;
  bool ended = false;
  while (!ended) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 50) > 0) {
      char chunk[4096];
      ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n > 0) result.out.append(chunk, static_cast<std::size_t>(n));
    }
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!ended && std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ::close(master);
      return result;
    }
  }
  for (char chunk[4096];;) {  // what is still buffered on the terminal
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
    ssize_t n = ::read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    result.out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(master);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace vexa::test
