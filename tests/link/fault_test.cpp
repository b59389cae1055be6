// The fault loop: a whole programming run with VERIFY on, repeated with one
// fault of the line or the module at operation N for N = 1, 2, 3 ... until
// N passes the end of the run. Every run must either succeed with the right
// flash or fail with one of the run's messages, and end within its
// time-outs.

#include <chrono>

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

// The last line of a failed run is one of these.
const char* const failure_lines[] = {
    "ERROR: not found !\r\n",
    ")\r\n",  // the wrong or unknown module, whose text ends with the module in brackets
    " bytes are needed)\r\n",
    " baud is not possible without Duzedadoridido\r\n",
    " is write protected !\r\n",
    "\r\nERROR: Timeout (CTS) !\r\n",
    " !\r\n",  // Cannot program DATA-FLASH at filepos %ld !
    "\r\nERROR during verify\r\n",
};

struct Setup {
  bool framed;
  std::vector<std::string> sim_args;
  long baud;  // requested rate, 0: the one found
};

// Both modules are found at 230400 by the scan; the plain one is switched
// down to 57600 (the most it can do), the framed one up to 460800. The
// simulator takes bytes at any rate here: with ticks this short, a module
// that a loaded machine lets read the change command only after the
// compiler has switched would otherwise drop it as garbage (the switch
// itself is tested with realistic ticks elsewhere).
Setup setup_for(bool framed) {
  if (framed) return {true, {"--framed", "--rate", "230400", "--flash-kb", "64", "--any-rate"}, 460800};
  return {false, {"--rate", "230400", "--flash-kb", "64", "--any-rate"}, 0};
}

struct Run {
  int result = -1;
  std::string console;
  SimulatorResult sim;
  long milliseconds = 0;
};

// One context serves all runs of a loop (building one takes longer than a
// run); each run starts from fresh settings and link state.
Run program_with(CapturedContext& cc, const Setup& setup, const std::string& file,
                 const std::vector<std::string>& fault, long tick_us) {
  Run run;
  Simulator sim;
  std::vector<std::string> args = setup.sim_args;
  args.insert(args.end(), fault.begin(), fault.end());
  args.insert(args.end(), {"--gap-ms", std::to_string(std::max(1L, tick_us * 50 / 3000))});
  EXPECT_TRUE(sim.start(args));
  Context& ctx = *cc.ctx;
  std::size_t console_before = cc.console().size();
  ctx.settings = driver::Settings{};
  ctx.link = LinkState{};
  ctx.link.tick_us = tick_us;
  ctx.settings.upload_file = file;
  ctx.settings.com_device = sim.device;
  ctx.settings.baud = static_cast<int>(setup.baud);
  ctx.settings.verify = true;
  auto start = std::chrono::steady_clock::now();
  run.result = program_module(ctx);
  run.milliseconds = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
  run.console = cc.console().substr(console_before);
  run.sim = sim.finish();
  return run;
}

bool ends_with_failure(const std::string& console) {
  for (const char* line : failure_lines)
    if (test::ends_with(console, line)) return true;
  return false;
}

// Runs the loop for one kind of fault, with N = first, first + step, ...
// until N lies past the end of the run (the fault no longer fires).
void fault_loop(bool framed, const std::string& kind, long tick_us, long first = 1, long step = 1) {
  UploadImage image = test::random_image(1100, 100);
  TempDir dir;
  std::string file = dir.file("loop.DF");
  test::write_file(file, image.upload_file());
  Setup setup = setup_for(framed);
  std::vector<std::uint8_t> object = image.object();
  CapturedContext cc;

  // The short ticks can make a run fail on a loaded machine (an answer
  // later than its time-out): for a fault run that is one of the outcomes
  // allowed; the clean run, which says how long a run is, uses longer ticks.
  Run clean;
  for (int attempt = 0; attempt < 3 && clean.result != 1; ++attempt) clean = program_with(cc, setup, file, {}, 1000);
  ASSERT_EQ(clean.result, 1) << clean.console;
  long operations = clean.sim.stat("ops");
  // The longest a run may take: a failing packet is tried 100 times, each
  // try waiting at most for the ACK and an answer; writes give up after a
  // second; a few more seconds for starting the simulator and a loaded machine.
  long bound_ms = 16000L * tick_us / 1000 + 6000;
  int succeeded = 0, failed = 0;
  for (long n = first;; n += step) {
    SCOPED_TRACE(kind + ":" + std::to_string(n));
    ASSERT_LT(n, 4 * operations + 20) << "the fault keeps firing";
    Run run = program_with(cc, setup, file, {"--fault", kind + ":" + std::to_string(n)}, tick_us);
    EXPECT_LT(run.milliseconds, bound_ms);
    if (run.result == 1) {
      ASSERT_GE(run.sim.flash.size(), object.size());
      EXPECT_TRUE(std::equal(object.begin(), object.end(), run.sim.flash.begin()))
          << "programmed and verified, but the flash is wrong";
    } else {
      EXPECT_EQ(run.result, 0);
      EXPECT_TRUE(ends_with_failure(run.console)) << "failed without its message:\n" << run.console;
    }
    if (run.sim.stat("fired") == 0) break;  // past the end of the run
    ++(run.result == 1 ? succeeded : failed);
  }
  std::printf("%s %s: %d runs programmed, %d failed with a message\n", framed ? "framed" : "plain", kind.c_str(),
              succeeded, failed);
}

// Plain mode cannot repeat anything: most faults end in a message.
TEST(FaultLoop, PlainDroppedBytes) { fault_loop(false, "drop", 250); }
TEST(FaultLoop, PlainChangedBytes) { fault_loop(false, "corrupt", 250); }
TEST(FaultLoop, PlainDamagedAnswers) { fault_loop(false, "bad-answer", 250); }
TEST(FaultLoop, PlainLostAnswers) { fault_loop(false, "lose-answer", 250); }
TEST(FaultLoop, PlainRefusedWrites) { fault_loop(false, "error", 250); }
TEST(FaultLoop, PlainSilentModule) { fault_loop(false, "stop", 250); }
TEST(FaultLoop, PlainUnpluggedLine) { fault_loop(false, "unplug", 250); }

// Duzedadoridido repeats packets: many faults are absorbed.
TEST(FaultLoop, FramedDroppedBytes) { fault_loop(true, "drop", 250); }
TEST(FaultLoop, FramedChangedBytes) { fault_loop(true, "corrupt", 250); }
TEST(FaultLoop, FramedLostAcks) { fault_loop(true, "noack", 250); }
TEST(FaultLoop, FramedDamagedAnswers) { fault_loop(true, "bad-answer", 250); }
TEST(FaultLoop, FramedLostAnswers) { fault_loop(true, "lose-answer", 250); }
TEST(FaultLoop, FramedRefusedChunks) { fault_loop(true, "error", 250); }
// A silent module makes the packet then under way wait out all its tries;
// the odd and the even N run as two tests, side by side.
TEST(FaultLoop, FramedSilentModuleOddN) { fault_loop(true, "stop", 150, 1, 2); }
TEST(FaultLoop, FramedSilentModuleEvenN) { fault_loop(true, "stop", 150, 2, 2); }
TEST(FaultLoop, FramedUnpluggedLine) { fault_loop(true, "unplug", 250); }

}  // namespace
}  // namespace vexa::link
