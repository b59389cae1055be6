// Fonts compiled in process: stored blocks worked out byte by byte from the
// bitmap block layout, the font checks and their messages, the width listing,
// the sharing of placeholder glyphs, the WinFont parameter syntax, and the
// WINFONT directive on an installed face.
#include <gtest/gtest.h>

#include <string>

#include "driver/dataflash.h"
#include "resources/fonts.h"
#include "stored_resources.h"
#include "test_support.h"

namespace vexa::resources {
namespace {

using test::ByteList;
using test::CapturedContext;

const std::string i12(12, ' '), i15(15, ' ');

// A 1-bit BMP glyph (colour 0 white, colour 1 black) from rows given top
// first, '#' for ink.
ByteList glyph_bmp(const std::vector<std::string>& rows) {
  std::vector<std::vector<int>> ink;
  for (const std::string& row : rows) {
    ink.emplace_back();
    for (char dot : row) ink.back().push_back(dot == '#' ? 1 : 0);
  }
  return test::bmp_indexed(1, {rgb(255, 255, 255), rgb(0, 0, 0)}, ink);
}

using test::contains;

// A context whose exports go to its folder and whose log is a file there.
struct FontContext : CapturedContext {
  FontContext() {
    ctx->settings.macro_directory = dir.path + "/";
    ctx->out.log = std::fopen(dir.file("test.log").c_str(), "wb");
  }
  std::string log() {
    std::fflush(ctx->out.log);
    return test::read_file(dir.file("test.log"));
  }
  int fonts_stored() const { return ctx->flash.resource_stats[driver::kind_fonts].count; }
};

TEST(Font, GlyphFilesAndFxtFilesGiveExactBlocks) {
  FontContext c;
  test::write_file(c.dir.file("g1.bmp"), glyph_bmp({"#.#", ".#."}));
  test::write_file(c.dir.file("g2.bmp"), glyph_bmp({"#####", "#...#"}));
  test::write_file(c.dir.file("mono.fxt"), "65\n.#.\n#.#\n###\n66\n##.\n###\n##.\n");
  c.compile_lines("FONT 4 [1] <./g?.bmp>\nFONT 5,<./mono.fxt>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // Widths 3 and 5, one height: proportional (flags 2). Single files fill
  // numbers from 1 on. Rows of one byte stay raw under automatic coding.
  const ByteList proportional = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 1, 0, 0, 0, 0, 2, 1, 2, 5, 0, 2, 0,
                                 3, 0, 2, 0, 38, 0, 0, 0,
                                 5, 0, 2, 0, 40, 0, 0, 0,
                                 0xA0, 0x40, 0xF8, 0x88};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_fonts, 1, 4), proportional);
  const ByteList monospaced = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 1, 0, 0, 0, 0, 3, 65, 66, 3, 0, 3, 0,
                               3, 0, 3, 0, 38, 0, 0, 0,
                               3, 0, 3, 0, 41, 0, 0, 0,
                               0x40, 0xA0, 0xE0, 0xC0, 0xE0, 0xC0};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_fonts, 0, 5), monospaced);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_fonts].bytes, 42 + 44);
  const std::string lines = "Import Font <" + c.dir.file("g1.bmp") + ">\r\n" + i12 + "<" + c.dir.file("g2.bmp") +
                            ">\r\n" + i12 + "height: 2 dots, used codes: 1..2, 42 bytes\r\n" + "Import Font <" +
                            c.dir.file("mono.fxt") + ">\r\n" + i12 +
                            "size: 3x3 dots, used codes: 65..66, 44 bytes\r\n";
  EXPECT_TRUE(contains(c.console(), lines)) << c.console();
  EXPECT_EQ(c.log(), c.console());
}

