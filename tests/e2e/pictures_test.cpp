// A project of pictures, a button, a border, a pattern and UL compiled by the
// program: the object file's directories, addresses and bytes, the console
// and the log.
#include <gtest/gtest.h>

#include "project_files.h"
#include "test_support.h"

namespace vexa {
namespace {

using test::ByteList;
using test::run_vexac;
using test::TempDir;

ByteList bmp1(int side, const std::vector<std::vector<int>>& rows_top_down) {
  test::BmpSpec spec;
  spec.width = side;
  spec.height = side;
  spec.bits = 1;
  spec.table = {resources::rgb(255, 255, 255), resources::rgb(0, 0, 0)};
  std::size_t stride = (static_cast<std::size_t>(side) + 31) / 32 * 4;
  for (auto row = rows_top_down.rbegin(); row != rows_top_down.rend(); ++row) {
    ByteList bytes(stride, 0);
    for (int x = 0; x < side; ++x) bytes[x / 8] |= static_cast<std::uint8_t>((*row)[x] << (7 - x % 8));
    spec.pixels.insert(spec.pixels.end(), bytes.begin(), bytes.end());
  }
  return test::bmp_file(spec);
}

std::uint32_t u24(const ByteList& b, std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16; }
ByteList slice(const ByteList& b, std::size_t at, std::size_t n) {
  return ByteList(b.begin() + at, b.begin() + at + n);
}

struct Project {
  TempDir dir;
  Project() {
    test::write_file(dir.file("logo.bmp"), test::letter_bmp({"RRRRRRRR", "BBBBWWWW"}));
    test::write_file(dir.file("up.bmp"), test::letter_bmp({"RRBB"}));
    test::write_file(dir.file("down.bmp"), test::letter_bmp({"BBWW"}));
    test::write_file(dir.file("inline.bmp"), test::letter_bmp({"RRBB"}));
    std::vector<std::vector<int>> border(24, std::vector<int>(24)), checker(8, std::vector<int>(8));
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 24; ++x) border[y][x] = x / 8 == y / 8 ? 1 : 0;
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) checker[y][x] = (x + y) % 2;
    test::write_file(dir.file("frame.bmp"), bmp1(24, border));
    test::write_file(dir.file("dots.bmp"), bmp1(8, checker));
  }
};

