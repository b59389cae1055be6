#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <numeric>

#include <gtest/gtest.h>

#include "link/models.h"
#include "link/program.h"
#include "link_harness.h"

namespace vexa::link {
namespace {

using test::CapturedContext;
using test::Simulator;
using test::SimulatorResult;
using test::TempDir;
using test::UploadImage;

struct Programming {
  int result = -1;
  std::string console;
  std::vector<std::pair<std::string, int>> window;
  SimulatorResult sim;
  std::string file;    // the upload file's path
  std::string device;  // the simulator's terminal
};

// Programs the upload file `file` into a simulator started with sim_args;
// `setup` adjusts the settings (which start as: the simulator's device, the
// scan on, verify off, ticks of 1 ms).
Programming program(const std::string& file, const std::vector<std::string>& sim_args,
                    const std::function<void(Context&)>& setup = {}) {
  Programming p;
  TempDir dir;
  p.file = dir.file("demo.DF");
  test::write_file(p.file, file);
  Simulator sim;
  EXPECT_TRUE(sim.start(sim_args));
  p.device = sim.device;
  CapturedContext cc;
  Context& ctx = *cc.ctx;
  ctx.link.tick_us = 1000;
  ctx.settings.upload_file = p.file;
  ctx.settings.com_device = sim.device;
  std::string window_file = dir.file("window");
  ctx.out.window_fd = ::open(window_file.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (setup) setup(ctx);
  p.result = program_module(ctx);
  ::close(ctx.out.window_fd);
  p.console = cc.console();
  p.window = test::window_texts(test::read_file(window_file));
  p.sim = sim.finish();
  return p;
}

// The percentages shown on the console, in order: "\r%3d%" not followed
// by " Ok" (the line that closes a phase).
std::vector<int> percentages(const std::string& text) {
  std::vector<int> shown;
  for (std::size_t at = text.find('\r'); at != std::string::npos; at = text.find('\r', at + 1)) {
    if (at + 4 >= text.size() || text[at + 4] != '%') continue;
    std::string number = text.substr(at + 1, 3);
    if (number.find_first_not_of(" 0123456789") != std::string::npos || number.back() == ' ') continue;
    if (text.compare(at + 5, 3, " Ok") == 0) continue;
    shown.push_back(std::stoi(number));
  }
  return shown;
}

bool rises_to_100(const std::vector<int>& shown) {
  if (shown.empty() || shown.back() != 100) return false;
  for (std::size_t i = 1; i < shown.size(); ++i)
    if (shown[i] <= shown[i - 1]) return false;
  return true;
}

// The simulator's flash holds the object bytes, the rest is erased but for
// the byte the write-protect check inverted at the highest address.
void expect_programmed(const SimulatorResult& sim, const UploadImage& image, bool protect_check = true) {
  std::vector<std::uint8_t> object = image.object();
  ASSERT_GE(sim.flash.size(), object.size());
  EXPECT_TRUE(std::equal(object.begin(), object.end(), sim.flash.begin())) << "flash differs from the image";
  std::size_t erased = 0;
  for (std::size_t i = object.size(); i + 1 < sim.flash.size(); ++i) erased += sim.flash[i] == 255;
  EXPECT_EQ(erased, sim.flash.size() - object.size() - 1);
  EXPECT_EQ(sim.flash.back(), protect_check ? 0 : 255);
}

// A failed run whose console ends with `end`.
void expect_failure(const Programming& p, const std::string& end) {
  EXPECT_EQ(p.result, 0);
  EXPECT_TRUE(test::ends_with(p.console, end)) << p.console;
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Programming, PlainModeWithAndWithoutVerify) {
  UploadImage image = test::random_image(1552, 600);
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "verify" : "no verify");
    Programming p = program(image.upload_file(), {"--rate", "57600", "--flash-kb", "64"}, [&](Context& ctx) {
      ctx.settings.autoscan = 0;
      ctx.settings.baud = 57600;
      ctx.settings.verify = verify;
    });
    EXPECT_EQ(p.result, 1);
    expect_programmed(p.sim, image);
    std::string start = "\r\nconnecting VexaG6 on " + p.device + " with 57600 baud\r\n\r\nfound: VexaG6 480x272, color, "
                        "64kB FLASH\r\nprogram file " + p.file + "\r\n";
    EXPECT_EQ(p.console.substr(0, start.size()), start);
    EXPECT_TRUE(
        test::ends_with(p.console, "\r100% Ok\r\nReady: Vexa is programed,  2152 bytes used, 63384 bytes free\r\n"));
    EXPECT_EQ(p.sim.stat("ends"), 1);
    if (!verify) {
      EXPECT_TRUE(rises_to_100(percentages(p.console)));
      EXPECT_EQ(p.sim.log.find("read 0 "), std::string::npos);
      continue;
    }
    std::size_t verify_at = p.console.find("\r100% Ok\r\nVerify:\r\n");
    ASSERT_NE(verify_at, std::string::npos);
    EXPECT_TRUE(rises_to_100(percentages(p.console.substr(0, verify_at + 1))));
    EXPECT_TRUE(rises_to_100(percentages(p.console.substr(verify_at + 10))));
    // Two verify blocks of 2152 / 2 = 1076 bytes, the second cut at the end
    // of region 1 (1552), the third at S = 32768; the end of upload last.
    EXPECT_NE(p.sim.log.find("bar 2 1\nread 0 1076\nbar 2 2\nread 1076 476\nbar 2 3\nread 32768 600\nend of upload\n"),
              std::string::npos);
    EXPECT_NE(p.sim.trace.find("#RI1,65,478,89;\x1bTP\x01\x01verify "), std::string::npos);
  }
}

TEST(Programming, FramedModeWithABaudSwitchAndTheFrontEndRecords) {
  UploadImage image = test::random_image(1552, 600);
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "verify" : "no verify");
    // Ticks of 2 ms leave the simulator 40 ms to take the change command
    // at the old rate, even on a loaded machine.
    Programming p = program(image.upload_file(), {"--framed", "--rate", "230400", "--flash-kb", "64"}, [&](Context& ctx) {
      ctx.link.tick_us = 2000;
      ctx.settings.baud = 460800;
      ctx.settings.verify = verify;
    });
    EXPECT_EQ(p.result, 1);
    expect_programmed(p.sim, image);
    EXPECT_EQ(p.sim.stat("rate"), 460800);
    EXPECT_EQ(p.sim.stat("ends"), 1);
    // The prepare packet (D 128 10) raw, then the change to index 9 as a DC1
    // packet sent raw.
    EXPECT_NE(p.sim.trace.find(std::string("\x12\x03\x44\x80\x0a\xe3")), std::string::npos);
    EXPECT_NE(p.sim.trace.find(std::string("\x11\x03\x1b\x2b\x09\x63")), std::string::npos);
    // Every text of the run reached the front-end, none of the console's
    // percentages; each percentage step is one dot.
    std::vector<std::pair<std::string, int>> expected = {
        {"\r\nconnecting VexaG6 on " + p.device + "\r\n", 3},
        {".", 3},
        {"\r\n", 3},
        {"found: VexaG6 480x272, color, Duzedadoridido, 64kB FLASH, 230400 baud\r\n", 3},
        {"program file " + p.file + " with 460800 baud\r\n", 3}};
    std::size_t verify_at = p.console.find("Verify:");
    std::size_t steps = percentages(p.console.substr(0, verify_at)).size();
    expected.insert(expected.end(), steps, {".", 3});
    expected.push_back({"Ok\r\n", 3});
    if (verify) {
      expected.push_back({"Verify:", 3});
      expected.insert(expected.end(), percentages(p.console.substr(verify_at)).size(), {".", 3});
      expected.push_back({"Ok\r\n", 3});
    }
    expected.push_back({"Ready: Vexa is programed,  2152 bytes used, 63384 bytes free\r\n", 3});
    EXPECT_EQ(p.window, expected);
  }
}

