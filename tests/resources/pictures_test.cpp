// The picture-like resource directives compiled in process: the bytes they
// store, the lines they write, and what they refuse. Every expected byte is
// worked out here from the block and record layouts.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/dataflash.h"
#include "resources/import.h"
#include "resources/store.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using test::ByteList;
using test::CapturedContext;

const std::string i14(14, ' ');
const std::string i15(15, ' ');

using test::Rows;

constexpr Bgr red = rgb(255, 0, 0), blue = rgb(0, 0, 255), white = rgb(255, 255, 255), green = rgb(0, 255, 0);

// The 8 x 2 picture of three exact 5-6-5 colours: the top row red, the
// bottom row four blue and four white pixels.
ByteList three_colour_picture() {
  return test::bmp24_rows({test::Row(8, red), {blue, blue, blue, blue, white, white, white, white}});
}

TEST(Picture, StoresTheBlockAndWritesItsLines) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), three_colour_picture());
  c.compile_lines("VexaG6\nPICTURE 4 [2] <./p.bmp>  ; logo\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // Depth 24 drops to 16 (exact colours: no error to spread), then to the 3
  // colours in the order the stored rows meet them: blue, white, red. Rows of
  // 4 bytes are run-length coded: 22 22 22 22 -> 83 22; 00 00 11 11 -> 81 00 81 11.
  ByteList expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 4, 0, 0, 3, 0, 3, 1, 1, 8, 0, 2, 0,
                       0x1F, 0x00, 0xFF, 0xFF, 0x00, 0xF8,        // palette
                       8, 0, 2, 0, 36, 0, 0, 0x80,                // frame: 8 x 2 at 36, coded
                       0x83, 0x22, 0x81, 0x00, 0x81, 0x11};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_pictures, 2, 4), expected);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_pictures].bytes, 42);
  EXPECT_EQ(c.ctx->macro.page, 2);  // the header's page is current
  std::string lines = "Import Picture <" + c.dir.file("p.bmp") + ">\r\n" + i15 +
                      "change colordepth 24-bit -> 16-bit with dithering\r\n" + i15 +
                      "only 3 colors are used: change colordepth->4-bit\r\n" + i15 +
                      "size: 8x2 dots, colordepth: 4-bit, 42 bytes\r\n";
  EXPECT_NE(c.console().find(lines), std::string::npos) << c.console();
}

TEST(Picture, MakeTransparentPicksThePixelOfItsNumber) {
  // 10 x 5 white with a green bottom-right pixel: 9 picks column 9, row 4.
  Rows rows = test::plain_rows(10, 5, white);
  rows[4][9] = green;
  for (int n : {9, 1}) {
    CapturedContext c;
    test::write_file(c.dir.file("t.bmp"), test::bmp24_rows(rows));
    c.compile_lines("VexaG6\nMAKETRANSPARENT " + std::to_string(n) + "\nPICTURE 0,<./t.bmp>\n");
    ASSERT_EQ(c.errors(), 0) << c.console();
    ByteList b = test::stored_resource(*c.ctx, driver::kind_pictures, 0, 0);
    ASSERT_GT(b.size(), 26u);
    // Two colours with transparency stay at 4 bits: white 0, green 1 (the
    // bottom row is met first, left to right).
    // Bytes 10 to 13: depth, transparency, the key's index, table size.
    EXPECT_EQ(ByteList(b.begin() + 10, b.begin() + 14), (ByteList{4, 1, static_cast<std::uint8_t>(n == 9 ? 1 : 0), 2}));
    EXPECT_EQ(ByteList(b.begin() + 22, b.begin() + 26), (ByteList{0xFF, 0xFF, 0xE0, 0x07}));
    EXPECT_NE(c.console().find("only 2 colors and transparency is used: change colordepth->4-bit"), std::string::npos);
  }
}

