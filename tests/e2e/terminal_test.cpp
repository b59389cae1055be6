// The program on a terminal, as a user runs it from a shell: nothing ever
// waits for a line that nobody types, errors are coloured, and programming
// shows its rate.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_support.h"

namespace vexa {
namespace {

// Runs build/vexac with a pseudo-terminal as standard input and output and
// reads what it prints until it ends. A run still going after the time limit
// is killed and reported as exit code -1: it was waiting.
test::ProcessResult run_on_terminal(const std::vector<std::string>& args, const std::string& directory,
                                    const std::vector<std::string>& env = {}, int limit_ms = 20000) {
  test::ProcessResult result;
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

TEST(Terminal, NothingWaitsForALine) {
  test::TempDir dir;
  test::write_file(dir.file("bad.txt"), "VexaG6\r\nFOO\r\n");
  test::write_file(dir.file("sim.txt"), "VexaG6\r\nSIMULATION <missing-simulator>\r\n");
  test::write_file(dir.file("port.txt"), "VexaG6\r\nAUTOSCAN 0\r\n");

  auto errors = run_on_terminal({"bad.txt"}, dir.path);
  EXPECT_EQ(errors.exit_code, 1) << errors.out;
  EXPECT_NE(errors.out.find("\x1b[91m--->ERROR in file <bad.txt>"), std::string::npos) << errors.out;
  EXPECT_NE(errors.out.find("---> see File <bad.log>"), std::string::npos);
  EXPECT_EQ(errors.out.find("RETURN"), std::string::npos);

  auto simulator = run_on_terminal({"sim.txt"}, dir.path);
  EXPECT_EQ(simulator.exit_code, 2) << simulator.out;
  EXPECT_NE(simulator.out.find("ERROR: cannot open " + dir.file("missing-simulator")), std::string::npos) << simulator.out;

  // A port nobody answers on: the search gives up and the run ends.
  auto programming = run_on_terminal({"port.txt", "-c/dev/null/none"}, dir.path);
  EXPECT_EQ(programming.exit_code, 2) << programming.out;
  EXPECT_EQ(programming.out.find("RETURN"), std::string::npos);

  // The file name prompt still reads the terminal; here nobody answers it
  // and the run is still waiting when the time is up.
  auto prompt = run_on_terminal({}, dir.path, {}, 500);
  EXPECT_EQ(prompt.exit_code, -1);
  EXPECT_NE(prompt.out.find("Filename: "), std::string::npos);
}

}  // namespace
}  // namespace vexa