TEST(Programming, RatesWithoutDuzedadoridido) {
  UploadImage image = test::random_image(1552, 600, model_vexag7);
  // VexaG7 in plain mode: 115200 is lowered to 19200 and switched to with
  // the change command for index 4.
  Programming p = program(image.upload_file(), {"--model", "VexaG7", "--rate", "38400", "--flash-kb", "64"},
                          [&](Context& ctx) {
                            ctx.link.tick_us = 2000;
                            ctx.settings.baud = 115200;
                          });
  EXPECT_EQ(p.result, 1);
  EXPECT_NE(p.console.find("....\r\nfound: VexaG7 640x480, color, 64kB FLASH, 38400 baud\r\n115200 baud is not possible "
                           "without Duzedadoridido\r\nprogram file " + p.file + " with 19200 baud\r\n"),
            std::string::npos);
  EXPECT_NE(p.sim.trace.find("\x1b+\x04"), std::string::npos);
  EXPECT_EQ(p.sim.stat("rate"), 19200);
  expect_programmed(p.sim, image);

  // With the scan off the rate cannot be lowered: nothing is sent.
  image = test::random_image(1552, 600);
  p = program(image.upload_file(), {"--rate", "115200"}, [&](Context& ctx) {
    ctx.settings.autoscan = 0;
    ctx.settings.baud = 115200;
  });
  EXPECT_EQ(p.result, 0);
  EXPECT_NE(p.console.find("found: VexaG6 480x272, color, 1024kB FLASH\r\n115200 baud is not possible without "
                           "Duzedadoridido\r\n"),
            std::string::npos);
  EXPECT_EQ(p.console.find("program file"), std::string::npos);
  EXPECT_EQ(p.sim.stat("writes"), 0);

  // A rate the line does not have is refused; the found rate stays.
  p = program(image.upload_file(), {"--rate", "230400", "--framed"}, [&](Context& ctx) { ctx.settings.baud = 1000; });
  EXPECT_EQ(p.result, 1);
  EXPECT_NE(p.console.find(p.device + ": it is not possible to change baudrate to 1000 baud\r\nprogram file " + p.file +
                           "\r\n"),
            std::string::npos);
}