TEST(Font, NumberingAndFontLimits) {
  FontContext c;
  test::write_file(c.dir.file("tall.fxt"), "65\n##\n##\n66\n##\n##\n##\n");
  test::write_file(c.dir.file("w255.fxt"), "65\n" + std::string(255, '#') + "\n");
  test::write_file(c.dir.file("w256.fxt"), "65\n" + std::string(256, '#') + "\n");
  c.compile_lines("FONT\n"
                  "FONT 256,<./w255.fxt>\n"
                  "FONT 1,<./tall.fxt>\n"
                  "FONT 2,<./w256.fxt>\n"
                  "FONT 3,<./w255.fxt>\n"
                  "FONT 3,<./w255.fxt>\n"
                  "FONT 4,5,<./w255.fxt>\n");
  const std::pair<int, const char*> errors[] = {{1, "no Fontnumber !"},
                                                {2, "Fontnumber 256 is wrong, (allowed: 0..255) !"},
                                                {3, "different height ! (only fonts with the same height are allowed)"},
                                                {4, "font is to big! (max. 255x255 dots)"},
                                                {6, "Fontnumber 3 already exists !"},
                                                {7, "too many parameters !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << c.console();
  EXPECT_TRUE(contains(c.console(), i12 + "size: 255x1 dots, used codes: 65..65, "));
  EXPECT_EQ(c.errors(), 6);
  EXPECT_EQ(c.fonts_stored(), 1);
  EXPECT_TRUE(test::stored_resource(*c.ctx, driver::kind_fonts, 0, 1).empty());
}

TEST(Font, WidthListing) {
  // Ten glyphs of codes 30 to 40 without 33, widths 1 to 10, height 2.
  ImageSet set;
  set.first_number = 30;
  set.count = 11;
  for (int code = 30, width = 1; code <= 40; ++code)
    if (code != 33) {
      ASSERT_TRUE(create_image(set.images[static_cast<std::size_t>(code)], width++, 2, 1));
    }
  BitmapBlock block;
  ASSERT_TRUE(encode_bitmap(set, block, 0, 0));
  const std::string blanks(19, ' ');
  EXPECT_EQ(width_listing(block, 4), "             width: 30:---=  1   31:---=  2   32:' '=  3   34:'\"'=  4  \r\n" +
                                         blanks + " 35:'#'=  5   36:'$'=  6   37:'%'=  7   38:'&'=  8  \r\n" + blanks +
                                         " 39:'''=  9   40:'('= 10  \r\n");
  // A full last line still opens the next one.
  EXPECT_EQ(width_listing(block, 10).substr(19 + 10 * 13), "\r\n" + blanks + "\r\n");
  EXPECT_EQ(width_listing(block, 0), "");
}

TEST(ShareDummyGlyphs, HandBuiltBlock) {
  // Codes 32 to 38: the space, then glyphs of widths 4, 6, 4, a gap, 6, 5.
  const int widths[7] = {4, 4, 6, 4, 0, 6, 5};
  const int sizes[7] = {2, 2, 3, 2, 0, 3, 4};
  BitmapBlock block;
  block.block.assign(22 + 7 * 8, 0);
  block.block[16] = 32;
  block.block[17] = 38;
  std::uint32_t at = 78;
  for (int i = 0; i < 7; ++i) {
    std::uint8_t* e = block.block.data() + 22 + 8 * i;
    e[0] = static_cast<std::uint8_t>(widths[i]);
    e[2] = 2;
    if (widths[i] == 0) continue;
    e[4] = static_cast<std::uint8_t>(at);
    e[7] = static_cast<std::uint8_t>(0x10 + i);
    for (int k = 0; k < sizes[i]; ++k) block.block.push_back(static_cast<std::uint8_t>(16 * i + k + 1));
    at += static_cast<std::uint32_t>(sizes[i]);
  }
  block.block_size = static_cast<std::uint32_t>(block.block.size());
  ASSERT_EQ(block.block_size, 94u);

  share_dummy_glyphs(block);
  // The space keeps its data but lends it to no one: code 33 keeps its own.
  // Code 35 (width 4) takes code 33's data and flag byte, 37 takes 34's;
  // code 38 moves down behind the kept data.
  std::vector<std::uint32_t> offsets, flags;
  for (int i = 0; i < 7; ++i) {
    offsets.push_back(driver::get_u24(block.block.data() + 22 + 8 * i + 4));
    flags.push_back(block.block[static_cast<std::size_t>(22 + 8 * i + 7)]);
  }
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{78, 80, 82, 80, 0, 82, 85}));
  EXPECT_EQ(flags, (std::vector<std::uint32_t>{0x10, 0x11, 0x12, 0x11, 0, 0x12, 0x16}));
  EXPECT_EQ(block.block_size, 89u);
  EXPECT_EQ(ByteList(block.block.begin() + 78, block.block.begin() + 89),
            (ByteList{0x01, 0x02, 0x11, 0x12, 0x21, 0x22, 0x23, 0x61, 0x62, 0x63, 0x64}));
}