TEST(Button, TwoFilesShareOnePalette) {
  CapturedContext c;
  test::write_file(c.dir.file("up.bmp"), test::bmp24_rows({{red, red, blue, blue}}));
  test::write_file(c.dir.file("down.bmp"), test::bmp24_rows({{blue, blue, white, white}}));
  c.compile_lines("VexaG6\nBUTTON 9,<./up.bmp> <./down.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // The sheet holds up.bmp's row first: red, blue, white. Rows of 2 bytes
  // are too short to code.
  ByteList expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 4, 0, 0, 3, 0, 3, 1, 2, 4, 0, 1, 0,
                       0x00, 0xF8, 0x1F, 0x00, 0xFF, 0xFF,
                       4, 0, 1, 0, 44, 0, 0, 0,
                       4, 0, 1, 0, 46, 0, 0, 0,
                       0x00, 0x11, 0x11, 0x22};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_buttons, 0, 9), expected);
  // A wildcard sequence of the same two files stores the same block.
  test::write_file(c.dir.file("k1.bmp"), test::bmp24_rows({{red, red, blue, blue}}));
  test::write_file(c.dir.file("k2.bmp"), test::bmp24_rows({{blue, blue, white, white}}));
  c.compile_lines("BUTTON 11,<./k?.bmp>\n", "seq.txt");
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_buttons, 0, 11), expected);
  std::string lines = "Import Button <" + c.dir.file("up.bmp") + ">\r\n" + i14 + "<" + c.dir.file("down.bmp") +
                      ">\r\n" + i15 + "only 3 colors are used: change colordepth->4-bit\r\n" + i14 +
                      "size: 4x1 dots, colordepth: 4-bit, 48 bytes\r\n";
  EXPECT_NE(c.console().find(lines), std::string::npos) << c.console();

  // A 1-bit and a 24-bit file are harmonised through one sheet: white, black
  // (the 1-bit file's row comes first), red, blue.
  test::write_file(c.dir.file("mono.bmp"), test::bmp_indexed(1, {white, rgb(0, 0, 0)}, {{0, 0, 1, 1}}));
  c.compile_lines("BUTTON 10,<./mono.bmp><./up.bmp>\n", "more.txt");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList mixed = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 4, 0, 0, 4, 0, 3, 1, 2, 4, 0, 1, 0,
                    0xFF, 0xFF, 0x00, 0x00, 0x00, 0xF8, 0x1F, 0x00,
                    4, 0, 1, 0, 46, 0, 0, 0,
                    4, 0, 1, 0, 48, 0, 0, 0,
                    0x00, 0x11, 0x22, 0x33};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_buttons, 0, 10), mixed);
}

// A 24 x 24 4-bit picture whose pixels hold the number of their 8 x 8 tile
// (plus offset), with 16 distinct colours.
ByteList tiled_border(int offset, std::vector<Bgr>& table) {
  table.clear();
  for (int i = 0; i < 16; ++i) table.push_back(rgb(i * 16, 255 - i * 8, i * 4));
  std::vector<std::vector<int>> rows(24, std::vector<int>(24));
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 24; ++x) rows[y][x] = (y / 8) * 3 + x / 8 + offset;
  return test::bmp_indexed(4, table, rows);
}

TEST(Border, RecordOfTilesAndPalette) {
  CapturedContext c;
  std::vector<Bgr> table;
  test::write_file(c.dir.file("b1.bmp"), tiled_border(0, table));
  test::write_file(c.dir.file("b2.bmp"), tiled_border(7, table));
  c.compile_lines("VexaG6\nBORDER 1,<./b1.bmp>\nBORDER 2 [1] <./b1.bmp><./b2.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // Image count, table size, two zero bytes, the 5-6-5 table, then 64
  // index bytes per tile.
  ByteList one = {1, 16, 0, 0};
  for (Bgr e : table) {
    const int w = ((e.red & 0xF8) << 8) | ((e.green & 0xFC) << 3) | (e.blue >> 3);
    one.insert(one.end(), {static_cast<std::uint8_t>(w), static_cast<std::uint8_t>(w >> 8)});
  }
  ByteList two = one;
  two[0] = 2;
  for (int tile = 0; tile < 9; ++tile) one.insert(one.end(), 64, static_cast<std::uint8_t>(tile));
  two.insert(two.end(), one.begin() + 36, one.end());
  for (int tile = 0; tile < 9; ++tile) two.insert(two.end(), 64, static_cast<std::uint8_t>(tile + 7));
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_borders, 0, 1), one);
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_borders, 1, 2), two);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_borders].bytes, 612 + 1188);

  // 256 colours would store an entry count of 0 and no palette: refused.
  Rows rows = test::plain_rows(24, 24, white);
  for (int i = 0; i < 256; ++i) rows[static_cast<std::size_t>(i / 24)][static_cast<std::size_t>(i % 24)] = rgb(i, 0, 0);
  test::write_file(c.dir.file("many.bmp"), test::bmp24_rows(rows));
  test::write_file(c.dir.file("small.bmp"), test::bmp24_plain(24, 23, white));
  c.compile_lines("BORDER 3,<./many.bmp>\nBORDER 4,<./b1.bmp><./small.bmp>\n", "more.txt");
  EXPECT_TRUE(test::has_error(c, 1, "Border with 256 colors is not supported (max. 255) !")) << c.console();
  EXPECT_TRUE(test::has_error(c, 2, "only 24x24 Border are supported !"));
  EXPECT_EQ(c.errors(), 2);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_borders].count, 2);
}

