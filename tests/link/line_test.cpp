// The serial port and the framing against the simulated module, and the
// search of USB serial devices in a fake sysfs tree.
#include <fcntl.h>
#include <termios.h>

#include "link/framing.h"
#include "link/serial.h"
#include "link_harness.h"

namespace vexa::link {
namespace {

using namespace std::string_literals;
using Args = std::vector<std::string>;

std::span<const std::uint8_t> bytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

long ms_of(const std::function<void()>& call) {
  auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// A port with ticks of 1 ms open at `rate` to a module started with args.
struct TestLink {
  test::Simulator sim;
  LinkState link;
  explicit TestLink(Args args, long rate = 115200) {
    args.insert(args.end(), {"--rate", std::to_string(rate)});
    EXPECT_TRUE(sim.start(args));
    link.tick_us = 1000;
    EXPECT_EQ(port_open(link, sim.device, rate), 1);
  }
  test::SimulatorResult finish() {
    port_close(link);
    return sim.finish();
  }
};

TEST(SerialPort, DevicesOfComNumbersAndUsbNames) {
  LinkSettings s;
  EXPECT_EQ(port_device(s), "");
  s.com_port = 9;
  ::unsetenv("VEXA_COM9");
  EXPECT_EQ(port_device(s) + " " + port_label(s), "/dev/ttyS8 COM9");
  ::setenv("VEXA_COM9", "/tmp/pty", 1);
  EXPECT_EQ(port_device(s) + " " + port_label(s), "/tmp/pty COM9");
  ::unsetenv("VEXA_COM9");
  s.com_device = "/dev/ttyUSB3";
  EXPECT_EQ(port_device(s) + " " + port_label(s), "/dev/ttyUSB3 /dev/ttyUSB3");
  // A serial port on the board (no USB parent) is passed over; a device
  // without a maker string is named by its product.
  test::TempDir root;
  std::filesystem::create_directories(root.file("board/ttyACM0"));
  std::filesystem::create_directories(root.file("class/tty/ttyACM0"));
  std::filesystem::create_directory_symlink(root.file("board/ttyACM0"), root.file("class/tty/ttyACM0/device"));
  test::add_usb_tty(root.path, "ttyUSB0", "1-1", nullptr, "Display Link");
  ::setenv("VEXA_SYSFS_ROOT", root.path.c_str(), 1);
  std::string name = "ACM", device;
  EXPECT_EQ(find_com_by_name(name, device), 0);
  name = "link";
  EXPECT_EQ(find_com_by_name(name, device), 1);
  EXPECT_EQ(name + " " + device, "Display Link (/dev/ttyUSB0) /dev/ttyUSB0");
  ::setenv("VEXA_SYSFS_ROOT", root.file("nowhere").c_str(), 1);
  EXPECT_EQ(find_com_by_name(name, device), -1);  // no tty class to search
  ::unsetenv("VEXA_SYSFS_ROOT");
}

TEST(SerialPort, RawBytesBothWaysAndTimeOuts) {
  TestLink t({"--model", "Panel09"}, 9600);
  // A line left with two stop bits and hardware handshake is opened as 8
  // data bits, no parity, one stop bit, no handshake, modem lines ignored.
  port_close(t.link);
  termios tio;
  int fd = ::open(t.sim.device.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_EQ(::tcgetattr(fd, &tio), 0);
  tio.c_cflag |= CRTSCTS | CSTOPB;
  ::tcsetattr(fd, TCSANOW, &tio);
  ::close(fd);
  ASSERT_EQ(port_open(t.link, t.sim.device, 9600), 1);
  ASSERT_EQ(::tcgetattr(t.link.port_fd, &tio), 0);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL), static_cast<tcflag_t>(CS8 | CLOCAL));
  // Bytes go out as they are: in one block, one by one, in blocks of three.
  const std::string control = "\0\n\r\x11\x13\x1b\xff"s;
  EXPECT_EQ(write_block(t.link, bytes(control)), 1);
  for (int block : {1, 3}) {
    t.link.send_block = block;
    EXPECT_EQ(send_raw(t.link, bytes(control)), 1);
  }
  t.link.tick_us = 100000;  // a wait of a single tick would show
  EXPECT_LT(ms_of([&] { EXPECT_EQ(read_byte(t.link, 0), -1); }), 20);  // never waits
  t.link.tick_us = 1000;
  // The answer to ESC '?' (65, 240, 'H') ends a wait when it comes; a block
  // that does not come whole gives 0, and what came is taken.
  ASSERT_EQ(send_raw(t.link, bytes("\x1b?")), 1);
  EXPECT_LT(ms_of([&] { EXPECT_EQ(read_byte(t.link, 1000), 65); }), 300);
  std::uint8_t in[3];
  EXPECT_EQ(read_block(t.link, in, 10), 0);
  EXPECT_EQ(rx_count(t.link), 0);
  ASSERT_EQ(send_raw(t.link, bytes("\x1b?")), 1);
  EXPECT_LT(ms_of([&] { EXPECT_EQ(read_block(t.link, in, 100), 3); }), 50);
  EXPECT_EQ(std::string(in, in + 3), "\x41\xf0H");
  ASSERT_EQ(send_raw(t.link, bytes("\x1b?")), 1);
  ::usleep(30000);
  rx_drain(t.link);
  EXPECT_EQ(read_byte(t.link, 0), -1);
  long waited = ms_of([&] { EXPECT_EQ(read_byte(t.link, 100), -1); });  // time-outs count ticks
  EXPECT_TRUE(waited >= 90 && waited < 400) << waited;
  std::uint32_t before = tick_now(t.link);
  EXPECT_LT(ms_of([&] { wait_ticks(t.link, 30); }), 200);
  EXPECT_GE(tick_now(t.link) - before, 31u);  // until the tick has changed 31 times
  EXPECT_EQ(port_set_baud(t.link, 460800), 1);
  ASSERT_EQ(::tcgetattr(t.link.port_fd, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B460800));
  EXPECT_EQ(port_set_baud(t.link, 1000), 0);  // not a rate of the line
  port_close(t.link);
  EXPECT_EQ(port_open(t.link, t.sim.device, 1000), 0);
  EXPECT_EQ(t.sim.finish().trace, control + control + control + "\x1b?\x1b?\x1b?");
  // Without a port every operation gives its failure value.
  LinkState none;
  std::uint8_t b[2] = {1, 2};
  EXPECT_EQ(port_open(none, "/nonexistent/tty", 9600), 0);
  EXPECT_EQ(std::vector<int>({rx_count(none), read_byte(none, 5), read_block(none, b, 5), write_byte(none, 1),
                              write_block(none, b), port_set_baud(none, 9600)}),
            std::vector<int>({-1, -1, -1, 0, 0, 1}));
}

TEST(Framing, PacketsAreTriedUpToTheRetryCount) {
  // A module with another address never answers.
  TestLink t({"--framed", "--address", "5"});
  t.link.retries = 3;
  EXPECT_EQ(send_packet(t.link, packet_command, bytes("AS\x06")), 0);
  EXPECT_EQ(send_packet(t.link, packet_command, bytes("AS\x05")), 1);
  const std::string wrong = "\x12\x03\x41\x53\x06\xaf";
  EXPECT_EQ(t.finish().trace, wrong + wrong + wrong + "\x12\x03\x41\x53\x05\xae");
}

TEST(Framing, RequestsAndAnswers) {
  // After a lost answer the module has moved on: its buffer is asked for
  // anew with S, and found empty (R would repeat what was lost).
  TestLink lost({"--framed", "--fault", "lose-answer:1"});
  ASSERT_EQ(send_data(lost.link, bytes("\x1b?")), 1);
  Packet p;
  EXPECT_EQ(request_data(lost.link, p), 0);
  EXPECT_EQ(lost.finish().trace.substr(5), "\x12\x01S\x66\x12\x01S\x66");
  TestLink silent({"--framed", "--fault", "stop:1"});
  silent.link.retries = 2;
  EXPECT_EQ(request_data(silent.link, p), -2);  // the request itself not acknowledged
  TestLink damaged({"--framed", "--fault", "bad-answer:1"});
  ASSERT_EQ(send_packet(damaged.link, packet_command, bytes("S")), 1);
  EXPECT_EQ(receive_packet(damaged.link, p), 0);  // handed out all the same
  EXPECT_EQ(std::make_pair(p.type, p.length), std::make_pair(static_cast<int>(packet_data), 0));
  // A plain module answers 65, 240, 'H': 65 starts no packet, and what
  // follows stays in the input.
  TestLink plain({"--model", "Panel09"});
  EXPECT_EQ(receive_packet(plain.link, p), -1);  // nothing came
  ASSERT_EQ(send_raw(plain.link, bytes("\x1b?")), 1);
  EXPECT_EQ(receive_packet(plain.link, p), -1);
  EXPECT_EQ(read_byte(plain.link, 10), 'H');
}

}  // namespace
}  // namespace vexa::link