TEST(ShareDummyGlyphs, BigFontKeepsTheSpaceAndOneGlyphPerWidth) {
  FontContext c;
  // Codes 32 to 37 of widths 4, 4, 6, 4, 6, 6 and height 8.
  std::string fxt;
  const int widths[6] = {4, 4, 6, 4, 6, 6};
  for (int i = 0; i < 6; ++i) {
    fxt += std::to_string(32 + i) + "\n";
    for (int r = 0; r < 8; ++r) fxt += std::string(static_cast<std::size_t>(widths[i]), r == i ? '#' : '.') + "\n";
  }
  test::write_file(c.dir.file("d.fxt"), fxt);
  c.compile_lines("DISABLEBIGIMAGES 0\nFONT 7,<./d.fxt>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  const ByteList stored = test::stored_resource(*c.ctx, driver::kind_fonts, 0, 7);
  ASSERT_EQ(stored.size(), 22u + 6 * 8 + 3 * 8);  // three placeholders of 8 one-byte rows
  std::vector<std::uint32_t> offsets;
  for (int i = 0; i < 6; ++i) offsets.push_back(driver::get_u24(stored.data() + 22 + 8 * i + 4));
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{70, 78, 86, 78, 86, 86}));
  // The space is blank, the width-4 placeholder has its top and bottom lines
  // over the whole row and the middle line from column 1 to 2.
  EXPECT_EQ(ByteList(stored.begin() + 70, stored.begin() + 78), ByteList(8, 0));
  EXPECT_EQ(ByteList(stored.begin() + 78, stored.begin() + 86), (ByteList{0xF0, 0, 0, 0, 0x60, 0, 0, 0xF0}));
  EXPECT_TRUE(contains(c.console(), i15 + "Font > 0kB, replace with small dummy images, 94 bytes\r\n")) << c.console();
}