TEST(Pattern, RecordOfIndicesAndTransparency) {
  CapturedContext c;
  std::vector<std::vector<int>> checker(8, std::vector<int>(8));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) checker[y][x] = (x + y) % 2;
  test::write_file(c.dir.file("c.bmp"), test::bmp_indexed(1, {white, rgb(0, 0, 0)}, checker));
  Rows rows = test::plain_rows(8, 8, green);
  rows[3][3] = red;
  rows[4][4] = blue;
  test::write_file(c.dir.file("t.bmp"), test::bmp24_rows(rows));
  c.compile_lines("VexaG6\nPATTERN 1,<./c.bmp>\nMAKETRANSPARENT 1\nPATTERN 2,<./t.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList one = {2, 0, 0, 0xFF, 0xFF, 0x00, 0x00};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) one.push_back(static_cast<std::uint8_t>((x + y) % 2));
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_patterns, 0, 1), one);
  // Green (transparent, the top-left pixel) is met first from the bottom
  // row, then blue (row 4), then red (row 3).
  ByteList two = {3, 1, 0, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0xF8};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) two.push_back(rows[y][x] == green ? 0 : (rows[y][x] == blue ? 1 : 2));
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_patterns, 0, 2), two);
}

TEST(Numbering, MessagesOfEveryKindAndTheRestCompiles) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), three_colour_picture());
  c.compile_lines(
      "VexaG6\n"
      "PICTURE <./p.bmp>\n"          // 2
      "PICTURE 1,2,<./p.bmp>\n"      // 3
      "PICTURE 300,<./p.bmp>\n"      // 4
      "PICTURE 0,<./p.bmp>\n"        // 5: fine
      "PICTURE 0,<./p.bmp>\n"        // 6: taken
      "PICTURE 0 [5] <./p.bmp>\n"    // 7: other page, fine
      "BUTTON -1,<./p.bmp>\n"        // 8
      "BORDER 0,<./p.bmp>\n"         // 9
      "PATTERN 256,<./p.bmp>\n"      // 10
      "BUTTON\n"                     // 11
      "PATTERN 3 [16] <./p.bmp>\n"); // 12: page 0, then the size check
  // The whole block once: file, line, message and the line's text.
  EXPECT_TRUE(test::contains(c.console(), "--->ERROR in file <" + c.dir.file("test.txt") +
                                              ">\r\n--->LINE 2: no Picturenumber !\r\n--->'PICTURE <./p.bmp>'\r\n\r\n"))
      << c.console();
  const std::pair<int, const char*> errors[] = {{3, "too many parameters !"},
                                                {4, "Picturenumber 300 is wrong, (allowed: 0..255) !"},
                                                {6, "Picturenumber 0 already exists !"},
                                                {8, "Buttonnumber -1 is wrong, (allowed: 0..255) !"},
                                                {9, "Bordernumber 0 is wrong, (allowed: 1..255) !"},
                                                {10, "Patternnumber 256 is wrong, (allowed: 1..255) !"},
                                                {11, "no Buttonnumber !"},
                                                {12, "Pagenumber 16 is wrong, (allowed: 0..15) !"},
                                                {12, "only 8x8 pattern are supported !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << ": " << message;
  EXPECT_EQ(c.errors(), 10);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_pictures].count, 2);
  EXPECT_EQ(c.ctx->flash.resource_pos, 84);
  for (int k = 0; k < limits::resource_kinds; ++k)
    if (k != driver::kind_pictures) {
      EXPECT_EQ(c.ctx->flash.resource_stats[static_cast<std::size_t>(k)].count, 0);
    }
}

