// The programs as a user runs them: the simulator's command line, and vexac
// programming the simulated module with the real ticks of 10 ms.
#include "link_harness.h"

namespace vexa::link {
namespace {

TEST(Vexasim, UsageAndWrongOptions) {
  test::ProcessResult help = test::run_process({VEXASIM_PATH, "--help"}, "");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.out.starts_with("usage: vexasim [options]\n")) << help.out;
  for (std::vector<std::string> args : {std::vector<std::string>{VEXASIM_PATH, "--speed"}, {VEXASIM_PATH, "--model"},
                                        {VEXASIM_PATH, "--rate", "1000"}, {VEXASIM_PATH, "--fault", "stop:0"}}) {
    test::ProcessResult r = test::run_process(args, "");
    EXPECT_EQ(r.exit_code, 2) << args[1];
    EXPECT_TRUE(r.err.starts_with("vexasim: ") && r.err.find(args.back()) != std::string::npos && r.out.empty()) << r.err;
  }
  // A signal ends it as the end of its input does: with its results written.
  test::TempDir dir;
  test::ProcessResult r = test::run_process(
      {"/bin/sh", "-c", "mkfifo in; " VEXASIM_PATH " --flash-kb 2 --dump flash <in >path & exec 3>in; "
                        "while [ ! -s path ]; do sleep 0.01; done; kill $!; wait $!; echo $?"}, dir.path);
  EXPECT_EQ(r.out + std::to_string(test::read_bytes(dir.file("flash")).size()), "0\n2048");
}

TEST(CompileAndProgram, TheLinkCaseInOneRunOrFromItsUploadFile) {
  // Compiled and programmed in one run with VERIFY, found by the scan and
  // switched to 460800, with standard error as a front-end, which is told
  // the outcome; the upload file alone in plain mode, with no directive read.
  const struct {
    std::vector<std::string> sim, args;
    std::string directives, console;
  } runs[] = {
      {{"--framed", "--rate", "230400"}, {"main.txt", "-b460800", "-m2"}, "VERIFY\r\n",
       "\r\nconnecting VexaG6 on COM1\r\n.\r\nfound: VexaG6 480x272, color, Duzedadoridido, 64kB FLASH, 230400 baud"
       "\r\nprogram file main.DF with 460800 baud\r\n"},
      {{"--rate", "57600"}, {"main.DF", "-b57600"}, "AUTOSCAN 0\r\nVERIFY\r\n",
       "\r\nconnecting VexaG6 on COM1\r\n...\r\nfound: VexaG6 480x272, color, 64kB FLASH, 57600 baud\r\n"
       "program file main.DF\r\n"},
  };
  for (const auto& run : runs) {
    test::TempDir dir;
    std::filesystem::copy(VEXA_SOURCE_DIR "/tests/projects/link-upload-g6", dir.path,
                          std::filesystem::copy_options::recursive);
    std::string text = test::read_file(dir.file("main.txt"));
    test::write_file(dir.file("main.txt"), text.insert(text.find('\n') + 1, run.directives));
    const std::vector<std::uint8_t> object = test::compile_in(dir.path).object;
    test::Simulator sim;
    std::vector<std::string> sim_args = run.sim, args = run.args;
    sim_args.insert(sim_args.end(), {"--flash-kb", "64"});
    args.push_back("-c1");
    ASSERT_TRUE(sim.start(sim_args));
    test::ProcessResult r = test::run_vexac(args, dir.path, {"VEXA_COM1=" + sim.device});
    test::SimulatorResult module = sim.finish();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find(run.console), std::string::npos) << r.out;
    EXPECT_TRUE(test::ends_with(r.out, "\r100% Ok\r\nReady: Vexa is programed,  3148 bytes used, 62388 bytes free\r\n"));
    EXPECT_EQ(r.out.find("Verify:") != std::string::npos, args[0] == "main.txt");  // only there is VERIFY read
    EXPECT_EQ(module.stat("ends"), 1);
    test::expect_programmed(module, object);
    if (!r.err.empty()) { EXPECT_EQ(test::window_texts(r.err).back(), std::make_pair(std::string("R E A D Y"), 3)); }
  }
}

TEST(CompileAndProgram, AFailedProgrammingEndsTheRunWithCodeTwo) {
  // A port that cannot be opened, and a module that stops answering: the
  // compile itself was fine, so the front-end is told the error and a script
  // sees exit code 2.
  test::TempDir dir;
  std::filesystem::copy(VEXA_SOURCE_DIR "/tests/projects/link-upload-g6", dir.path,
                        std::filesystem::copy_options::recursive);
  std::string text = test::read_file(dir.file("main.txt"));
  test::write_file(dir.file("main.txt"), text.insert(text.find('\n') + 1, "AUTOSCAN 0\r\n"));
  test::ProcessResult r = test::run_vexac({"main.txt", "-c/dev/null/none"}, dir.path);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.out.find("\r\nERROR: cannot open /dev/null/none: !\r\n"), std::string::npos) << r.out;
  test::Simulator sim;
  ASSERT_TRUE(sim.start({"--rate", "19200", "--fault", "stop:1"}));
  r = test::run_vexac({"main.txt", "-m2", "-c1", "-b19200"}, dir.path, {"VEXA_COM1=" + sim.device});
  sim.finish();
  EXPECT_EQ(r.exit_code, 2);
  std::vector<std::pair<std::string, int>> texts = test::window_texts(r.err);
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], std::make_pair(std::string("ERROR: not found !\r\n"), 3));
  EXPECT_EQ(texts.back(), std::make_pair(std::string("E R R O R"), 3));
  EXPECT_EQ(r.out.find("<RETURN>"), std::string::npos);
}

TEST(CompileAndProgram, OnATerminalTheRateAndTimeLeftShow) {
  // Plain mode at 19200 baud takes a few seconds: the line is rewritten with
  // the rate and the time left, and the last one sums the phase up.
  test::TempDir dir;
  std::filesystem::copy(VEXA_SOURCE_DIR "/tests/projects/link-upload-g6", dir.path,
                        std::filesystem::copy_options::recursive);
  ASSERT_EQ(test::run_vexac({"main.txt", "-o"}, dir.path).exit_code, 0);
  test::Simulator sim;
  ASSERT_TRUE(sim.start({"--rate", "19200", "--flash-kb", "64"}));
  test::ProcessResult r = test::run_on_terminal({"main.DF", "-c" + sim.device, "-b19200"}, dir.path);
  sim.finish();
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const std::size_t rate = r.out.find(" bytes/s, 0:0");
  EXPECT_NE(rate, std::string::npos) << r.out;
  EXPECT_EQ(r.out.compare(rate + 14, 7, " left  "), 0) << r.out.substr(rate);
  // The phase's bytes are the upload file's records, headers and all.
  const std::size_t last = r.out.find("\r100% Ok  3383 bytes in ");
  ASSERT_NE(last, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" s, ", last), std::string::npos);
  EXPECT_NE(r.out.find("Ready: Vexa is programed,  3148 bytes used", last), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vexa::link
