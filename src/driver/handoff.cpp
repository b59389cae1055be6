#include "driver/handoff.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/context.h"
#include "link/serial.h"

namespace vexa::driver {

namespace {

bool is_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ends_with_exe(const std::string& path) {
  if (path.size() < 4) return false;
  std::string end = path.substr(path.size() - 4);
  for (char& c : end) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return end == ".EXE";
}

// A simulator named after the model with ".EXE" may exist here under the
// bare model name. Either is looked up without regard to case where it does
// not exist as written, as every other name of a project is.
std::string simulator_program(const std::string& simulator) {
  std::string program = base::existing_path(simulator);
  if (!is_file(program) && ends_with_exe(simulator)) {
    std::string bare = base::existing_path(simulator.substr(0, simulator.size() - 4));
    if (is_file(bare)) return bare;
  }
  return program;
}

// A running simulator window of a model listens on the socket
// <runtime directory>/<model>.sock; it is handed the upload file path as a
// posted text with end code 1. No socket (or one nobody listens on) means no
// window, which is not an error.
void notify_simulator_window(std::string_view model, const std::string& upload_path) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string path = (runtime != nullptr && *runtime != '\0') ? runtime : "/tmp";
  if (path.back() != '/') path += '/';
  path += std::string(model) + ".sock";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    // A window that closes before it has read must not end the compiler
    // with SIGPIPE: the signal is held back for the write and discarded.
    sigset_t pipe_signal, previous;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    base::post_text(fd, upload_path, base::end_upload_path);
    timespec no_wait{0, 0};
    while (::sigtimedwait(&pipe_signal, nullptr, &no_wait) > 0) {
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  ::close(fd);
}

// Searches the USB serial devices for name, then for the programmer
// devices. On success name is the friendly name and device the path.
int find_usb_port(std::string& name, std::string& device) {
  std::string search = name;
  int found = link::find_com_by_name(search, device);
  for (const char* programmer : {"Vexa Programmer", "VexaG4 Programmer"}) {
    if (found > 0) break;
    search = programmer;
    found = link::find_com_by_name(search, device);
  }
  if (found > 0) name = search;
  return found;
}

}  // namespace

std::string upload_file_path(const std::string& upload_file) {
  return base::full_path(base::to_slashes(upload_file), base::current_directory());
}

int start_simulator(const std::string& simulator, const std::string& upload_path) {
  // Working directory: the simulator's own; a bare name lives here.
  std::size_t slash = simulator.rfind('/');
  std::string directory = slash == std::string::npos ? std::string(".") : simulator.substr(0, slash + 1);
  std::string program = simulator;
  std::string argument = upload_path;
  char* argv[] = {program.data(), argument.data(), nullptr};
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return 0;
  // The simulator outlives nothing of ours and is never waited for: a child
  // starts it as a grandchild and ends at once, so the grandchild belongs to
  // the system's reaper and no zombie is left, without touching the
  // process-wide SIGCHLD handling. The grandchild reports a failed exec
  // through the close-on-exec pipe; end of file means the program runs.
  // Between fork and exec only async-signal-safe calls are made.
  pid_t child = ::fork();
  if (child < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return 0;
  }
  if (child == 0) {
    pid_t grandchild = ::fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    int error = 0;
    if (::chdir(directory.c_str()) != 0) {
      error = errno;
    } else {
      // No descriptor of the compiler (log, port, front-end) goes along.
      ::close_range(3, static_cast<unsigned>(report[1]) - 1, 0);
      ::close_range(static_cast<unsigned>(report[1]) + 1, ~0u, 0);
      ::execv(program.c_str(), argv);
      error = errno;
    }
    ssize_t ignored = ::write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) {
  }
  ::close(report[0]);
  bool forked = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return forked && n == 0 ? 1 : 0;
}

bool hand_off(command::Context& ctx) {
  command::Settings& s = ctx.settings;
  base::Output& out = ctx.out;
  bool failed = false;
  std::string upload_path = upload_file_path(s.upload_file);

  if (!s.simulator.empty()) {
    base::report_text(out, "\r\nstart Vexa-Simulation\r\n", base::to_all);
    std::string program = simulator_program(s.simulator);
    // A folder opens for reading here but is no program.
    std::FILE* f = is_file(program) ? std::fopen(program.c_str(), "rb") : nullptr;
    if (f != nullptr) {
      std::fclose(f);
      start_simulator(program, upload_path);  // whether it ran makes no difference to the run
    } else {
      report_text(out, base::format("ERROR: cannot open %s\r\n", s.simulator.c_str()), base::to_all);
      failed = true;
    }
  } else if (s.model >= 0 && s.model < static_cast<int>(base::models.size())) {
    notify_simulator_window(base::models[static_cast<std::size_t>(s.model)].name, upload_path);
  }

  if (!s.usb_name.empty()) {
    std::string name = s.usb_name;
    std::string device;
    int found = find_usb_port(name, device);
    if (found > 0) {
      // A USB device has no COM number: it is known by its path, which the
      // port opens and the messages show; the number (its place among the
      // USB serial devices) only says that a port is set.
      s.usb_name = name;
      s.com_device = device;
      s.com_port = found;
    } else if (s.com_port > 0 || !s.com_device.empty()) {
      base::report_text(out, base::format("\r\n\"%s\" not found!\r\n", s.usb_name.c_str()), base::to_all);
      s.usb_name.clear();
    } else {
      base::report_text(out, base::format("\r\nERROR: cannot open \"%s\"\r\n", s.usb_name.c_str()), base::to_all);
      failed = true;
    }
  }
  if (failed) s.handoff_failed = true;
  return failed;
}

}  // namespace vexa::driver