TEST(Import, FilesSequencesAndTheirLimits) {
  CapturedContext c;
  for (const char* name : {"s1.bmp", "s2.bmp", "s3.bmp", "w40x20.bmp"})
    test::write_file(c.dir.file(name), test::bmp24_plain(40, 20, red));
  test::write_file(c.dir.file("w40x21.bmp"), test::bmp24_plain(40, 21, red));
  test::write_file(c.dir.file("bad.bmp"), "BM not a bitmap");
  c.compile_lines(
      "VexaG6\n"
      "PICTURE 1,<./s1.bmp> <./s2.bmp>\n"      // 2: too many files
      "BUTTON 1,<./s?.bmp>\n"                  // 3: three files found
      "BUTTON 2,<./missing.bmp>\n"             // 4
      "BUTTON 3,<./s1.bmp><./bad.bmp>\n"       // 5
      "BUTTON 4,<./w40x20.bmp><./w40x21.bmp>\n"  // 6
      "BORDER 5\n"                             // 7
      "BUTTON 6,<./s?.bmp\n"                   // 8: s1 s2 s3, no closing '>'
      "BUTTON 7,<./s[12].bmp>,<./s3.bmp>\n");  // 9: not a sequence: cannot load
  std::string out = c.console();
  std::string s1 = c.dir.file("s1.bmp"), s2 = c.dir.file("s2.bmp"), s3 = c.dir.file("s3.bmp");
  EXPECT_NE(out.find("Import Picture <" + s1 + ">\r\n" + std::string(15, ' ') + "<" + s2 + ">\r\n"), std::string::npos);
  EXPECT_NE(out.find("Import Button <" + s1 + ">\r\n" + i14 + "<" + s2 + ">\r\n" + i14 + "<" + s3 + ">\r\n"),
            std::string::npos);
  const std::pair<int, std::string> errors[] = {{2, "too much files (max 1)!"},
                                                {3, "too much files (max 2)!"},
                                                {4, "cannot load Button <" + c.dir.file("missing.bmp") + "> !"},
                                                {5, "cannot load Button <" + c.dir.file("bad.bmp") + "> !"},
                                                {6, "Only two Buttons with the same size are allowed!"},
                                                {7, "Cannot found a Filename !"},
                                                {8, "too much files (max 2)!"},
                                                {9, "cannot load Button <" + c.dir.file("s[12].bmp") + "> !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << ": " << message;
  EXPECT_EQ(c.errors(), 8);
  EXPECT_EQ(c.ctx->flash.resource_pos, 0);
  EXPECT_EQ(c.ctx->work_set.count, 0);  // released after every directive
}

TEST(Import, AnimatedFilesWhereOneOrTwoImagesAreTaken) {
  std::string gif = test::testdata("gif-peterdn/animated_loop.gif");  // 4 frames
  if (gif.empty()) GTEST_SKIP() << "image corpora not present";
  CapturedContext c;
  c.compile_lines("VexaG6\nBUTTON 1,<" + gif + ">\nMacro 1\n#UL 1,2,<" + gif + ">\n");
  EXPECT_TRUE(test::has_error(c, 2, "too much images in file (max 2)!")) << c.console();
  EXPECT_TRUE(test::has_error(c, 4, "it is only possible to load single Bitmaps !"));
  EXPECT_EQ(c.errors(), 2);
  EXPECT_EQ(c.ctx->flash.resource_pos + c.ctx->flash.image_pos, 0);
}

// The module's reading of a 1-bit block's first image, top row first.
std::vector<std::vector<int>> decode_1_bit(const ByteList& b) {
  int w = b[22] | b[23] << 8, h = b[24] | b[25] << 8;
  std::size_t at = static_cast<std::size_t>(b[26] | b[27] << 8 | b[28] << 16);
  bool coded = (b[29] & 0x80) != 0;
  std::size_t row_bytes = static_cast<std::size_t>((w + 7) / 8);
  std::vector<std::vector<int>> pixels;
  for (int y = 0; y < h; ++y) {
    ByteList row;
    while (row.size() < row_bytes) {
      int control = coded ? b.at(at++) : 0;  // raw rows read as literal runs of one byte
      std::size_t n = static_cast<std::size_t>(control & 0x7F) + 1;
      for (std::size_t k = 0; k < n; ++k) row.push_back(b.at(control & 0x80 ? at : at + k));
      at += control & 0x80 ? 1 : n;
    }
    std::vector<int> line;
    for (int x = 0; x < w; ++x) line.push_back((row[static_cast<std::size_t>(x / 8)] >> (7 - x % 8)) & 1);
    pixels.push_back(line);
  }
  return pixels;
}

TEST(BigResources, PlaceholdersReplaceWhatExceedsTheLimit) {
  CapturedContext c;
  Rows rows(30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) rows[y].push_back(rgb(x * 4, y * 8, (x * y) & 0xF8));
  test::write_file(c.dir.file("g.bmp"), test::bmp24_rows(rows));
  c.compile_lines(
      "VexaG6\n"
      "DISABLEBIGIMAGES 1 \"B\"\n"
      "PICTURE 1,<./g.bmp>\n"  // letters without P: stored as it is
      "DISABLEBIGIMAGES 1\n"
      "PICTURE 2,<./g.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList kept = test::stored_resource(*c.ctx, driver::kind_pictures, 0, 1);
  EXPECT_EQ(kept[10], 16);
  EXPECT_GT(kept.size(), 1024u);

  ByteList dummy = test::stored_resource(*c.ctx, driver::kind_pictures, 0, 2);
  ASSERT_GT(dummy.size(), 38u);
  // 1 bit with the picture colours (100,0,0) and (255,0,0) in 5-6-5.
  EXPECT_EQ(ByteList(dummy.begin(), dummy.begin() + 22),
            (ByteList{0x1B, 'U', 'L', 0x00, 0x60, 0x00, 0xF8, 'G', '1', '6', 1, 0, 1, 0, 0, 3, 1, 1, 60, 0, 30, 0}));
  EXPECT_NE(c.console().find(i15 + "size: 60x30 dots, colordepth: 16-bit, " + std::to_string(kept.size()) +
                             " bytes\r\n" + i15 + "Picture > 1kB, replace with a small dummy image, " +
                             std::to_string(dummy.size()) + " bytes\r\n"),
            std::string::npos)
      << c.console();
  std::vector<std::vector<int>> p = decode_1_bit(dummy);
  ASSERT_EQ(p.size(), 30u);
  int caption = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) {
      const bool edge = x == 0 || y == 0 || x == 59 || y == 29, in_caption = y >= 2 && y < 10 && x >= 4;
      if (edge || !in_caption) {
        EXPECT_EQ(p[y][x], edge ? 1 : 0) << x << "," << y;
      } else {
        caption += p[y][x];
      }
    }
  EXPECT_GT(caption, 20);  // "picture 2" in an 8-pixel face
}

TEST(StoreResource, AResourceThatNoLongerFitsIsRefused) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), three_colour_picture());
  // Earlier resources have filled the area up to 60 bytes before its end:
  // the 42-byte picture fits once, not twice.
  std::vector<std::uint8_t> filler(limits::work_area - 60, 0);
  ASSERT_TRUE(driver::append_to_area(c.ctx->flash.resources, c.ctx->flash.resource_pos, filler.data(), filler.size()));
  c.compile_lines("VexaG6\nPICTURE 1,<./p.bmp>\nPICTURE 2,<./p.bmp>\nSTRING 1,\"ok\"\n");
  EXPECT_TRUE(test::has_error(c, 3, "DATA-FLASH memory overflow !")) << c.console();
  EXPECT_EQ(c.errors(), 1);
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_pictures, 0, 1).size(), 42u);
  EXPECT_TRUE(resource_free(*c.ctx, driver::kind_pictures, 0, 2));
  EXPECT_EQ(c.ctx->flash.resource_pos, static_cast<int>(limits::work_area) - 60 + 42 + 3);
}

}  // namespace
}  // namespace vexa::resources