TEST(Font, OverviewExports) {
  FontContext c;
  test::write_file(c.dir.file("g1.bmp"), glyph_bmp({"#.#", ".#."}));
  test::write_file(c.dir.file("g2.bmp"), glyph_bmp({"#####", "#...#"}));
  c.compile_lines("EXPORTOVERVIEW $300\nFONT 2,<./g1.bmp><./g2.bmp>\nEXPORTOVERVIEW $301\nFONT 1,<./g1.bmp><./g2.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // Without bit 0 nothing is exported.
  EXPECT_FALSE(test::file_exists(c.dir.file("Font2_g1_bmp_1-2.G16")) || test::file_exists(c.dir.file("Font2_g1_bmp_1-2.bmp")));
  // The G16 file is the stored block.
  EXPECT_EQ(test::read_bytes(c.dir.file("Font1_g1_bmp_1-2.G16")),
            test::stored_resource(*c.ctx, driver::kind_fonts, 0, 1));
  EXPECT_TRUE(test::file_exists(c.dir.file("Font1_g1_bmp_001.bmp")) && test::file_exists(c.dir.file("Font1_g1_bmp_002.bmp")));
  const ByteList sheet = test::read_bytes(c.dir.file("Font1_g1_bmp_1-2.bmp"));
  ASSERT_GT(sheet.size(), 30u);
  EXPECT_EQ(sheet[28], 1);  // a 1-bit font gives a monochrome sheet
  EXPECT_TRUE(contains(c.console(), "Export Overview <" + c.dir.file("Font1_g1_bmp_1-2.bmp") + ">\r\n\r\n"));
}

using Ranges = std::vector<std::pair<int, int>>;

TEST(WinFontParameters, Syntax) {
  struct Case {
    std::string text;
    int charset, bold;
    Ranges ranges;
    int size;
  };
  const Case cases[] = {
      {"", 0, 0, {{32, 127}}, 24},
      {",204,1", 204, 1, {{32, 127}}, 24},
      // Without '-' or '+' the codes are one range, the size follows; a
      // first code alone keeps the default last code.
      {", 0, 0, $20, $7e, 16", 0, 0, {{32, 126}}, 16},
      {",0,0,65", 0, 0, {{65, 127}}, 24},
      // A negative charset is read before the list is looked for.
      {",-1,0,$410,$42F,20", -1, 0, {{0x410, 0x42F}}, 20},
      // Lists: single codes and first-last pairs joined by '+'.
      {",-128,0,$410-$42F+$401+$451,20", -128, 0, {{0x410, 0x42F}, {0x401, 0x401}, {0x451, 0x451}}, 20},
      {" ,0 ,1 ,48 - 57 + 65 - 90 ,12", 0, 1, {{48, 57}, {65, 90}}, 12},
      {",0,0,32-126", 0, 0, {{32, 126}}, 24},
      // Codes are 16 bits wide.
      {",-1,0,$10041,$10042", -1, 0, {{0x41, 0x42}}, 24},
  };
  for (const Case& c : cases) {
    imagefiles::WinFontParameters p;
    ASSERT_EQ(parse_winfont_parameters(c.text, p), 1) << c.text;
    Ranges ranges;
    for (const auto& range : p.ranges) ranges.emplace_back(range.first, range.last);
    EXPECT_EQ(p.charset, c.charset) << c.text;
    EXPECT_EQ(p.bold, c.bold) << c.text;
    EXPECT_EQ(ranges, c.ranges) << c.text;
    EXPECT_EQ(p.size, c.size) << c.text;
  }
  // At most 256 ranges.
  std::string list = ",0,0,1";
  for (int i = 2; i <= 256; ++i) list += "+" + std::to_string(i);
  imagefiles::WinFontParameters p;
  ASSERT_EQ(parse_winfont_parameters(list + ",9", p), 1);
  EXPECT_EQ(p.ranges.size(), 256u);
  EXPECT_EQ(p.size, 9);
  EXPECT_EQ(parse_winfont_parameters(list + "+257", p), 0);
}

// Whether fontconfig has the face the WinFont tests render.
bool have_face(Context& ctx) {
  std::string error;
  imagefiles::Face* face =
      imagefiles::open_face(ctx.fonts, "DejaVu Sans", "", imagefiles::weight_normal, 16, error);
  return face != nullptr && face->family == "DejaVu Sans";
}

TEST(WinFont, StoredBlockLinesAndExports) {
  FontContext c;
  if (!have_face(*c.ctx)) GTEST_SKIP() << "DejaVu Sans is not installed";
  c.compile_lines("EXPORTWINFONT 1\nWINFONT 2 [3],\"DejaVu Sans\",0,1,65+87+105,12\n"
                  "EXPORTOVERVIEW 1\nWINFONT 3,\"DejaVu Sans\",-200,0,$41-$42\n"
                  "FONT 2 [3],<./none.fxt>\n");
  const std::string out = c.console();
  EXPECT_EQ(c.errors(), 1) << out;
  EXPECT_TRUE(contains(out, "--->LINE 5: Fontnumber 2 already exists !\r\n"));

  const ByteList block = test::stored_resource(*c.ctx, driver::kind_fonts, 3, 2);
  ASSERT_GT(block.size(), 22u + 41 * 8);
  // 1 bit, proportional (A, W and i differ in width), codes 65 to 105, height 12.
  EXPECT_EQ(ByteList(block.begin(), block.begin() + 11), (ByteList{0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 1}));
  EXPECT_EQ(ByteList(block.begin() + 15, block.begin() + 18), (ByteList{2, 65, 105}));
  EXPECT_EQ(get_u16(block.data() + 20), 12);
  auto width = [&](int code) { return get_u16(block.data() + 22 + 8 * (code - 65)); };
  for (int code = 66; code <= 104; ++code)
    if (code != 87) {
      EXPECT_EQ(width(code), 0) << code;
    }
  EXPECT_GT(width(87), width(65));
  EXPECT_GT(width(65), width(105));
  EXPECT_TRUE(contains(out, "Import WinFont \"DejaVu Sans\", ANSI, Bold\r\n" + i12 + "height: 12 dots, used codes: 65..105, " +
                           std::to_string(block.size()) + " bytes\r\n"))
      << out;

  // The FXT listing reads back as the stored glyphs' sizes.
  const std::string fxt = c.dir.file("Font2_DejaVu Sans_12_ANSI_B_65-105.fxt");
  EXPECT_TRUE(contains(out, "Export FXT-Font <" + fxt + ">\r\n\r\n"));
  EXPECT_TRUE(test::file_exists(fxt));

  // Unicode mode: the glyphs are numbered from 200; with the overview the
  // listing line has no empty line after it.
  const std::string base = c.dir.file("Font3_DejaVu Sans_24_UNICODES_N_200-201");
  EXPECT_TRUE(contains(out, "Import WinFont \"DejaVu Sans\", UNICODES\r\n" + i12));
  EXPECT_TRUE(contains(out, "used codes: 200..201, ")) << out;
  EXPECT_TRUE(contains(out, "Export FXT-Font <" + base + ".fxt>\r\nExport Overview <" + base + ".bmp>\r\n\r\n")) << out;
  EXPECT_TRUE(test::file_exists(base + ".bmp"));
}

TEST(WinFont, Failures) {
  FontContext c;
  if (!have_face(*c.ctx)) GTEST_SKIP() << "DejaVu Sans is not installed";
  std::string many = "WINFONT 6,\"DejaVu Sans\",0,0,1";
  for (int i = 2; i <= 257; ++i) many += "+" + std::to_string(i);
  c.compile_lines("WINFONT\n"
                  "WINFONT 300,\"DejaVu Sans\"\n"
                  "WINFONT 1,\"DejaVu Sans\",0,0,250-256\n"
                  "WINFONT 2,\"DejaVu Sans\",0,0,0,31\n"
                  "WINFONT 3,\"DejaVu Sans\",-250,0,$410-$42F\n"
                  "WINFONT 4, DejaVu Sans\n" +
                  many + "\n");
  // Codes 0 to 31 have no glyphs in the face; 32 glyphs numbered from 250
  // end at 281; a line without a quoted face name is dropped without a message.
  const std::pair<int, const char*> errors[] = {{1, "no Fontnumber !"},
                                                {2, "Fontnumber 300 is wrong, (allowed: 0..255) !"},
                                                {3, "too many characters: last code=256 (max. 255) !"},
                                                {4, "cannot import WinFont \"DejaVu Sans\" !"},
                                                {5, "too many characters: last code=281 (max. 255) !"},
                                                {7, "too many code ranges (max. 256) !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << c.console();
  EXPECT_FALSE(contains(c.console(), "LINE 6"));
  EXPECT_EQ(c.errors(), 6);
  EXPECT_EQ(c.fonts_stored(), 0);
  EXPECT_TRUE(c.ctx->fonts.faces.size() <= 1u);  // only the probe's face stays open
}

}  // namespace
}  // namespace vexa::resources
