#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "driver/settings.h"
#include "link/serial.h"
#include "test_support.h"
#include "wire_helpers.h"

namespace vexa::link {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

long elapsed_ms(std::chrono::steady_clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// A pseudo-terminal whose master side the test plays.
struct Pty {
  int master = -1;
  std::string path;
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    path = ::ptsname(master);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
  std::string take(std::size_t n) {
    std::string s;
    char c[256];
    for (int tries = 0; s.size() < n && tries < 200; ++tries) {
      ssize_t got = ::read(master, c, std::min(sizeof c, n - s.size()));
      if (got > 0) s.append(c, static_cast<std::size_t>(got));
      else ::usleep(1000);
    }
    return s;
  }
  void put(const std::string& s) { ASSERT_EQ(::write(master, s.data(), s.size()), static_cast<ssize_t>(s.size())); }
};

TEST(SerialPort, ComNumbersNameDevicesAndMessagesNameThePort) {
  driver::Settings s;
  EXPECT_EQ(port_device(s), "");
  s.com_port = 9;
  ::unsetenv("VEXA_COM9");
  EXPECT_EQ(port_device(s), "/dev/ttyS8");
  EXPECT_EQ(port_label(s), "COM9");
  ::setenv("VEXA_COM9", "/tmp/some-pty", 1);
  EXPECT_EQ(port_device(s), "/tmp/some-pty");
  EXPECT_EQ(port_label(s), "COM9");  // the user gave a number
  ::unsetenv("VEXA_COM9");
  s.com_device = "/dev/ttyUSB3";
  EXPECT_EQ(port_device(s), "/dev/ttyUSB3");
  EXPECT_EQ(port_label(s), "/dev/ttyUSB3");
}

TEST(SerialPort, FindsUsbSerialDevicesByFriendlyName) {
  TempDir root;
  test::add_usb_tty(root.path, "ttyUSB1", "1-2", "Vexa", "Programmer");
  test::add_usb_tty(root.path, "ttyUSB0", "1-1", "Generic", "USB Serial Port");
  test::add_usb_tty(root.path, "ttyACM0", "1-3", nullptr, "Display Link");
  // A serial port on the main board and a console: no USB parent.
  fs::create_directories(fs::path(root.path) / "devices/platform/serial8250/ttyS0");
  fs::create_directories(fs::path(root.path) / "class/tty/ttyS0");
  fs::create_directory_symlink(fs::path(root.path) / "devices/platform/serial8250/ttyS0",
                               fs::path(root.path) / "class/tty/ttyS0/device");
  fs::create_directories(fs::path(root.path) / "class/tty/tty0");
  ::setenv("VEXA_SYSFS_ROOT", root.path.c_str(), 1);

  // Places follow the tty names in order: ttyACM0, ttyUSB0, ttyUSB1.
  std::string name = "usb serial", device;
  EXPECT_EQ(find_com_by_name(name, device), 2);
  EXPECT_EQ(name, "Generic USB Serial Port (/dev/ttyUSB0)");
  EXPECT_EQ(device, "/dev/ttyUSB0");
  name = "VEXA programmer";
  EXPECT_EQ(find_com_by_name(name, device), 3);
  EXPECT_EQ(name, "Vexa Programmer (/dev/ttyUSB1)");
  EXPECT_EQ(device, "/dev/ttyUSB1");
  name = "display";
  EXPECT_EQ(find_com_by_name(name, device), 1);
  EXPECT_EQ(name, "Display Link (/dev/ttyACM0)");
  name = "ttyS0";  // not a USB device
  device.clear();
  EXPECT_EQ(find_com_by_name(name, device), 0);
  EXPECT_EQ(name, "ttyS0");
  EXPECT_EQ(device, "");

  ::setenv("VEXA_SYSFS_ROOT", (root.path + "/nowhere").c_str(), 1);
  EXPECT_EQ(find_com_by_name(name, device), -1);
  ::unsetenv("VEXA_SYSFS_ROOT");
}

TEST(SerialPort, OpensRawAndMovesBytesBothWays) {
  Pty pty;
  LinkState link;
  ASSERT_EQ(port_open(link, pty.path, 9600), 1);
  termios t;
  ASSERT_EQ(::tcgetattr(link.port_fd, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
  // 8 data bits, no parity, one stop bit, no hardware handshake, modem lines
  // ignored; raw input (no flow control characters, no line editing) shows
  // in the bytes below.
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL), static_cast<tcflag_t>(CS8 | CLOCAL));

  const std::uint8_t out[] = {0, 10, 13, 17, 19, 27, 255};
  EXPECT_EQ(write_block(link, out), 1);
  EXPECT_EQ(write_byte(link, 0x11), 1);
  EXPECT_EQ(pty.take(8), std::string("\x00\x0a\x0d\x11\x13\x1b\xff\x11", 8));

  pty.put(std::string("\x13\x11\x00\xfe", 4));
  ::usleep(20000);
  EXPECT_EQ(rx_count(link), 4);
  EXPECT_EQ(read_byte(link, 0), 0x13);
  std::uint8_t in[3];
  EXPECT_EQ(read_block(link, in, 10), 3);
  EXPECT_EQ(std::string(in, in + 3), std::string("\x11\x00\xfe", 3));

  // A block that does not come whole gives 0 and takes what came.
  pty.put("ab");
  link.tick_us = 1000;
  EXPECT_EQ(read_block(link, in, 5), 0);
  EXPECT_EQ(rx_count(link), 0);

  pty.put("xyz");
  ::usleep(20000);
  rx_drain(link);
  EXPECT_EQ(rx_count(link), 0);
  EXPECT_EQ(read_byte(link, 0), -1);

  EXPECT_EQ(port_set_baud(link, 460800), 1);
  ASSERT_EQ(::tcgetattr(link.port_fd, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B460800));
  EXPECT_EQ(port_set_baud(link, 1000), 0);  // not a rate of the line
  port_close(link);
  EXPECT_EQ(link.port_fd, -1);
}

TEST(SerialPort, TimeOutsCountTicks) {
  Pty pty;
  LinkState link;
  ASSERT_EQ(port_open(link, pty.path, 115200), 1);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_byte(link, 0), -1);
  EXPECT_LT(elapsed_ms(start), 20);  // never waits
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_byte(link, 10), -1);
  long waited = elapsed_ms(start);
  EXPECT_GE(waited, 90);
  EXPECT_LT(waited, 400);
  start = std::chrono::steady_clock::now();
  wait_ticks(link, 3);  // between 3 and 4 ticks
  waited = elapsed_ms(start);
  EXPECT_GE(waited, 29);
  EXPECT_LT(waited, 200);

