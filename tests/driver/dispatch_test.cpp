#include <gtest/gtest.h>

#include "driver/paths.h"
#include "test_support.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;

// Compiles lines and returns the console; the context stays for inspection.
std::string compile(CapturedContext& c, const std::string& text) {
  c.compile_lines(text);
  return c.console();
}

bool has(const std::string& out, const std::string& text) { return out.find(text) != std::string::npos; }

TEST(Dispatch, NumericSettingsWithRangesAndMessages) {
  CapturedContext c;
  std::string out = compile(c,
                            "MAXCOLORDEPTH 8\nMAXCOLORDEPTH 5\nMAXCOLORDEPTH\n"
                            "MAKETRANSPARENT 9\nMAKETRANSPARENT 10\n"
                            "COMPRESSION 5\n"
                            "CODETABLE 2\nCODETABLE 256\n"
                            "DITHERING 3\nDITHERING 4\n"
                            "DORLE 1\nDORLE 3\n"
                            "DOGAMMA 1\nDOGAMMA 2\n"
                            "ALPHATHRESHOLD 7\nALPHATHRESHOLD 256\n"
                            "REMOVEBORDER 0\nREMOVEBORDER 5\n"
                            "EXPORTOVERVIEW $301\n"
                            "EXPORTWINFONT 1\nEXPORTWINFONT 2\n"
                            "LOGFONTWIDTH 4\n"
                            "AUTOSCAN 0\nAUTOSCAN 2\n"
                            "CHECKWRITEPROTECT 0\nCHECKWRITEPROTECT 2\n"
                            "RS485ADR 12\nRS485ADR 256\nRS485ADR\n");
  const Settings& s = c.ctx->settings;
  EXPECT_EQ((std::vector<int>{s.max_colour_depth, s.make_transparent, s.compress, s.code_table, s.dithering, s.rle_mode,
                              s.gamma, s.alpha_threshold, s.remove_border, s.export_overview, s.export_winfont,
                              s.font_width, s.autoscan, s.check_write_protect, s.rs485_address}),
            (std::vector<int>{8, 9, 5, 2, 3, 1, 1, 7, 0, 0x301, 1, 4, 0, 0, 12}));
  EXPECT_TRUE(has(out, "--->LINE 2: wrong parameter (allowed 1,4,8,16) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 3: missing parameter\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 5: wrong parameter (allowed 0..9) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 8: wrong parameter (allowed 0..255) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 10: wrong parameter (allowed: 0..3) !\r\n"));
  EXPECT_TRUE(has(out,
                  "--->LINE 12: wrong parameter (allowed: 0=RLE off; 1=RLE always on; 2=RLE automatic if smaller) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 14: wrong parameter (allowed: 0=off; 1=on) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 16: wrong parameter (allowed: 0..255) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 18: wrong parameter (allowed: 0..4) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 21: wrong parameter (allowed 0 or 1) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 24: wrong parameter (allowed: 0=off; 1=on) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 26: wrong parameter (allowed: 0=off; 1=on) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 28: wrong RS485 address (allowed 0..255) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 29: there is no RS485 address !\r\n"));
  EXPECT_EQ(c.errors(), 14);
}

TEST(Dispatch, KeywordPrefixesAndLineKinds) {
  CapturedContext c;
  std::string out = compile(c,
                            "maxsize 100,50\n"       // before a model: refused
                            "MAXS 100,50\n"          // shorter than the prefix
                            "COMX\n"
                            "; comment\n// comment\n123\n   \n"
                            "DestXYZ <out.DF>\n"
                            "OBJECTFILE\nVERIFYING\n"
                            "PICTURE 1,<a=xy.bmp>\n"  // an assignment, because of the '='
                            "STRING\n");
  EXPECT_TRUE(has(out, "--->LINE 1: no vexa defined !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 2: Unknown Command !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 3: Unknown Command !\r\n"));
  EXPECT_EQ(c.ctx->settings.upload_file, current_directory() + "out.DF");
  EXPECT_TRUE(c.ctx->settings.write_object);
  EXPECT_TRUE(c.ctx->settings.verify);
  EXPECT_TRUE(has(out, "--->LINE 11: Constant \"xy\" not defined !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 12: no Stringnumber !\r\n"));
  EXPECT_EQ(c.errors(), 5);
}