TEST(Programming, ProgrammingOnlyRunTakesRegionTwoFromTheHeader) {
  // A VexaG7 file: S is 16384. A programming-only run has read no model
  // line, so the verify must find S in the header.
  UploadImage image = test::random_image(3000, 5000, model_vexag7);
  Programming p = program(image.upload_file(), {"--model", "VexaG7", "--framed", "--rate", "230400", "--flash-kb", "64"},
                          [&](Context& ctx) {
                            ctx.settings.verify = true;
                            ctx.settings.model = -1;
                            ctx.settings.region1_size = 0;
                          });
  EXPECT_EQ(p.result, 1);
  expect_programmed(p.sim, image);
  // Blocks of 8000 / 7 = 1142 bytes; region 1 ends at 3000, region 2 starts at 16384.
  EXPECT_NE(p.sim.log.find("read 0 1142\n"), std::string::npos);
  EXPECT_NE(p.sim.log.find("read 2284 716\n"), std::string::npos);
  EXPECT_NE(p.sim.log.find("read 16384 1142\n"), std::string::npos);
  EXPECT_NE(p.console.find("\r\nconnecting VexaG7 on "), std::string::npos);
}

TEST(Programming, PercentagesOfAThousandByteFileInBlocksOfEight) {
  UploadImage image = test::random_image(600, 0);
  std::string file = image.upload_file();
  image = test::random_image(600 + 1000 - static_cast<long>(file.size()), 0);
  file = image.upload_file();
  ASSERT_EQ(file.size(), 1000u);
  Programming p = program(file, {"--rate", "57600"}, [](Context& ctx) { ctx.settings.check_write_protect = 0; });
  EXPECT_EQ(p.result, 1);
  expect_programmed(p.sim, image, false);
  // 125 chunks: 8k * 100 / 1000 for k = 1..125 takes every value from 0 to 100 once.
  std::vector<int> every(101);
  std::iota(every.begin(), every.end(), 0);
  EXPECT_EQ(percentages(p.console), every);
}

TEST(Programming, ConnectionLineNamesAddressAndDevice) {
  UploadImage image = test::random_image(1552, 0);
  Programming p = program(image.upload_file(), {"--fault", "stop:1"}, [](Context& ctx) {
    ctx.settings.rs485_address = 3;
    ctx.settings.usb_name = "Vexa Programmer (/dev/ttyUSB0)";
    ctx.settings.autoscan = 0;
    ctx.settings.baud = 115200;
  });
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.console,
            "\r\nconnecting VexaG6 with RS485 address 3 on \"Vexa Programmer (/dev/ttyUSB0)\" with 115200 baud\r\n\r\n"
            "ERROR: not found !\r\n");
}

