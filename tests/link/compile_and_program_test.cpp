// The whole program against the simulated module: a macro file compiled and
// programmed in one run, and an upload file programmed on its own, with the
// module's flash compared with the object file byte for byte. These runs use
// the real ticks of 10 ms.
#include <gtest/gtest.h>

#include "link_harness.h"

namespace vexa::link {
namespace {

using test::Simulator;
using test::SimulatorResult;
using test::TempDir;

const char* const project =
    "VexaG6 <Link Test>\r\n"
    "%s"
    "PowerOnMacro\r\n#DL;\r\n#TP 1,2;\r\n"
    "Macro 1\r\n#TP 1,2;\r\n#TP 3,4;\r\n"
    "Macro 7 [3]\r\n#TP 5,6;\r\n"
    "TouchMacro 2\r\n#TP 7,8;\r\n";

std::string project_with(const std::string& directives) {
  char text[1024];
  std::snprintf(text, sizeof text, project, directives.c_str());
  return text;
}

// The flash holds the object file; the rest is erased (the protection
// test's inverted byte at the top aside).
void expect_object_in_flash(const SimulatorResult& sim, const std::vector<std::uint8_t>& object) {
  ASSERT_FALSE(object.empty());
  ASSERT_GE(sim.flash.size(), object.size());
  EXPECT_TRUE(std::equal(object.begin(), object.end(), sim.flash.begin())) << "flash differs from the object file";
  for (std::size_t i = object.size(); i + 1 < sim.flash.size(); ++i)
    if (sim.flash[i] != 255) {
      ADD_FAILURE() << "flash byte " << i << " written outside the image";
      break;
    }
}

void compile_and_program(bool framed) {
  for (bool verify : {false, true}) {
    SCOPED_TRACE(verify ? "VERIFY" : "no VERIFY");
    TempDir dir;
    // Plain: a fixed rate, as fast as plain mode goes. Framed: found by the
    // scan at 230400 and switched to 460800.
    std::string directives = verify ? "VERIFY\r\n" : "";
    if (!framed) directives += "AUTOSCAN 0\r\n";
    test::write_file(dir.file("panel.txt"), project_with(directives));
    Simulator sim;
    ASSERT_TRUE(sim.start(framed ? std::vector<std::string>{"--framed", "--rate", "230400", "--flash-kb", "128"}
                                 : std::vector<std::string>{"--rate", "57600", "--flash-kb", "128"}));
    auto r = test::run_vexac({"panel.txt", "-o", "-c1", framed ? "-b460800" : "-b57600"}, dir.path,
                             {"VEXA_COM1=" + sim.device});
    SimulatorResult module = sim.finish();
    EXPECT_EQ(r.exit_code, 0);
    std::string connect = framed ? "\r\nconnecting VexaG6 on COM1\r\n" : "\r\nconnecting VexaG6 on COM1 with 57600 baud\r\n";
    EXPECT_NE(r.out.find(connect), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(framed ? "program file panel.DF with 460800 baud\r\n" : "program file panel.DF\r\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("Ready: Vexa is programed,  "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Verify:") != std::string::npos, verify);
    EXPECT_EQ(module.stat("ends"), 1);
    expect_object_in_flash(module, test::read_bytes(dir.file("panel.DFO")));
  }
}

TEST(CompileAndProgram, PlainMode) { compile_and_program(false); }
TEST(CompileAndProgram, FramedMode) { compile_and_program(true); }

TEST(CompileAndProgram, UploadFileOnItsOwn) {
  TempDir dir;
  test::write_file(dir.file("panel.txt"), project_with("AUTOSCAN 0\r\nVERIFY\r\n"));
  auto compiled = test::run_vexac({"panel.txt", "-o"}, dir.path);
  ASSERT_EQ(compiled.exit_code, 0);
  // No macro file is read now: the directives' settings (VERIFY, AUTOSCAN)
  // keep their defaults, and the model comes from the upload file.
  Simulator sim;
  ASSERT_TRUE(sim.start({"--framed", "--rate", "115200", "--flash-kb", "128"}));
  auto r = test::run_vexac({"panel.DF", "-c/dev/null/none"}, dir.path);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.out.find("\r\nERROR: cannot open /dev/null/none: !\r\n"), std::string::npos) << r.out;
  r = test::run_vexac({"-c" + sim.device, "panel.DF"}, dir.path);
  SimulatorResult module = sim.finish();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\r\nconnecting VexaG6 on " + sim.device + "\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("found: VexaG6 480x272, color, Duzedadoridido, 128kB FLASH, 115200 baud\r\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Ready: Vexa is programed,  "), std::string::npos);
  EXPECT_EQ(r.out.find("Verify:"), std::string::npos);
  expect_object_in_flash(module, test::read_bytes(dir.file("panel.DFO")));
}

TEST(CompileAndProgram, FrontEndSeesTheOutcome) {
  TempDir dir;
  test::write_file(dir.file("panel.txt"), project_with("AUTOSCAN 0\r\n"));
  {
    Simulator sim;
    ASSERT_TRUE(sim.start({"--rate", "19200"}));
    auto r = test::run_vexac({"panel.txt", "-m2", "-c1", "-b19200"}, dir.path, {"VEXA_COM1=" + sim.device});
    sim.finish();
    EXPECT_EQ(r.exit_code, 0);
    std::vector<std::pair<std::string, int>> texts = test::window_texts(r.err);
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ(texts[texts.size() - 2].first.substr(0, 27), "Ready: Vexa is programed,  ");
    EXPECT_EQ(texts.back(), std::make_pair(std::string("R E A D Y"), 3));
  }
  Simulator sim;
  ASSERT_TRUE(sim.start({"--rate", "19200", "--fault", "stop:1"}));
  auto r = test::run_vexac({"panel.txt", "-m2", "-c1", "-b19200"}, dir.path, {"VEXA_COM1=" + sim.device});
  sim.finish();
  EXPECT_EQ(r.exit_code, 2);  // the run could not do what was asked
  std::vector<std::pair<std::string, int>> texts = test::window_texts(r.err);
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts[texts.size() - 3], std::make_pair(std::string("\r\n"), 3));
  EXPECT_EQ(texts[texts.size() - 2], std::make_pair(std::string("ERROR: not found !\r\n"), 3));
  EXPECT_EQ(texts.back(), std::make_pair(std::string("E R R O R"), 3));
  EXPECT_EQ(r.out.find("<RETURN>"), std::string::npos);
}

}  // namespace
}  // namespace vexa::link