TEST(Dispatch, DestinationWithoutNameLeavesNoUploadName) {
  CapturedContext c;
  c.ctx->settings.upload_file = "kept.DF";
  std::string out = compile(c, "DESTINATION\n");
  EXPECT_TRUE(has(out, "--->LINE 1: Cannot found a Filename !\r\n"));
  EXPECT_EQ(c.ctx->settings.upload_file, "");
}

TEST(Dispatch, ModelLineAndMaxSize) {
  CapturedContext c;
  std::string out = compile(c,
                            "VexaG6 <Demo#1>\n"
                            "MAXSIZE 100,50\n"
                            "MAXSIZE 100,50,0\n"
                            "MAXSIZE 481,50\n"
                            "MAXSIZE 100,300\n"  // the width bounds both values
                            "MAXSIZE\nMAXSIZE 5\n"
                            "VexaNothing <other>\n");
  const Settings& s = c.ctx->settings;
  EXPECT_EQ((std::vector<int>{s.model, s.region1_size, s.max_width, s.max_height, s.resize}),
            (std::vector<int>{15, 32768, 100, 300, 1}));
  EXPECT_EQ(s.project_name, "other");  // a model line that names no model still reads the project name
  EXPECT_TRUE(has(out, "--->LINE 4: wrong values (allowed 1..480) !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 6: missing maxX,maxY values\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 7: missing maxY value\r\n"));
  EXPECT_EQ(c.errors(), 3);

  CapturedContext g7;
  compile(g7, "vexag7\nMAXSIZE 10,10,0\n");
  const Settings& t = g7.ctx->settings;
  EXPECT_EQ((std::vector<int>{t.model, t.region1_size, t.max_width, t.max_height, t.resize}),
            (std::vector<int>{16, 16384, 10, 10, 0}));
}

TEST(Dispatch, BigImagesInstrumentParametersAndPaths) {
  CapturedContext c;
  std::string out = compile(c,
                            "DISABLEBIGIMAGES 10\n"
                            "INSTRUMENTPARAM -90,90\n"
                            "DISABLEBIGIMAGE 3\n"  // whole word only
                            "DISABLEBIGIMAGES\n");
  EXPECT_EQ(c.ctx->settings.big_limit, 10240);
  EXPECT_EQ(c.ctx->settings.big_kinds, "FPBAI");
  EXPECT_EQ(c.ctx->settings.instrument, (std::array<int, 4>{-90, 90, 5, 123456}));
  EXPECT_TRUE(has(out, "--->LINE 3: Unknown Command !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 4: missing parameter\r\n"));

  CapturedContext q;
  compile(q, "DISABLEBIGIMAGES 2 \"PA\"\nINSTRUMENTPARAM 1,2,3,4,5\n");
  EXPECT_EQ(q.ctx->settings.big_kinds, "PA");
  EXPECT_EQ(q.ctx->settings.instrument, (std::array<int, 4>{1, 2, 3, 4}));
  CapturedContext r;
  compile(r, "DISABLEBIGIMAGES 2 x\nPATH\n");
  EXPECT_EQ(r.ctx->settings.big_kinds, "");  // something follows, but no quoted text
  EXPECT_TRUE(has(r.console(), "--->LINE 2: Cannot found a Path !\r\n"));
}

TEST(Dispatch, ComAndUsbKeepEarlierChoices) {
  CapturedContext c;
  c.ctx->settings.com_port = 5;
  c.ctx->settings.baud = 19200;
  compile(c, "COM3,9600\n");
  EXPECT_EQ(std::make_pair(c.ctx->settings.com_port, c.ctx->settings.baud), std::make_pair(5, 19200));

  CapturedContext d;
  std::string out = compile(d, "COM3,1000\nCOM4:57600\n");
  EXPECT_EQ(std::make_pair(d.ctx->settings.com_port, d.ctx->settings.baud), std::make_pair(3, 57600));
  EXPECT_TRUE(has(out, "--->LINE 1: baudrate 1000 is not supported !\r\n"));

  CapturedContext u;
  compile(u, "USB \"Programmer X\"\n");
  EXPECT_EQ(u.ctx->settings.usb_name, "Programmer X");
  EXPECT_EQ(u.ctx->settings.baud, 230400);
  CapturedContext v;
  out = compile(v, "AUTOSCAN 0\nUSB 'Programmer X'\nUSB 1234 \"p\"\n");
  EXPECT_EQ(v.ctx->settings.baud, 115200);
  EXPECT_TRUE(has(out, "--->LINE 2: Cannot found a USB/COM name !\r\n"));
  EXPECT_TRUE(has(out, "--->LINE 3: baudrate 1234 is not supported !\r\n"));
  CapturedContext w;
  compile(w, "USB 9600 \"p\"\n");
  EXPECT_EQ(w.ctx->settings.baud, 9600);
}

