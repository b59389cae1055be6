// The settings that only a picture, a font or a module would show: their
// values after the directives and the command line. The messages of these
// lines are pinned by the project corpus.
#include <gtest/gtest.h>

#include "base/paths.h"
#include "driver/run.h"
#include "test_support.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;

TEST(Dispatch, SettingsTakeValuesInRangeOnly) {
  CapturedContext c;
  c.compile_lines(
      "MAXCOLORDEPTH 4\nMAXCOLORDEPTH 5\nMAKETRANSPARENT 9\nMAKETRANSPARENT 10\nCOMPRESSION -5\n"
      "CODETABLE 255\nCODETABLE 256\nDITHERING 3\nDITHERING 4\nDORLE 0\nDORLE 3\nDOGAMMA 1\nDOGAMMA 2\n"
      "ALPHATHRESHOLD 255\nALPHATHRESHOLD -1\nREMOVEBORDER 0\nREMOVEBORDER 5\nEXPORTOVERVIEW $301\n"
      "EXPORTWINFONT 1\nEXPORTWINFONT 2\nLOGFONTWIDTH 4\nAUTOSCAN 0\nAUTOSCAN 2\nCHECKWRITEPROTECT 0\n"
      "CHECKWRITEPROTECT 2\nRS485ADR 255\nRS485ADR 256\nVERIFY\nOBJECTFILE\n"
      "DISABLEBIGIMAGES 10\nINSTRUMENTPARAM -90,90\n");
  const command::Settings& s = c.ctx->settings;
  EXPECT_EQ((std::vector<int>{s.max_colour_depth, s.make_transparent, s.compress, s.code_table, s.dithering, s.rle_mode,
                              s.gamma, s.alpha_threshold, s.remove_border, s.export_overview, s.export_winfont,
                              s.font_width, s.autoscan, s.check_write_protect, s.rs485_address, s.verify,
                              s.write_object, s.big_limit}),
            (std::vector<int>{4, 9, -5, 255, 3, 0, 1, 255, 0, 0x301, 1, 4, 0, 0, 255, 1, 1, 10240}));
  EXPECT_EQ(s.big_kinds, "FPBAI");
  EXPECT_EQ(s.instrument, (std::array<int, 4>{-90, 90, 5, 123456}));
  EXPECT_EQ(c.errors(), 12);

  CapturedContext q;
  q.compile_lines("DISABLEBIGIMAGES 2 \"PA\"\nINSTRUMENTPARAM 1,2,3,4,5\n");
  EXPECT_EQ(q.ctx->settings.big_kinds, "PA");
  EXPECT_EQ(q.ctx->settings.instrument, (std::array<int, 4>{1, 2, 3, 4}));
  CapturedContext r;
  r.compile_lines("DISABLEBIGIMAGES 2 x\n");
  EXPECT_EQ(r.ctx->settings.big_kinds, "");  // something follows, but no quoted text
}

TEST(Dispatch, ModelLineAndMaxSize) {
  CapturedContext c;
  c.compile_lines("VexaG6\nMAXSIZE 100,300\nMAXSIZE 481,50\n");
  const command::Settings& s = c.ctx->settings;
  EXPECT_EQ((std::vector<int>{s.model, s.max_width, s.max_height, s.resize}), (std::vector<int>{15, 100, 300, 1}));
  CapturedContext g7;
  g7.compile_lines("vexag7\nMAXSIZE 10,20,0\n");
  const command::Settings& t = g7.ctx->settings;
  EXPECT_EQ((std::vector<int>{t.model, t.max_width, t.max_height, t.resize}), (std::vector<int>{16, 10, 20, 0}));
  CapturedContext g8;
  g8.compile_lines("VexaG8\n");
  EXPECT_EQ(std::make_pair(g8.ctx->settings.max_width, g8.ctx->settings.max_height), std::make_pair(800, 480));
}

// The first port and baud rate set win: the command line, then earlier lines.
TEST(Dispatch, ComAndUsbKeepEarlierChoices) {
  struct Case {
    const char* lines;
    int port, baud;  // before the lines, as the command line sets them
    int want_port, want_baud;
  };
  const Case cases[] = {
      {"COM3,9600\n", 5, 19200, 5, 19200},
      {"COM3,1000\nCOM4:57600\n", 0, 0, 3, 57600},
      {"COM12\n", 0, 0, 12, 0},
      {"USB \"Programmer X\"\n", 0, 0, 0, 230400},
      {"AUTOSCAN 0\nUSB 'x'\n", 0, 0, 0, 115200},
      {"USB 9600 \"p\"\n", 0, 0, 0, 9600},
      {"USB 1234 \"p\"\n", 0, 0, 0, 230400},
      {"USB 0 \"p\"\nUSB 9600 \"p\"\n", 0, 0, 0, 230400},
  };
  for (const Case& k : cases) {
    CapturedContext c;
    c.ctx->settings.com_port = k.port;
    c.ctx->settings.baud = k.baud;
    c.compile_lines(k.lines);
    EXPECT_EQ(std::make_pair(c.ctx->settings.com_port, c.ctx->settings.baud), std::make_pair(k.want_port, k.want_baud))
        << k.lines;
  }
  CapturedContext u;
  u.compile_lines("USB \"Programmer X\"\n");
  EXPECT_EQ(u.ctx->settings.usb_name, "Programmer X");
}

TEST(Dispatch, SimulationProgramBesideTheCompiler) {
  CapturedContext c;
  c.compile_lines("VexaG6\nSIMULATION\n");
  EXPECT_EQ(c.ctx->settings.simulator, base::executable_directory() + "VexaG6.EXE");
  CapturedContext d;
  d.compile_lines("SIMULATIONS <sim.exe>\n");  // a plain name is taken from the start directory
  EXPECT_EQ(d.ctx->settings.simulator, base::current_directory() + "sim.exe");
  CapturedContext e;
  e.compile_lines("SIMULATION <./sim/run.exe>\n");
  EXPECT_EQ(e.ctx->settings.simulator, e.dir.path + "/sim/run.exe");
}

// Options that only the programming of a module would show.
TEST(Run, CommandLineOptions) {
  CapturedContext c;
  run(*c.ctx, {"-B9600", "-b1000", "-c7", "-cA", "-S1000", c.dir.file("none.txt")});
  EXPECT_EQ((std::vector<int>{c.ctx->settings.baud, c.ctx->settings.com_port, c.ctx->settings.send_block}),
            (std::vector<int>{0, 7, 256}));
  CapturedContext d;
  run(*d.ctx, {"-b19200", "-c/dev/ttyX", "-s1", d.dir.file("none.txt")});
  EXPECT_EQ((std::vector<int>{d.ctx->settings.baud, d.ctx->settings.com_port, d.ctx->settings.send_block}),
            (std::vector<int>{19200, 0, 1}));
  EXPECT_EQ(d.ctx->settings.com_device, "/dev/ttyX");
}

}  // namespace
}  // namespace vexa::driver
