#include <fcntl.h>
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

#include "driver/context.h"
#include "driver/handoff.h"
#include "link/models.h"
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

// A script that records where and how it was started.
std::string make_recorder(const std::string& path) {
  test::write_file(path,
                   "#!/bin/sh\n"
                   "if [ -e /proc/$$/fd/57 ]; then echo yes > \"$1.leak\"; else echo no > \"$1.leak\"; fi\n"
                   "echo \"$#:$*\" > \"$1.args\"\n"
                   "pwd > \"$1.cwd\"\n");
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(HandOff, CompilerDirectoryAndUploadPath) {
  char real[PATH_MAX];
  ASSERT_NE(::realpath(VEXA_TOOLS_DIR, real), nullptr);
  EXPECT_EQ(compiler_directory(), std::string(real) + "/");
  std::string cwd = fs::current_path().string();
  EXPECT_EQ(upload_file_path("demo.DF"), cwd + "/demo.DF");
  EXPECT_EQ(upload_file_path("sub\\..\\x\\demo.DF"), cwd + "/x/demo.DF");
  EXPECT_EQ(upload_file_path("/work/a/../demo.DF"), "/work/demo.DF");
}

TEST(HandOff, StartsTheSimulatorDetachedInItsDirectory) {
  TempDir dir;
  fs::create_directory(dir.file("bin"));
  std::string program = make_recorder(dir.file("bin/VexaG6"));
  std::string upload = dir.file("demo.DF");
  // A descriptor of the compiler's that must not reach the simulator.
  int keep = ::open("/dev/null", O_RDONLY);
  ASSERT_EQ(::dup2(keep, 57), 57);
  EXPECT_EQ(start_simulator(program, upload), 1);
  ::close(57);
  ::close(keep);
  // The intermediate process is reaped; the simulator is not our child.
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  ASSERT_TRUE(wait_for_file(upload + ".cwd"));
  ASSERT_TRUE(wait_for_file(upload + ".leak"));
  ASSERT_TRUE(wait_for_file(upload + ".args"));
  char real[PATH_MAX];
  ASSERT_NE(::realpath(dir.file("bin").c_str(), real), nullptr);
  EXPECT_EQ(test::read_file(upload + ".cwd"), std::string(real) + "\n");
  EXPECT_EQ(test::read_file(upload + ".args"), "1:" + upload + "\n");
  EXPECT_EQ(test::read_file(upload + ".leak"), "no\n");

  EXPECT_EQ(start_simulator(dir.file("bin/missing"), upload), 0);
  EXPECT_EQ(start_simulator(dir.path + "/nodir/prog", upload), 0);
}

TEST(HandOff, SimulationDirectiveStartsTheProgramOrReports) {
  TempDir dir;
  std::string upload = dir.file("demo.DF");
  make_recorder(dir.file("VexaG6"));
  CapturedContext cc;
  Context& ctx = *cc.ctx;
  std::string window = dir.file("window");
  ctx.out.window_fd = ::open(window.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ctx.settings.model = link::model_vexag6;
  ctx.settings.upload_file = upload;
  // The program named <model>.EXE does not exist; the bare name does.
  ctx.settings.simulator = dir.file("VexaG6.EXE");
  EXPECT_FALSE(hand_off(ctx));
  EXPECT_FALSE(ctx.settings.handoff_failed);
  EXPECT_TRUE(wait_for_file(upload + ".args"));
  EXPECT_EQ(test::read_file(upload + ".args"), "1:" + upload + "\n");

  ctx.settings.simulator = dir.file("Nothing.EXE");
  EXPECT_TRUE(hand_off(ctx));
  EXPECT_TRUE(ctx.settings.handoff_failed);
  std::string expected = "\r\nstart Vexa-Simulation\r\n\r\nstart Vexa-Simulation\r\nERROR: cannot open " +
                         dir.file("Nothing.EXE") + "\r\n";
  EXPECT_EQ(cc.console(), expected);  // with a front-end, no <RETURN> wait
  ::close(ctx.out.window_fd);
  std::vector<std::pair<std::string, int>> texts = test::window_texts(test::read_file(window));
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[2], std::make_pair("ERROR: cannot open " + dir.file("Nothing.EXE") + "\r\n", 3));

  // Without a front-end the user is asked to press RETURN (stdin is empty here).
  CapturedContext plain;
  plain.ctx->settings.simulator = dir.file("Nothing.EXE");
  EXPECT_TRUE(hand_off(*plain.ctx));
  EXPECT_EQ(plain.console(), "\r\nstart Vexa-Simulation\r\nERROR: cannot open " + dir.file("Nothing.EXE") + "\r\n");
}

TEST(HandOff, RunningSimulatorWindowGetsTheUploadPath) {
  TempDir dir;
  ::setenv("XDG_RUNTIME_DIR", dir.path.c_str(), 1);
  CapturedContext cc;
  Context& ctx = *cc.ctx;
  ctx.settings.model = link::model_vexag7;
  ctx.settings.upload_file = dir.file("demo.DF");
  EXPECT_FALSE(hand_off(ctx));  // no window: nothing happens
  EXPECT_EQ(cc.console(), "");

  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = dir.file("VexaG7.sock");
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  EXPECT_FALSE(hand_off(ctx));
  int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::string records;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(peer, buffer, sizeof buffer)) > 0) records.append(buffer, static_cast<std::size_t>(n));
  ::close(peer);
  ::close(listener);
  ::unsetenv("XDG_RUNTIME_DIR");
  std::vector<std::pair<std::string, int>> texts = test::window_texts(records);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], std::make_pair(dir.file("demo.DF"), 1));
  EXPECT_EQ(records.size() % 12, 0u);
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
    const Settings& s = cc.ctx->settings;
    return std::make_tuple(failed, cc.console(), s.usb_name, s.com_device, s.com_port);
  };
  // Nothing attached: with COM2 given, the programming falls back to it;
  // without a port the hand-off fails.
  EXPECT_EQ(run("XYZ", 2), std::make_tuple(false, "\r\n\"XYZ\" not found!\r\n"s, ""s, ""s, 2));
  EXPECT_EQ(run("XYZ", 0), std::make_tuple(true, "\r\nERROR: cannot open \"XYZ\"\r\n"s, "XYZ"s, ""s, 0));
  // The second fallback name, then the first one winning over it, then the
  // name given winning over both, found without regard to case.
  test::add_usb_tty(root.path, "ttyUSB3", "1-4", "Vexa", "VexaG4 Programmer");
  EXPECT_EQ(run("XYZ", 0),
            std::make_tuple(false, ""s, "Vexa VexaG4 Programmer (/dev/ttyUSB3)"s, "/dev/ttyUSB3"s, 1));
  test::add_usb_tty(root.path, "ttyUSB2", "1-3", "Acme", "Vexa Programmer");
  EXPECT_EQ(run("XYZ", 5), std::make_tuple(false, ""s, "Acme Vexa Programmer (/dev/ttyUSB2)"s, "/dev/ttyUSB2"s, 1));
  test::add_usb_tty(root.path, "ttyUSB7", "1-7", "Acme", "Display Cable");
  EXPECT_EQ(run("display CABLE", 0),
            std::make_tuple(false, ""s, "Acme Display Cable (/dev/ttyUSB7)"s, "/dev/ttyUSB7"s, 3));
  ::setenv("VEXA_SYSFS_ROOT", (root.path + "/none").c_str(), 1);
  EXPECT_TRUE(std::get<0>(run("XYZ", 0)));  // no tty class at all: as not found
  ::unsetenv("VEXA_SYSFS_ROOT");
}

}  // namespace
}  // namespace vexa::driver