TEST(Programming, FailuresBeforeTheTransfer) {
  UploadImage image = test::random_image(1552, 600);
  std::string good = image.upload_file();
  {
    CapturedContext cc;
    cc.ctx->settings.upload_file = "/nonexistent/demo.DF";
    EXPECT_EQ(program_module(*cc.ctx), 0);
    EXPECT_EQ(cc.console(), "Cannot open file /nonexistent/demo.DF !\r\n");
  }
  Programming p = program("#MS0;no header here" + good.substr(good.find('\n')), {});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.console, p.file + " is not a valid DATA-FLASH File for a Vexa !\r\n");
  {
    CapturedContext cc;
    TempDir dir;
    test::write_file(dir.file("x.DF"), good);
    cc.ctx->settings.upload_file = dir.file("x.DF");
    cc.ctx->settings.com_port = 7;
    ::setenv("VEXA_COM7", "/nonexistent/tty", 1);
    EXPECT_EQ(program_module(*cc.ctx), 0);
    ::unsetenv("VEXA_COM7");
    EXPECT_EQ(cc.console(), "\r\nERROR: cannot open COM7: !\r\n");
  }
  p = program(good, {}, [](Context& ctx) {
    ctx.settings.autoscan = 0;
    ctx.settings.baud = 1000;
  });
  EXPECT_EQ(p.console, "\r\nERROR: cannot open " + p.device + " with 1000 baud !\r\n");

  p = program(good, {"--fault", "stop:1", "--rate", "230400"}, [](Context& ctx) { ctx.link.tick_us = 500; });
  expect_failure(p, ".........\r\nERROR: not found !\r\n");

  // The wrong module is reported once, without "not found".
  p = program(good, {"--model", "VexaG5", "--rate", "230400"});
  expect_failure(p, "connected Orix VexaG5)\r\n");

  // A flash of exactly the payload's size is one byte short: the highest
  // address must reach the total.
  UploadImage two_k = test::random_image(2048, 0);
  p = program(two_k.upload_file(), {"--rate", "230400", "--flash-kb", "2", "--framed"});
  expect_failure(p, "ERROR: not enough DATA-FLASH Memory !  (2048 bytes are needed)\r\n");
  p = program(two_k.upload_file(), {"--rate", "230400", "--flash-kb", "3", "--framed"});
  EXPECT_EQ(p.result, 1);

  p = program(good, {"--rate", "230400", "--framed", "--write-protected"});
  expect_failure(p, "ERROR: VexaG6 is write protected !\r\n");
  EXPECT_EQ(count(p.sim.log, "write D 1048575 1\n"), 2);  // tried with both waits
}

TEST(Programming, FailuresDuringTheTransfer) {
  UploadImage image = test::random_image(1552, 600);
  std::string good = image.upload_file();
  Programming p;

  // The module stops reading at the first record (operation 6 in plain
  // mode: probe, size, read, write, read, then the record's bar command);
  // once the line's buffers are full a write times out.
  UploadImage big = test::random_image(32768, 12000);
  p = program(big.upload_file(), {"--rate", "57600", "--fault", "hang:6"});
  expect_failure(p, "\r\nERROR: Timeout (CTS) !\r\n");

  // The first write command fails on the module's side.
  // The file is larger than the line's buffers, so the transfer is still
  // under way when the module's E comes back.
  p = program(big.upload_file(), {"--rate", "57600", "--fault", "error:2"});  // write 1 is the protection test
  EXPECT_EQ(p.result, 0);
  const std::string refused = "\r\nERROR: Cannot program DATA-FLASH at filepos ";
  std::size_t at = p.console.rfind(refused);
  ASSERT_NE(at, std::string::npos) << p.console;
  EXPECT_TRUE(test::ends_with(p.console, " !\r\n"));
  long position = std::stol(p.console.substr(at + refused.size()));
  EXPECT_EQ(position % 8, 0);  // after a whole chunk
  EXPECT_GT(position, 0);
  EXPECT_LT(position, static_cast<long>(big.upload_file().size()));

  // A byte changed on the way is found by the verify.
  p = program(good, {"--rate", "57600", "--fault", "corrupt:7"}, [](Context& ctx) { ctx.settings.verify = true; });
  expect_failure(p, "\r\nERROR during verify\r\n");
  EXPECT_EQ(p.sim.stat("ends"), 0);  // no end of upload after a failed verify

  // A framed chunk that is never acknowledged ends the transfer with the
  // position where it stopped: the module dies at the first record (write
  // 2, after the protection test's), in the first chunk, which it has
  // acknowledged already.
  p = program(good, {"--rate", "230400", "--framed", "--fault", "stop-write:2"},
              [](Context& ctx) { ctx.link.tick_us = 250; });
  char shown[8];
  std::snprintf(shown, sizeof shown, "\r%3d%%", static_cast<int>(255 * 100 / good.size()));
  expect_failure(p, shown + std::string("\r\nERROR: Cannot program DATA-FLASH at filepos 255 !\r\n"));
}

TEST(Programming, FileWithoutEndOfUploadIsNotSent) {
  UploadImage image = test::random_image(1552, 0);
  std::string file = image.upload_file();
  file.back() = 'K';
  Programming p = program(file, {"--rate", "230400", "--framed"});
  expect_failure(p, "found: VexaG6 480x272, color, Duzedadoridido, 1024kB FLASH, 230400 baud\r\n");
  EXPECT_EQ(p.sim.stat("writes"), 0);
}

}  // namespace
}  // namespace vexa::link
