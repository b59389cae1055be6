#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "imagefiles/dispatch.h"
#include "imagefiles/fxt.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Image;
using resources::ImageSet;
using Glyph = std::vector<std::string>;

constexpr const char* font_name = "/fonts/my font.fxt";
constexpr const char* directive = "FONT 3,<my font.fxt>";

// A captured context whose current source line is the directive that loads
// the font, and a set on the heap.
struct FxtFixture {
  FxtFixture() { captured.ctx->source.line = directive; }
  int read(const std::string& text) {
    return read_fxt_font(*captured.ctx, *set, font_name,
                         Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  }
  test::CapturedContext captured;
  std::unique_ptr<ImageSet> set = std::make_unique<ImageSet>();
};

// The error block for one fault in the font file.
std::string block(int line, const std::string& message) {
  return "--->ERROR in file <" + std::string(font_name) + ">\r\n--->LINE " + std::to_string(line) + ": " + message +
         "\r\n--->'" + directive + "'\r\n\r\n";
}

Glyph rows_of(const Image& image) { return test::mono_rows(image); }
void put_glyph(ImageSet& set, int code, const Glyph& rows) { set.images[static_cast<std::size_t>(code)] = test::mono_image(rows); }

TEST(ReadFxtFont, HeaderFormsRowsCommentsAndGaps) {
  FxtFixture f;
  const std::string text =
      "; a font\n"
      "65 the rest of a header line is ignored\n"
      "#.#\n"
      ".#.\n"
      "\n"
      "$42\n"
      "##\n"
      "; a comment between rows\n"
      " so is a line that starts with a blank\n"
      "#.\n"
      "'C\n"
      "#\n"
      "\"D\n"
      "..\n"
      "$ff\n"
      "###########\n"
      "x ends the character\n";
  ASSERT_EQ(f.read(text), 1);
  EXPECT_EQ(f.captured.console(), "");
  const ImageSet& set = *f.set;
  EXPECT_EQ(set.first_number, 65);
  EXPECT_EQ(set.count, 191);
  EXPECT_EQ(rows_of(set.images[65]), (Glyph{"#.#", ".#."}));
  EXPECT_EQ(rows_of(set.images[66]), (Glyph{"##", "#."}));
  EXPECT_EQ(rows_of(set.images[67]), (Glyph{"#"}));  // the header after it starts the next character
  EXPECT_EQ(rows_of(set.images[68]), (Glyph{".."}));
  EXPECT_EQ(rows_of(set.images[255]), (Glyph{"###########"}));
  for (int code = 69; code < 255; ++code) EXPECT_TRUE(resources::is_empty(set.images[code])) << code;
  EXPECT_EQ(resources::colour_entry(set.images[65], 0), resources::rgb(255, 255, 255));
  EXPECT_EQ(resources::colour_entry(set.images[65], 1), resources::rgb(0, 0, 0));
  EXPECT_EQ(resources::header_field(set.images[65], resources::dib::y_pels), 2500u);

  // Codes 48 and 57 only: the eight codes between are gaps.
  ASSERT_EQ(f.read("48\n#\n57\n##\n"), 1);
  EXPECT_EQ(f.set->first_number, 48);
  EXPECT_EQ(f.set->count, 10);
  for (int code = 49; code <= 56; ++code) EXPECT_TRUE(resources::is_empty(f.set->images[code]));

  // Line ends with carriage returns read the same; a quoted byte above 127
  // is its unsigned code; a row longer than a line is read holds 5000 columns.
  ASSERT_EQ(f.read("'\xE9\r\n#.\r\n.#\r\n\r\n"), 1);
  EXPECT_EQ(f.set->first_number, 233);
  EXPECT_EQ(rows_of(f.set->images[233]), (Glyph{"#.", ".#"}));
  ASSERT_EQ(f.read("1\n" + std::string(6000, '#') + "\n" + std::string(5000, '.') + "\n"), 1);
  EXPECT_EQ(resources::image_width(f.set->images[1]), 5000);
  EXPECT_EQ(resources::image_height(f.set->images[1]), 2);
  EXPECT_EQ(f.captured.errors(), 0);
}

TEST(ReadFxtFont, FaultsAreReportedWithTheFontFileAndLine) {
  {
    // Out of range: reported with 256 and its own line; the rows up to the
    // next header are skipped without a further message.
    FxtFixture f;
    EXPECT_EQ(f.read("65\n#\n256\n##\n##\n66\n#\n"), 0);
    EXPECT_EQ(f.captured.console(), "\r\n" + block(3, "ASCII-Code 256 not allowed (0..255) !"));
    EXPECT_EQ(f.captured.errors(), 1);
    EXPECT_EQ(f.set->count, 0);
    for (const Image& image : f.set->images) EXPECT_TRUE(resources::is_empty(image));
  }
  {
    // Rows before any header: one message for the block, even across an
    // empty line, until a header comes. Rows after a character was ended by
    // an empty line are a new fault. A wider row is shown with the line
    // before it. All faults of the file are reported.
    FxtFixture f;
    EXPECT_EQ(f.read("##\n..\n\n#.\n65\n#\n\n#\n66\n#\n##\n$1FFFFFFFF\n"), 0);
    EXPECT_EQ(f.captured.console(), "\r\n" + block(1, "missing ASCII NR. !") + block(8, "missing ASCII NR. !") +
                                        block(10, "wrong character width (ASCII NR. 66)") +
                                        block(12, "ASCII-Code 2147483647 not allowed (0..255) !"));
    EXPECT_EQ(f.captured.errors(), 4);
    EXPECT_EQ(f.set->count, 0);
  }
}

TEST(ReadFxtFont, EmptyFontsAndRepeatedCodes) {
  FxtFixture f;
  // Nothing to build: an empty file, only comments, headers without rows.
  for (const char* text : {"", "; nothing\n\n", "65\n66\n\n"}) {
    EXPECT_EQ(f.read(text), 0) << text;
    EXPECT_EQ(f.set->count, 0);
  }
  EXPECT_EQ(f.captured.console(), "");
  EXPECT_EQ(f.captured.errors(), 0);

  // A code defined again: the last definition is the character, whatever
  // the size of the earlier one.
  ASSERT_EQ(f.read("65\n####\n####\n####\n66\n#\n65\n.#\n"), 1);
  EXPECT_EQ(rows_of(f.set->images[65]), (Glyph{".#"}));
  EXPECT_EQ(rows_of(f.set->images[66]), (Glyph{"#"}));
}

TEST(ReadFxtFont, LoadedThroughTheDispatcherByItsName) {
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  ctx.source.line = "FONT 1,<A.Fxt>";
  test::write_file(captured.dir.file("A.Fxt"), std::string("32\n..\n..\n33\n.#\n.#\n"));
  test::write_file(captured.dir.file("B.fxt"), std::string("#\n"));
  ASSERT_EQ(load_image_file(ctx, ctx.work_set, captured.dir.file("A.Fxt")), 1);
  EXPECT_EQ(ctx.work_set.first_number, 32);
  EXPECT_EQ(ctx.work_set.count, 2);
  EXPECT_EQ(load_image_file(ctx, ctx.work_set, captured.dir.file("B.fxt")), 0);
  EXPECT_NE(captured.console().find("--->ERROR in file <" + captured.dir.file("B.fxt") + ">\r\n--->LINE 1: "),
            std::string::npos);
}

// --- listings ------------------------------------------------------------------

// A glyph of the given size whose pixels follow a pattern of the code.
Glyph pattern(int code, int width, int height) {
  Glyph rows;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width; ++x) row += (x * 3 + y + code) % 4 == 0 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

TEST(WriteFontListing, ProportionalFontListsAndReadsBack) {
  test::TempDir dir;
  auto set = std::make_unique<ImageSet>();
  set->first_number = 31;
  set->count = 200 - 31 + 1;
  const std::vector<std::pair<int, int>> glyphs = {{31, 3}, {65, 5}, {66, 7}, {200, 4}};  // code, width
  for (auto [code, width] : glyphs) put_glyph(*set, code, pattern(code, width, 16));

  const std::string name = dir.file("font_31-200.fxt");
  ASSERT_EQ(write_font_listing(*set, name), 1);
  std::string expected =
      "; First Nr    :  31\n"
      "; Last  Nr    : 200\n"
      "; Typ         : proportional\n"
      "; max width   :   7\n"
      "; height      :  16\n"
      "\n";
  for (auto [code, width] : glyphs) {
    expected += code == 31   ? "31  $1F\n"
                : code == 65 ? "65  $41  'A'\n"
                : code == 66 ? "66  $42  'B'\n"
                             : "200  $C8  '\xC8'\n";
    for (const std::string& row : pattern(code, width, 16)) expected += row + "\n";
    expected += "\n";
  }
  EXPECT_EQ(test::read_file(name), expected);

  FxtFixture f;
  ASSERT_EQ(f.read(test::read_file(name)), 1);
  EXPECT_EQ(f.set->first_number, 31);
  EXPECT_EQ(f.set->count, 170);
  for (int code = 31; code <= 200; ++code) EXPECT_EQ(f.set->images[code].dib, set->images[code].dib) << code;
}

TEST(WriteFontListing, TypeLinesAndAFirstSlotWithoutImage) {
  test::TempDir dir;
  auto set = std::make_unique<ImageSet>();
  set->first_number = 40;  // slot 40 is a gap: sizes compare from 41
  set->count = 3;
  put_glyph(*set, 41, {"#.", ".#", "##"});
  put_glyph(*set, 42, {"..", "..", "#."});
  ASSERT_EQ(write_font_listing(*set, dir.file("mono.fxt")), 1);
  EXPECT_EQ(test::read_file(dir.file("mono.fxt")),
            "; First Nr    :  40\n"
            "; Last  Nr    :  42\n"
            "; Typ         : monospaced\n"
            "; width       :   2\n"
            "; height      :   3\n"
            "\n"
            "41  $29  ')'\n#.\n.#\n##\n\n"
            "42  $2A  '*'\n..\n..\n#.\n\n");

  put_glyph(*set, 42, {"###"});
  ASSERT_EQ(write_font_listing(*set, dir.file("various.fxt")), 1);
  const std::string head =
      "; First Nr    :  40\n"
      "; Last  Nr    :  42\n"
      "; Typ         : various size\n"
      "; max width   :   3\n"
      "; max height  :   3\n\n";
  EXPECT_EQ(test::read_file(dir.file("various.fxt")).substr(0, head.size()), head);

  EXPECT_EQ(write_font_listing(*set, dir.file("missing/font.fxt")), 0);
}

}  // namespace
}  // namespace vexa::imagefiles
