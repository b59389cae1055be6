#include <gtest/gtest.h>

#include "command/macros.h"
#include "driver/dataflash.h"
#include "test_support.h"

namespace vexa::command {
namespace {

using test::CapturedContext;

std::vector<int> entry(const Context& ctx, int kind, int page, int number) {
  const std::uint8_t* e = ctx.flash.macro_tables[static_cast<std::size_t>(kind)].data() + driver::macro_entry(page, number);
  return {static_cast<int>(driver::get_u24(e)), static_cast<int>(driver::get_u24(e + 3))};
}

TEST(Macros, SummaryLinesAndTableEntries) {
  CapturedContext c;
  c.compile_lines(
      "VexaG6\n"
      "Macro: 5\n#TP 1,2;\n"
      "TouchMacro 7 [2]\n#DL;\n#TC 1;\n"
      "Macro: 6\n"  // empty: not recorded
      "Macro 8\n#TP 3,4;\n");
  close_macro(*c.ctx);
  std::string out = c.console();
  EXPECT_NE(out.find("Macro:   5,   1 commands,     5 bytes\r\n"), std::string::npos);
  EXPECT_NE(out.find("TouchMacro:   7[2],   2 commands,     7 bytes\r\n"), std::string::npos);
  EXPECT_EQ(out.find("Macro:   6"), std::string::npos);
  EXPECT_EQ(entry(*c.ctx, driver::kind_macro, 0, 5), (std::vector<int>{0, 5}));
  EXPECT_EQ(entry(*c.ctx, driver::kind_touch, 2, 7), (std::vector<int>{5, 7}));
  EXPECT_EQ(entry(*c.ctx, driver::kind_macro, 0, 8), (std::vector<int>{12, 5}));
  EXPECT_EQ(entry(*c.ctx, driver::kind_macro, 0, 6), (std::vector<int>{0xFFFFFF, 0xFFFFFF}));
  EXPECT_EQ(c.ctx->flash.macro_stats[driver::kind_macro].count, 2);
  EXPECT_EQ(c.ctx->flash.macro_stats[driver::kind_macro].bytes, 10);
  EXPECT_EQ(c.errors(), 0);
}

TEST(Macros, HeaderErrors) {
  CapturedContext c;
  c.compile_lines(
      "VexaG6\n"
      "Macro: 5\n#TP 1,2;\n"
      "Macro: 5\n#TP 1,2;\n"  // taken: the command has no macro
      "Macro 5 [3]\n#TP 1,2;\n"  // other page: fine
      "Macro 5 [3]\n"
      "Macro: 9 [16]\n#DL;\n"   // page error, opens 9 on page 0
      "Macro 10 [2\n"
      "Macro 256\n"
      "Macro\n"
      "Macro -1\n");
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 4: Macronumber 5 already exists !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 5: No Macronumber defined !\r\n"), std::string::npos);
  EXPECT_NE(out.find("Macro:   5[3],   1 commands,     5 bytes\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 8: Macronumber 5 in Page 3 already exists !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 9: Pagenumber 16 is wrong, (allowed: 0..15) !\r\n"), std::string::npos);
  EXPECT_NE(out.find("Macro:   9,   1 commands,     3 bytes\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 11: missing ']'!\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 12: Macronumber 256 is wrong, (allowed: 0..255) !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 13: there is no Macronumber !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 14: Macronumber -1 is wrong, (allowed: 0..255) !\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 8);
}

TEST(Macros, AllKindsAndTheirKeywords) {
  CapturedContext c;
  c.compile_lines(
      "VexaG7\n"
      "PowerOnMacro\n#DL;\nResetMakro\n#DL;\nWatchdogMacro\n#DL;\nBrownOutMacro\n#DL;\n"
      "Makro 1\n#DL;\nTouchmacro 1\n#DL;\nMenuMacro 1\n#DL;\nPORTRAIT 1\n#DL;\nBITMAP 1\n#DL;\n"
      "MatrixMacro 1\n#DL;\nAnalogueMacro 1\n#DL;\nProzessMakro 1\n#DL;\nProcessMacro 2\n#DL;\n");
  close_macro(*c.ctx);
  std::string out = c.console();
  for (const char* line :
       {"PowerOnMacro:   0,", "ResetMacro:   1,", "WatchdogMacro:   2,", "BrownOutMacro:   3,", "Macro:   1,",
        "TouchMacro:   1,", "MenuMacro:   1,", "PortMacro:   1,", "BitMacro:   1,", "MatrixMacro:   1,",
        "AnalogueMacro:   1,", "ProcessMacro:   1,", "ProcessMacro:   2,"})
    EXPECT_NE(out.find(line), std::string::npos) << line;
  for (int k = 0; k < 8; ++k) EXPECT_EQ(c.ctx->flash.macro_stats[static_cast<std::size_t>(k)].count, k == 7 ? 2 : 1);
  EXPECT_EQ(c.ctx->flash.system_stats.count, 4);
  const std::uint8_t* watchdog = c.ctx->flash.system_macros.data() + driver::macro_entry(0, 2);
  EXPECT_EQ(driver::get_u24(watchdog), 6u);  // after two macros of 3 bytes
  EXPECT_EQ(driver::get_u24(watchdog + 3), 3u);
  EXPECT_EQ(c.errors(), 0);

  CapturedContext g6;
  g6.compile_lines("VexaG6\nMenuMacro 1\n");
  EXPECT_NE(g6.console().find("--->LINE 2: Unknown Command !\r\n"), std::string::npos);
}

TEST(Macros, EmptyMacroStaysOpenAcrossAResourceLine) {
  CapturedContext c;
  c.compile_lines("VexaG6\nTouchMacro 7 [2]\nSTRING 1,\"x\"\n#DL;\n");
  close_macro(*c.ctx);
  // The page went back to 0 when the empty macro was closed, the number stayed.
  EXPECT_NE(c.console().find("TouchMacro:   7,   1 commands,     3 bytes\r\n"), std::string::npos);
  EXPECT_EQ(entry(*c.ctx, driver::kind_touch, 0, 7), (std::vector<int>{0, 3}));
}

TEST(Macros, ExportFiles) {
  CapturedContext c;
  std::string bytes45;
  for (int i = 0; i < 45; ++i) bytes45 += (i ? "," : "") + std::to_string(i + 100);
  c.ctx->settings.macro_directory = c.dir.path + "/";
  c.compile_lines("VexaG6\nEXPORTMACRO 3 \"const unsigned char\" <my data.x>\nMacro 5\n#%A " + bytes45 +
                  ";\nEXPORTMACRO 3\nMacro 6 [2]\n#TP 1,2;\nEXPORTMACRO 2\nMacro 7\n#TP 1,2;\n");
  close_macro(*c.ctx);
  std::string include = test::read_file(c.dir.file("my data.h"));
  std::string expected = "/* Macro 5 as include */\n\n#define MY_DATA_LEN  48\n\nconst unsigned char MY_DATA[MY_DATA_LEN] =\n{";
  std::vector<int> all = {27, '%', 'A'};
  for (int i = 0; i < 45; ++i) all.push_back(i + 100);
  for (std::size_t i = 0; i < all.size(); ++i) {
    char piece[16];
    std::snprintf(piece, sizeof piece, i == 0 ? "\n  %3d" : (i % 20 == 0 ? ",\n  %3d" : ",%3d"), all[i]);
    expected += piece;
  }
  expected += "\n};\n";
  EXPECT_EQ(include, expected);
  EXPECT_EQ(test::read_bytes(c.dir.file("MY_DATA.bin")).size(), 48u);
  // Without a base name: kind, number and page; the binary takes the identifier form.
  EXPECT_TRUE(test::file_exists(c.dir.file("Macro_6_page_2.h")));
  EXPECT_EQ(test::read_bytes(c.dir.file("MACRO_6_PAGE_2.bin")), (std::vector<std::uint8_t>{27, 'T', 'P', 1, 2}));
  EXPECT_NE(test::read_file(c.dir.file("Macro_6_page_2.h")).find("\nunsigned char MACRO_6_PAGE_2[MACRO_6_PAGE_2_LEN] ="),
            std::string::npos);
  // Binary only: the plain name.
  EXPECT_TRUE(test::file_exists(c.dir.file("Macro_7.bin")));
  EXPECT_FALSE(test::file_exists(c.dir.file("Macro_7.h")));
}

TEST(Macros, ExportMacroDirectiveErrors) {
  CapturedContext c;
  c.compile_lines("VexaG6\nEXPORTMACRO\nEXPORTMACRO 4 \"int\" <x>\n");
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 2: missing parameter\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 3: wrong parameter (allowed 0..3) !\r\n"), std::string::npos);
  EXPECT_EQ(c.ctx->settings.export_mode, 0);
  EXPECT_EQ(c.ctx->settings.export_type, "int");  // the rest of the line is still read
  EXPECT_EQ(c.ctx->settings.export_name, "x");
}

}  // namespace
}  // namespace vexa::command