TEST(Dispatch, SimulationNeedsAModelOrAName) {
  CapturedContext c;
  std::string out = compile(c, "SIMULATION\nVexaG6\nSIMULATION\n");
  EXPECT_TRUE(has(out, "--->LINE 1: no vexa defined !\r\n"));
  EXPECT_EQ(c.ctx->settings.simulator, executable_directory() + "VexaG6.EXE");
  CapturedContext d;
  compile(d, "SIMULATIONS <./sim/run.exe>\n");
  EXPECT_EQ(d.ctx->settings.simulator, d.dir.path + "/sim/run.exe");
}

TEST(Dispatch, CodeTableLines) {
  CapturedContext c;
  std::string out = compile(c,
                            "'ab'=65\n"        // two characters, one value
                            "'ab'=65,66\n"
                            "CODETABLE 2\n"
                            "\"a\"=$41\n"
                            "'abc'=$41,'BC'\n"
                            "'x'\n"
                            "'y=1\n");
  const auto& t1 = c.ctx->code_tables.tables[1];
  const auto& t2 = c.ctx->code_tables.tables[2];
  EXPECT_EQ(t1['a'], 65);
  EXPECT_EQ(t1['b'], 66);
  EXPECT_EQ(t1['c'], 'c');
  EXPECT_EQ(t2['a'], 0x41);
  EXPECT_EQ(t2['b'], 'B');
  EXPECT_EQ(t2['c'], 'C');
  const char* message = "valid syntax to define new character codes write e.g. 'a'=65  or  'abc'=$41,'BC'\r\n";
  EXPECT_TRUE(has(out, std::string("--->LINE 1: ") + message));
  EXPECT_TRUE(has(out, std::string("--->LINE 6: ") + message));
  EXPECT_TRUE(has(out, std::string("--->LINE 7: ") + message));
  EXPECT_EQ(c.errors(), 3);
}

TEST(Dispatch, CommentAfterSemicolonIsCutButShownInErrors) {
  CapturedContext c;
  std::string out = compile(c, "NOSUCH 1 ; my comment\nSTRING 1,\"a;b\"\n");
  EXPECT_TRUE(has(out, "--->'NOSUCH 1 ; my comment'\r\n"));
  // STRING keeps its ';'.
  const auto& dir = c.ctx->flash.directories[kind_strings];
  ASSERT_TRUE(entry_used(dir.data() + resource_entry(0, 1)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.ctx->flash.resources.data()), 4), std::string("a;b\0", 4));
}

TEST(Dispatch, StringResources) {
  CapturedContext c;
  std::string out = compile(c,
                            "STRING 1,\"Hello\",13,10\n"
                            "STRING 14 [3] \"page\",0,\"cut\"\n"
                            "STRING 10,\"x\"\nSTRING 13,\"x\"\nSTRING 0,\"x\"\nSTRING 256,\"x\"\n"
                            "STRING 1,\"again\"\n");
  const auto& area = c.ctx->flash.resources;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(area.data()), 11), std::string("Hello\0page\0", 11));
  EXPECT_EQ(c.ctx->flash.resource_pos, 11);
  EXPECT_EQ(get_u24(c.ctx->flash.directories[kind_strings].data() + resource_entry(3, 14)), 6u);
  EXPECT_EQ(c.ctx->flash.resource_stats[kind_strings].count, 2);
  const char* wrong = ", (allowed: 1..255, without 10+13 because end of string code) !\r\n";
  for (int n : {10, 13, 0, 256})
    EXPECT_TRUE(has(out, "Stringnumber " + std::to_string(n) + " is wrong" + wrong)) << n;
  EXPECT_TRUE(has(out, "--->LINE 7: Stringnumber 1 already exists !\r\n"));
}

}  // namespace
}  // namespace vexa::driver
