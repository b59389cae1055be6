// Programming runs against the simulated module, most with the upload files
// vexac wrote for the link cases of tests/projects: what the console, a
// front-end and the module see; and the fault loops.
#include "base/format.h"
#include "base/models.h"
#include "link_harness.h"

namespace vexa::link {
namespace {

using namespace std::string_literals;
using test::CapturedContext;
using test::LinkRun;
using test::ends_with;
using test::link_case;
using test::Programming;
using Args = std::vector<std::string>;
using Adjust = std::function<void(test::LinkRun&)>;

Adjust fixed(int baud) { return [=](LinkRun& ctx) { ctx.settings.autoscan = 0; ctx.settings.baud = baud; }; }
Adjust requested(int baud, long tick) { return [=](LinkRun& ctx) { ctx.settings.baud = baud; ctx.link.tick_us = tick; }; }
Adjust verified(Adjust also) { return [=](LinkRun& ctx) { if (also) also(ctx); ctx.settings.verify = true; }; }

// A programming run and what it must show: a failed run ends with `text`, a
// programmed one holds it; the simulator's log, or what it got, holds `seen`.
struct Run {
  std::string file;
  Args sim;
  Adjust setup;
  int result;
  std::string text;
  std::vector<std::string> seen = {};
};

// What a front-end gets of a console text: every text, but a dot for each
// step of the percentages, and no line end of the console's own.
std::string front_end_view(const std::string& console) {
  std::string shown;
  for (std::size_t at = 0; at < console.size(); ++at) {
    if (console.compare(at, 8, "\r100% Ok") == 0) {
      shown += "Ok";
      at += 7;
    } else if (console[at] == '\r' && at + 4 < console.size() && console[at + 4] == '%') {
      shown += '.';
      at += 4;
    } else if (console.compare(at, 9, "Verify:\r\n") == 0) {
      shown += "Verify:";
      at += 8;
    } else {
      shown += console[at];
    }
  }
  return shown;
}

void check(const std::vector<Run>& runs) {
  CapturedContext cc;
  for (const Run& run : runs) {
    Programming p = program(cc, run.file, run.sim, run.setup);
    EXPECT_EQ(p.result, run.result) << run.text;
    EXPECT_TRUE(run.result ? p.console.find(run.text) != std::string::npos : ends_with(p.console, run.text)) << p.console;
    for (const std::string& seen : run.seen)
      EXPECT_TRUE(p.sim.log.find(seen) != std::string::npos || p.sim.trace.find(seen) != std::string::npos) << seen;
    EXPECT_EQ(p.window, front_end_view(p.console));
    EXPECT_LT(p.milliseconds, 6000);  // a write gives up after a second
    EXPECT_EQ(p.sim.stat("ends"), p.result);  // the end of upload only when all went well
    for (const char* name : {"link-upload-g6", "link-upload-g7"})
      if (p.result == 1 && run.file == link_case(name).upload) test::expect_programmed(p.sim, link_case(name).object);
  }
}

// Makes upload files with nothing to program for `model`, `size` bytes long
// (header, blanks the module takes as text, end of upload), claiming `total`
// flash bytes.
struct BareUploads {
  test::TempDir dir;
  std::string operator()(const std::string& model, long total = 0, std::size_t size = 100) const {
    std::string head = "program " + model + "\r\n\nBARE#TP0,$8000;#TP" + std::to_string(total) + ",$0;";
    std::string path = dir.file(model.substr(0, 7) + std::to_string(total) + ".DF");
    test::write_file(path, head + std::string(size - head.size() - 10, ' ') + "\x1b&D\0\0\0\0\0\0J"s);
    return path;
  }
};

TEST(Identification, AnswersAndWhatTheyMean) {
  const BareUploads bare;
  const Args panel09 = {"--geometry", "320,240,H,2,A", "--rate", "19200"}, panel06 = {"--model", "Panel06", "--swapped"};
  const Args panel08 = {"--model", "Panel08", "--framed", "--rate", "38400", "--address", "7"};
  auto address = [](int a) -> Adjust { return [=](LinkRun& ctx) { fixed(38400)(ctx); ctx.settings.rs485_address = a; }; };
  const std::string wrong = "\r\nERROR: wrong Module!\r\n(Macrofile, written for Orix ", none = "\r\n\r\nERROR: not found !\r\n";
  const std::string unknown = "\r\nERROR: Unknown Module!\r\n(";
  check({
      // 65, 240, 'H': 65 is odd, so the width is 65 + 255 = 320; a Panel09.
      // The blank packet alone, then the probe (ESC '?' and the same packet).
      {bare("Panel09"), panel09, fixed(19200), 1, "\r\n\r\nfound: Panel09 320x240, monochrome, 1024kB FLASH\r\n",
       {"\x11\x01 2\x1b?\x11\x01 2\x1b&D\0\0\0\0\0\0R"s}},
      {bare("VexaG4"), panel09, fixed(19200), 0, wrong + "VexaG4 does not match with connected Orix Panel09)\r\n"},
      // Mounted upright: 128, 160 (even: no correction) matches the selected
      // model either way round, another only as it is; the first row that fits is named.
      {bare("Panel06"), panel06, {}, 1, "\r\nfound: Panel06 128x160, monochrome, 1024kB FLASH, 115200 baud\r\n"},
      {bare("VexaG1"), panel06, {}, 0, unknown + "128x160 with 2 colors)\r\n"},
      {bare("VexaG1"), {"--model", "Panel04"}, {}, 0, wrong + "VexaG1 does not match with connected Orix Panel03)\r\n"},
      // The model's name is taken without regard to case, whatever follows it.
      // In Duzedadoridido mode: the probe's packet, C 255, the send buffer
      // emptied, the query packet (ESC M S 0, ESC ?), then the size.
      {bare("vexag6 <x>"), {"--framed", "--rate", "115200"}, fixed(115200), 1, "\r\nconnecting VexaG6 on ",
       {"dc1 1\ndc2 C\ndc2 S\ndc1 6\nmode 0\nprobe\ndc2 S\ndc1 10\nsize\ndc2 S\n"}},
      {bare("Panel08"), panel08, address(7), 1, "\r\nfound: Panel08 240x128, monochrome, Duzedadoridido, 1024kB FLASH\r\n"},
      {bare("Panel08"), panel08, address(8), 0, none},
      // Without a flash size the module has no room for anything.
      {bare("VexaG3"), {"--model", "VexaG3", "--rate", "230400", "--no-size"}, {}, 0, ".\r\nfound: VexaG3 240x128, "
       "monochrome, 0kB FLASH, 230400 baud\r\nERROR: not enough DATA-FLASH Memory !  (0 bytes are needed)\r\n"},
      {bare("VexaG1"), {"--geometry", "510,200,H,2,A"}, {}, 0, unknown + "510x200 with 2 colors)\r\n"},  // 255 is odd
      {bare("VexaG1"), {"--geometry", "640,480,v,256,B", "--framed"}, {}, 0, unknown + "640x480 with 256 colors)\r\n"},
      // Not a module at all (no type letter); 460800 is never an
      // identification rate, even when a module answers there; a silent line.
      {bare("VexaG1"), {"--geometry", "100,50,X,2,A", "--rate", "9600"}, fixed(9600), 0, none},
      {bare("VexaG6"), {"--rate", "460800", "--framed"}, fixed(460800), 0, none, {"dc1 1\n"}},
      {bare("VexaG6"), {"--fault", "stop:1"}, {}, 0, ".........\r\nERROR: not found !\r\n"},
  });
}

TEST(Programming, RunsAndTheirMessages) {
  const test::Compiled &g6 = link_case("link-upload-g6"), &g7 = link_case("link-upload-g7");
  const std::string good = test::read_file(g6.upload);
  const BareUploads bare;
  auto file = [&](const std::string& name, const std::string& bytes) {
    test::write_file(bare.dir.file(name), bytes);
    return bare.dir.file(name);
  };
  // A project larger than the line's buffers: the transfer is still under
  // way when the module stops reading.
  std::string big = "VexaG6 <Big>\r\nMacro 1\r\n";
  for (int i = 0; i < 9000; ++i) big += "#TP 1,2;\r\n";
  test::write_file(bare.dir.file("main.txt"), big);
  const std::string big_file = test::compile_in(bare.dir.path).upload;
  std::string g7_as_g6 = test::read_file(g7.upload), every_percent;
  g7_as_g6.replace(g7_as_g6.find("VexaG7"), 6, "VexaG6");
  for (int i = 0; i <= 100; ++i) every_percent += base::format("\r%3d%%", i);
  const Args g7_module = {"--model", "VexaG7", "--rate", "230400", "--framed"};
  ::setenv("VEXA_COM7", "/nonexistent/tty", 1);
  check({
      // Plain at a fixed rate, with verify: three blocks of 3148 / 3 bytes,
      // the second cut at the end of region 1 (1575 bytes), region 2 read
      // from 32768, the end of upload last.
      {g6.upload, {"--rate", "57600", "--flash-kb", "64"}, verified(fixed(57600)), 1,
       "found: VexaG6 480x272, color, 64kB FLASH\r\nprogram file " + g6.upload + "\r\n",
       {"bar 2 1\nread 0 1049\nbar 2 2\nread 1049 526\nbar 2 3\nread 32768 1049\nbar 2 4\nread 33817 524\nend of upload\n",
        "#RI1,65,478,89;\x1bTP\x01\x01verify "}},
      // Found at 230400 and switched to 460800: the prepare packet (D 128 10)
      // raw, then the change to index 9 as a DC1 packet sent raw.
      {g6.upload, {"--framed", "--rate", "230400"}, requested(460800, 2000), 1, "\r\n.\r\nfound: VexaG6 480x272, color, "
       "Duzedadoridido, 1024kB FLASH, 230400 baud\r\nprogram file " + g6.upload + " with 460800 baud\r\n",
       {"\x12\x03\x44\x80\x0a\xe3", "\x11\x03\x1b\x2b\x09\x63"}},
      {"/nonexistent/demo.DF", {}, {}, 0, "Cannot open file /nonexistent/demo.DF !\r\n"},
      {file("bad.DF", "#MS0;no header" + good.substr(good.find('\n'))), {}, {}, 0,
       bare.dir.file("bad.DF") + " is not a valid DATA-FLASH File for a Vexa !\r\n"},
      {g6.upload, {}, [](LinkRun& ctx) { ctx.settings.com_device.clear(); ctx.settings.com_port = 7; }, 0,
       "\r\nERROR: cannot open COM7: !\r\n"},
      {g6.upload, {}, fixed(1000), 0, " with 1000 baud !\r\n"},
      // The scan off and no rate set: the port refuses 0 baud, no module.
      {g6.upload, {"--rate", "57600"}, fixed(0), 0, " with 0 baud\r\n\r\nERROR: not found !\r\n"},
      {g6.upload, {"--fault", "stop:1"}, [](LinkRun& ctx) {
         fixed(115200)(ctx);
         ctx.settings.rs485_address = 3;
         ctx.settings.usb_name = "Vexa Programmer (/dev/ttyUSB0)";
       }, 0, "\r\nconnecting VexaG6 with RS485 address 3 on \"Vexa Programmer (/dev/ttyUSB0)\" with 115200 baud\r\n"
             "\r\nERROR: not found !\r\n"},
      {g6.upload, {"--model", "VexaG5"}, {}, 0, "\r\nERROR: wrong Module!\r\n(Macrofile, written for Orix VexaG6 does "
       "not match with connected Orix VexaG5)\r\n"},
      // The highest address must reach the total: a flash of exactly the
      // payload's size is one byte short.
      {bare("VexaG6", 2048), {"--flash-kb", "2"}, {}, 0, "ERROR: not enough DATA-FLASH Memory !  (2048 bytes are needed)\r\n"},
      // 125 chunks of 8 bytes: 8k * 100 / 1000 takes every value from 0 to 100 once.
      {bare("VexaG6", 2047, 1000), {"--flash-kb", "2", "--rate", "57600"}, {}, 1,
       every_percent + "\r100% Ok\r\nReady: Vexa is programed,  2047 bytes used, 1 bytes free\r\n"},
      // Protected when both tries, with the short and the long wait, fail.
      {g6.upload, {"--rate", "57600", "--write-protected"}, {}, 0, "ERROR: VexaG6 is write protected !\r\n",
       {"read 1048575 1\nwrite D 1048575 1\nread 1048575 1\nread 1048575 1\nwrite D 1048575 1\nread 1048575 1\n"}},
      // Without its end of upload a file is not sent; the module is still looked for.
      {file("cut.DF", good.substr(0, good.size() - 1) + "K"), {"--framed", "--rate", "230400"}, {}, 0,
       "found: VexaG6 480x272, color, Duzedadoridido, 1024kB FLASH, 230400 baud\r\n"},
      // Operation 6 in plain mode, after the probe, the size query and the
      // three of the write-protect check, is the first record.
      {big_file, {"--rate", "57600", "--fault", "hang:6"}, {}, 0, "\r\nERROR: Timeout (CTS) !\r\n"},
      {g6.upload, {"--rate", "57600", "--fault", "corrupt:7"}, verified({}), 0, "\r\nERROR during verify\r\n"},
      // VexaG7 in plain mode: 115200 is lowered to 19200 (index 4); with the
      // scan off it cannot be, and nothing is sent.
      {g7.upload, {"--model", "VexaG7", "--rate", "38400"}, requested(115200, 2000), 1,
       "....\r\nfound: VexaG7 640x480, color, 1024kB FLASH, 38400 baud\r\n115200 baud is not possible without "
       "Duzedadoridido\r\nprogram file " + g7.upload + " with 19200 baud\r\n"},
      {g7.upload, {"--model", "VexaG7", "--rate", "57600"}, fixed(57600), 0,
       "1024kB FLASH\r\n57600 baud is not possible without Duzedadoridido\r\n"},
      // A rate the line does not have is refused; the found rate stays.
      {g7.upload, g7_module, requested(1000, 1000), 1, ": it is not possible to change baudrate to 1000 baud\r\nprogram file "},
      // A programming-only run has read no model line: the verify takes the
      // start of region 2 from the header (16384 here, where a VexaG6 has 32768).
      {file("s.DF", g7_as_g6), {"--framed", "--rate", "230400"},
       verified([](LinkRun& ctx) { ctx.settings.model = -1; ctx.settings.region1_size = 0; }), 1,
       "\r100% Ok\r\nReady: Vexa is programed,  1970 bytes used, 1046606 bytes free\r\n"},
      // A model name the table does not have leaves the model selected.
      {bare("Nothing"), {}, [](LinkRun& ctx) { ctx.settings.model = base::find_model("VexaG6"); }, 1, "\r\nconnecting VexaG6 on "},
  });
  ::unsetenv("VEXA_COM7");
  // A framed chunk is tried 100 times before the transfer stops where it
  // did: the module dies at the first record, in the first chunk, which it
  // has acknowledged already.
  CapturedContext cc;
  Programming p = program(cc, g6.upload, {"--rate", "230400", "--framed", "--fault", "stop-write:2"}, requested(0, 500));
  EXPECT_TRUE(ends_with(p.console, "\r  7%\r\nERROR: Cannot program DATA-FLASH at filepos 255 !\r\n")) << p.console;
  EXPECT_GT(p.sim.stat("rx"), 100 * 258);
  // The first record's write command (write 1 is the protection test's) is
  // refused: the transfer stops after a whole chunk.
  p = program(cc, big_file, {"--rate", "57600", "--fault", "error:2"});
  std::size_t at = p.console.rfind("\r\nERROR: Cannot program DATA-FLASH at filepos ");
  ASSERT_TRUE(at != std::string::npos && ends_with(p.console, " !\r\n")) << p.console;
  EXPECT_EQ(std::stol(p.console.substr(at + 46)) % 8, 0);
}

// The fault loop: a whole programming run with verify on, repeated with one
// fault of the line or the module at operation N for N = 1, 2, 3 ... until N
// passes the end of the run. Every run must either succeed with the right
// flash or fail with one of the run's messages, within its time-outs.
struct Loop {
  bool framed;
  const char* kind;
  bool absorbed;  // Duzedadoridido repeats what was lost: nearly every run succeeds
  long tick_us = 250;
  long first = 1, step = 1;  // the N tried
};

void PrintTo(const Loop& loop, std::ostream* out) { *out << (loop.framed ? "framed " : "plain ") << loop.kind; }

class FaultLoop : public testing::TestWithParam<Loop> {};

TEST_P(FaultLoop, EveryRunProgramsOrFailsWithItsMessage) {
  const Loop& loop = GetParam();
  const test::Compiled& g7 = link_case("link-upload-g7");
  CapturedContext cc;
  // Both modules are found at 230400; the plain one is switched down to
  // 19200 (the most a VexaG7 takes), the framed one up to 460800. With ticks
  // this short a loaded machine may let the module read the change command
  // only after the compiler has switched, so it takes bytes at any rate here.
  auto run = [&](const std::string& fault, long tick_us) {
    Args args = {"--model", "VexaG7", "--rate", "230400", "--flash-kb", "64", "--any-rate", "--gap-ms",
                 std::to_string(std::max(1L, tick_us / 60))};
    if (loop.framed) args.push_back("--framed");
    if (!fault.empty()) args.insert(args.end(), {"--fault", fault});
    return program(cc, g7.upload, args, verified(requested(loop.framed ? 460800 : 0, tick_us)));
  };
  // The clean run says how long a run is. Short ticks can make a run fail on
  // a loaded machine (an answer later than its time-out): it gets longer
  // ticks; for a fault run that is an outcome allowed.
  Programming clean;
  for (int attempt = 0; attempt < 3 && clean.result != 1; ++attempt) clean = run("", 1000);
  ASSERT_EQ(clean.result, 1) << clean.console;
  // Every message that ends a failed run ends in one of these.
  const char* failures[] = {" !\r\n", ")\r\n", " Duzedadoridido\r\n", "\r\nERROR during verify\r\n"};
  int succeeded = 0, failed = 0;
  for (long n = loop.first;; n += loop.step) {
    std::string fault = loop.kind + ":"s + std::to_string(n);
    ASSERT_LT(n, 4 * clean.sim.stat("ops") + 20) << "the fault keeps firing";
    Programming p = run(fault, loop.tick_us);
    // A failing packet is tried 100 times, each try waiting for the ACK and
    // an answer; writes give up after a second; more for a loaded machine.
    EXPECT_LT(p.milliseconds, 16 * loop.tick_us + 6000) << fault;
    if (p.result == 1) {
      ASSERT_GE(p.sim.flash.size(), g7.object.size());
      EXPECT_TRUE(std::equal(g7.object.begin(), g7.object.end(), p.sim.flash.begin())) << fault << ": flash wrong";
    } else {
      EXPECT_TRUE(std::any_of(std::begin(failures), std::end(failures), [&](auto f) { return ends_with(p.console, f); }))
          << fault << " failed without its message:\n" << p.console;
    }
    if (p.sim.stat("fired") == 0) break;  // past the end of the run
    ++(p.result == 1 ? succeeded : failed);
  }
  std::printf("%d runs programmed, %d failed with a message\n", succeeded, failed);
  if (loop.absorbed) { EXPECT_GT(succeeded, 4 * failed); }
}

// A silent module makes the packet then under way wait out all its tries;
// the odd and the even N run as two tests, side by side.
INSTANTIATE_TEST_SUITE_P(
    Link, FaultLoop,
    testing::Values(Loop{false, "drop", false}, Loop{false, "corrupt", false}, Loop{false, "bad-answer", false},
                    Loop{false, "lose-answer", false}, Loop{false, "error", false}, Loop{false, "stop", false},
                    Loop{false, "unplug", false}, Loop{true, "drop", true}, Loop{true, "corrupt", true},
                    Loop{true, "noack", false}, Loop{true, "bad-answer", true}, Loop{true, "lose-answer", false},
                    Loop{true, "error", true}, Loop{true, "stop", false, 150, 1, 2},
                    Loop{true, "stop", false, 150, 2, 2}, Loop{true, "unplug", false}),
    [](const testing::TestParamInfo<Loop>& info) {
      std::string name = (info.param.framed ? "Framed_"s : "Plain_"s) + info.param.kind + "_" + std::to_string(info.param.first);
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace
}  // namespace vexa::link