  // A byte arriving during the wait ends it at once.
  start = std::chrono::steady_clock::now();
  std::thread peer([&] {
    ::usleep(30000);
    pty.put("k");
  });
  EXPECT_EQ(read_byte(link, 100), 'k');
  peer.join();
  EXPECT_LT(elapsed_ms(start), 300);
  port_close(link);
}

TEST(SerialPort, FailuresWithoutAPortOrALine) {
  LinkState link;
  std::uint8_t b[2] = {1, 2};
  EXPECT_EQ(port_open(link, "/nonexistent/tty", 9600), 0);
  EXPECT_EQ(link.port_fd, -1);
  EXPECT_EQ(rx_count(link), -1);
  EXPECT_EQ(read_byte(link, 5), -1);
  EXPECT_EQ(read_block(link, b, 5), -1);
  EXPECT_EQ(write_byte(link, 1), 0);
  EXPECT_EQ(write_block(link, b), 0);
  EXPECT_EQ(port_set_baud(link, 9600), 1);
  port_close(link);  // nothing to do

  Pty pty;
  EXPECT_EQ(port_open(link, pty.path, 1000), 0);  // a rate the line does not have
  ASSERT_EQ(port_open(link, pty.path, 9600), 1);
  ::close(pty.master);  // the other end goes away
  pty.master = -1;
  EXPECT_EQ(write_block(link, b), 0);
  auto start = std::chrono::steady_clock::now();
  link.tick_us = 1000;
  EXPECT_EQ(read_byte(link, 20), -1);
  EXPECT_LT(elapsed_ms(start), 300);
  port_close(link);
}

}  // namespace
}  // namespace vexa::link
