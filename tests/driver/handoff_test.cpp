// The hand-off after a compile, where the project corpus cannot follow it: a
// simulator started detached (its directory, arguments and descriptors), a
// simulator window listening on a socket, and USB devices found in a fake
// device tree.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "base/models.h"
#include "base/paths.h"
#include "command/context.h"
#include "driver/handoff.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::driver {
namespace {

namespace fs = std::filesystem;
using test::CapturedContext;
using test::TempDir;

bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (test::file_exists(path) && !test::read_file(path).empty()) return true;
    ::usleep(10000);
  }
  return false;
}

std::string real_path(const std::string& path) {
  char real[PATH_MAX];
  return ::realpath(path.c_str(), real) != nullptr ? real : "";
}

TEST(HandOff, ExecutableDirectoryAndUploadPath) {
  EXPECT_EQ(base::executable_directory(), real_path(VEXA_TOOLS_DIR) + "/");  // where this test program lives
  std::string cwd = fs::current_path().string();
  EXPECT_EQ(upload_file_path("demo.DF"), cwd + "/demo.DF");
  EXPECT_EQ(upload_file_path("sub\\..\\x\\demo.DF"), cwd + "/x/demo.DF");
  EXPECT_EQ(upload_file_path("/work/a/../demo.DF"), "/work/demo.DF");
}

// The simulator named after the model with ".EXE" is found under its bare
// name too; it runs in its own directory with the upload path as its only
// argument, is not our child, and inherits none of our descriptors.
TEST(HandOff, SimulatorStartsDetachedInItsDirectory) {
  TempDir dir;
  fs::create_directory(dir.file("bin"));
  std::string program = dir.file("bin/VexaG6");
  // Two descriptors of ours, one low and one high, that must not reach it.
  int low = ::open("/dev/null", O_RDONLY);
  int high = ::fcntl(low, F_DUPFD, 57);
  std::string check = "[ -e /proc/$$/fd/" + std::to_string(low) + " ] || [ -e /proc/$$/fd/" + std::to_string(high) + " ]";
  test::write_file(program, "#!/bin/sh\nif " + check +
                                "; then echo yes > \"$1.leak\"; else echo no > \"$1.leak\"; fi\n"
                                "echo \"$#:$*\" > \"$1.args\"\n"
                                "pwd > \"$1.cwd\"\n");
  ::chmod(program.c_str(), 0755);
  std::string upload = dir.file("demo.DF");
  CapturedContext cc;
  cc.ctx->settings.model = base::model_vexag6;
  cc.ctx->settings.upload_file = upload;
  // Named in other letter cases, with ".exe": the bare name is found.
  cc.ctx->settings.simulator = dir.file("BIN/vexag6.exe");
  EXPECT_FALSE(hand_off(*cc.ctx));
  ::close(high);
  ::close(low);
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  ASSERT_TRUE(wait_for_file(upload + ".cwd") && wait_for_file(upload + ".leak") && wait_for_file(upload + ".args"));
  EXPECT_EQ(test::read_file(upload + ".cwd"), real_path(dir.file("bin")) + "\n");
  EXPECT_EQ(test::read_file(upload + ".args"), "1:" + upload + "\n");
  EXPECT_EQ(test::read_file(upload + ".leak"), "no\n");
  EXPECT_EQ(cc.console(), "\r\nstart Vexa-Simulation\r\n");

  EXPECT_EQ(start_simulator(dir.file("bin/missing"), upload), 0);
  EXPECT_EQ(start_simulator(dir.path + "/nodir/prog", upload), 0);

  // A missing program is reported and fails the hand-off (the outcome for a front-end).
  CapturedContext missing;
  missing.ctx->settings.simulator = dir.file("bin/Nothing.EXE");
  EXPECT_TRUE(hand_off(*missing.ctx));
  EXPECT_TRUE(missing.ctx->settings.handoff_failed);
  EXPECT_EQ(missing.console(), "\r\nstart Vexa-Simulation\r\nERROR: cannot open " + dir.file("bin/Nothing.EXE") +
                                   "\r\n");
  // So is a folder: it can be opened for reading, but not started.
  CapturedContext folder;
  folder.ctx->settings.simulator = dir.file("bin");
  EXPECT_TRUE(hand_off(*folder.ctx));
  EXPECT_EQ(folder.console(), "\r\nstart Vexa-Simulation\r\nERROR: cannot open " + dir.file("bin") + "\r\n");
}

TEST(HandOff, RunningSimulatorWindowGetsTheUploadPath) {
  TempDir dir;
  ::setenv("XDG_RUNTIME_DIR", dir.path.c_str(), 1);
  CapturedContext cc;
  cc.ctx->settings.model = base::model_vexag7;
  cc.ctx->settings.upload_file = dir.file("demo.DF");
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, dir.file("VexaG7.sock").c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  EXPECT_FALSE(hand_off(*cc.ctx));
  pollfd waiting = {listener, POLLIN, 0};
  ASSERT_EQ(::poll(&waiting, 1, 5000), 1) << "no connection";
  int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::string records;
  char buffer[256];
  for (ssize_t n; (n = ::read(peer, buffer, sizeof buffer)) > 0;) records.append(buffer, static_cast<std::size_t>(n));
  ::close(peer);
  ::close(listener);
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(test::window_texts(records), (std::vector<std::pair<std::string, int>>{{dir.file("demo.DF"), 1}}));
  EXPECT_EQ(cc.console(), "");
}

TEST(HandOff, UsbDeviceNameBecomesThePort) {
  using namespace std::string_literals;
  TempDir root;
  fs::create_directories(fs::path(root.path) / "class/tty");
  ::setenv("VEXA_SYSFS_ROOT", root.path.c_str(), 1);
  // (failed, console, USB name, device, COM number) after a hand-off.
  auto run = [](const std::string& usb, int com_port) {
    CapturedContext cc;
    cc.ctx->settings.usb_name = usb;
    cc.ctx->settings.com_port = com_port;
    bool failed = hand_off(*cc.ctx);
    EXPECT_EQ(failed, cc.ctx->settings.handoff_failed);
    const command::Settings& s = cc.ctx->settings;
    return std::make_tuple(failed, cc.console(), s.usb_name, s.com_device, s.com_port);
  };
  // The second fallback name, then the first one winning over it, then the
  // name given winning over both, found without regard to case.
  test::add_usb_tty(root.path, "ttyUSB3", "1-4", "Vexa", "VexaG4 Programmer");
  EXPECT_EQ(run("XYZ", 0), std::make_tuple(false, ""s, "Vexa VexaG4 Programmer (/dev/ttyUSB3)"s, "/dev/ttyUSB3"s, 1));
  test::add_usb_tty(root.path, "ttyUSB2", "1-3", "Acme", "Vexa Programmer");
  EXPECT_EQ(run("XYZ", 5), std::make_tuple(false, ""s, "Acme Vexa Programmer (/dev/ttyUSB2)"s, "/dev/ttyUSB2"s, 1));
  test::add_usb_tty(root.path, "ttyUSB7", "1-7", "Acme", "Display Cable");
  EXPECT_EQ(run("display CABLE", 0),
            std::make_tuple(false, ""s, "Acme Display Cable (/dev/ttyUSB7)"s, "/dev/ttyUSB7"s, 3));
  ::unsetenv("VEXA_SYSFS_ROOT");
}

}  // namespace
}  // namespace vexa::driver