TEST(PicturesProject, ImageDirectoriesAndLines) {
  Project project;
  test::write_file(project.dir.file("demo.txt"),
                   "VexaG6 <Pics>\r\n"
                   "PICTURE 4 [2] <.\\logo.bmp>\r\n"
                   "BUTTON 9,<.\\up.bmp><.\\down.bmp>\r\n"
                   "BORDER 1,<.\\frame.bmp>\r\n"
                   "PATTERN 1,<.\\dots.bmp>\r\n"
                   "Macro 1\r\n"
                   "#UL 1,2,<.\\inline.bmp>\r\n");
  auto r = run_vexac({"demo.txt", "-o"}, project.dir.path);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string i14(14, ' '), i15(15, ' ');
  const std::string dir = project.dir.path + "/";
  std::string lines = "Import Picture <" + dir + "logo.bmp>\r\n" + i15 +
                      "change colordepth 24-bit -> 16-bit with dithering\r\n" + i15 +
                      "only 3 colors are used: change colordepth->4-bit\r\n" + i15 +
                      "size: 8x2 dots, colordepth: 4-bit, 42 bytes\r\n"
                      "Import Button <" + dir + "up.bmp>\r\n" + i14 + "<" + dir + "down.bmp>\r\n" + i15 +
                      "only 3 colors are used: change colordepth->4-bit\r\n" + i14 +
                      "size: 4x1 dots, colordepth: 4-bit, 48 bytes\r\n"
                      "Import Border <" + dir + "frame.bmp>\r\n"
                      "Import Pattern <" + dir + "dots.bmp>\r\n" + i15 +
                      "change colordepth 24-bit -> 16-bit with dithering\r\n" + i15 +
                      "only 2 colors are used: change colordepth->1-bit\r\n" + i15 +
                      "used colors: RGB[0]=255,0,0  RGB[1]=0,0,255\r\n"
                      "Macro:   1,   0 commands,    38 bytes\r\n";
  EXPECT_NE(r.out.find(lines), std::string::npos) << r.out;
  EXPECT_NE(test::read_file(project.dir.file("demo.log")).find(lines), std::string::npos);
  std::string overview = "   1 Pattern:           71 bytes\r\n"
                         "   1 Border:           584 bytes\r\n"
                         "   1 Buttons:           48 bytes\r\n"
                         "   1 Pictures:          42 bytes\r\n";
  EXPECT_NE(r.out.find(overview), std::string::npos) << r.out;

  // Tables: patterns 1 at 1536, borders 1 at 1539, buttons 9 at 1542,
  // pictures 4 (page 2) at 1545, Macro 1 at 1548; D = 1554, 38 macro bytes.
  // The resources follow at S = 32768 in the order they were compiled:
  // picture 0, button 42, border 90, pattern 674 (71 bytes): 745 bytes.
  ByteList image = test::read_bytes(project.dir.file("demo.DFO"));
  ASSERT_EQ(image.size(), 32768u + 745u);
  EXPECT_EQ(u24(image, 2), 1554u + 38u);
  EXPECT_EQ(u24(image, 5), 745u);
  auto index_row = [&](int kind, int page) { return slice(image, 128 + 80 * kind + 5 * page, 5); };
  EXPECT_EQ(index_row(1, 0), (ByteList{1, 1, 0x00, 0x06, 0}));     // 1536
  EXPECT_EQ(index_row(2, 0), (ByteList{1, 1, 0x03, 0x06, 0}));     // 1539
  EXPECT_EQ(index_row(3, 0), (ByteList{9, 9, 0x06, 0x06, 0}));     // 1542
  EXPECT_EQ(index_row(5, 0), (ByteList{255, 0, 255, 255, 255}));  // nothing on page 0
  EXPECT_EQ(index_row(5, 2), (ByteList{4, 4, 0x09, 0x06, 0}));     // 1545
  EXPECT_EQ(u24(image, 1536), 32768u + 674u);
  EXPECT_EQ(u24(image, 1539), 32768u + 90u);
  EXPECT_EQ(u24(image, 1542), 32768u + 42u);
  EXPECT_EQ(u24(image, 1545), 32768u);
  EXPECT_EQ(slice(image, 1548, 6), (ByteList{0x12, 0x06, 0, 38, 0, 0}));

  // What the entries point at: the picture block (its header and palette),
  // the border and pattern records, and UL's command in the macro bytes.
  EXPECT_EQ(slice(image, 32768, 28), (ByteList{0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 4, 0, 0, 3, 0, 3, 1, 1, 8,
                                               0, 2, 0, 0x1F, 0x00, 0xFF, 0xFF, 0x00, 0xF8}));
  EXPECT_EQ(slice(image, 32768 + 90, 8), (ByteList{1, 2, 0, 0, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(slice(image, 32768 + 674, 9), (ByteList{2, 0, 0, 0xFF, 0xFF, 0x00, 0x00, 0, 1}));
  EXPECT_EQ(slice(image, 1554, 10), (ByteList{27, 'U', 'L', 1, 0, 2, 0, 0x1B, 'U', 'L'}));
}

TEST(PicturesProject, BadInputIsReportedAndTheRestCompiles) {
  Project project;
  test::write_file(project.dir.file("bad.txt"),
                   "VexaG6\n"
                   "PICTURE 1,<.\\nothere.bmp>\n"
                   "PICTURE 2,<.\\logo.bmp>\n"
                   "DISABLEBIGIMAGES 0 \"P\"\n"
                   "PICTURE 3,<.\\logo.bmp>\n");
  // Without any installed face the placeholder caption cannot be drawn.
  test::write_file(project.dir.file("empty.conf"), "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
  auto r = run_vexac({"bad.txt"}, project.dir.path, {"FONTCONFIG_FILE=" + project.dir.file("empty.conf")});
  EXPECT_EQ(r.exit_code, 1);
  std::string expected = "\r\n--->ERROR in file <bad.txt>\r\n--->LINE 2: cannot load Picture <" + project.dir.path +
                         "/nothere.bmp> !\r\n--->'PICTURE 1,<.\\nothere.bmp>'\r\n\r\n"
                         "Import Picture <" + project.dir.path + "/logo.bmp>\r\n";
  EXPECT_NE(r.out.find(expected), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--->LINE 5: cannot find the font \"Terminal\" !\r\n"), std::string::npos) << r.out;
  std::string log = test::read_file(project.dir.file("bad.log"));
  EXPECT_NE(log.find(expected), std::string::npos);
  EXPECT_NE(log.find("---> found 2 Errors !"), std::string::npos);
  EXPECT_FALSE(test::file_exists(project.dir.file("bad.DF")));
}

}  // namespace
}  // namespace vexa
