// The installed-font rasteriser: code pages per character set, the fitting of
// the ink height, missing glyphs, the code limits of both numbering modes,
// the cropping window, and faces released on every path. The rendering
// tests use DejaVu Sans (fonts-dejavu-core) and skip when it is missing.
#include <gtest/gtest.h>

#include <algorithm>

#include "imagefiles/winfont.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Image;
using resources::ImageSet;

bool have_dejavu() {
  FontLibrary fonts;
  std::string error;
  Face* face = open_face(fonts, "DejaVu Sans", "", weight_normal, 16, error);
  return face != nullptr && face->family == "DejaVu Sans";
}

WinFontParameters request(int charset, std::vector<CodeRange> ranges, int size) {
  WinFontParameters p;
  p.face_name = "DejaVu Sans";
  p.charset = charset;
  p.ranges = std::move(ranges);
  p.size = size;
  return p;
}

bool ink_at(const Image& image, int x, int y) { return resources::pixel_value(image, x, y) != 0; }

bool row_has_ink(const Image& image, int y) {
  for (int x = 0; x < resources::image_width(image); ++x)
    if (ink_at(image, x, y)) return true;
  return false;
}

bool same_pixels(const Image& a, const Image& b) { return test::mono_rows(a) == test::mono_rows(b); }

std::vector<int> filled_slots(const ImageSet& set) {
  std::vector<int> slots;
  for (int s = set.first_number; s < set.first_number + set.count; ++s)
    if (!resources::is_empty(set.images[static_cast<std::size_t>(s)])) slots.push_back(s);
  return slots;
}

TEST(CodePages, BytesToCodePointsPerCharset) {
  // charset, byte, code point: Western (euro sign, a gap), RUSSIAN,
  // EASTEUROPE, MAC, SHIFTJIS (half-width katakana, a lead byte), SYMBOL
  // (the face's symbol map looks the bytes up), and a set without a code
  // page of its own (Western).
  const std::uint32_t cases[][3] = {{charset_ansi, 0x41, 0x41}, {charset_ansi, 0x80, 0x20AC}, {charset_ansi, 0x81, no_character},
                                    {charset_ansi, 0xE9, 0xE9}, {204, 0xC0, 0x410},           {204, 0xFF, 0x44F},
                                    {238, 0x8A, 0x160},         {77, 0x80, 0xC4},             {128, 0xB1, 0xFF71},
                                    {128, 0x82, no_character},  {charset_symbol, 0xF0, 0xF0}, {100, 0x80, 0x20AC}};
  for (const auto& c : cases) {
    std::array<std::uint32_t, 256> t{};
    ASSERT_TRUE(code_page_table(static_cast<int>(c[0]), t)) << c[0];
    EXPECT_EQ(t[c[1]], c[2]) << c[0] << " " << c[1];
  }
}

TEST(Rasterise, InkOfTheWholeSetIsFittedToTheSize) {
  if (!have_dejavu()) GTEST_SKIP() << "DejaVu Sans is not installed";
  for (int size : {16, 11, 9, 30}) {
    FontLibrary fonts;
    ImageSet set;
    ASSERT_EQ(rasterise_windows_font(fonts, set, request(0, {{32, 126}}, size)), 1);
    EXPECT_EQ(set.first_number, 32);
    EXPECT_EQ(set.count, 95);
    const std::vector<int> slots = filled_slots(set);
    EXPECT_EQ(slots.size(), 95u);
    // Every cell is as tall as asked. The ink of the set is as tall, or,
    // when no font size gives that exactly, a little lower with the spare
    // rows split around it, the smaller half below.
    int ink_top = size, ink_bottom = -1;  // rows from the top
    for (int s : slots) {
      const Image& image = set.images[static_cast<std::size_t>(s)];
      ASSERT_EQ(resources::image_height(image), size) << s;
      EXPECT_EQ(resources::bit_count(image), 1);
      EXPECT_EQ(resources::colour_entry(image, 0), resources::rgb(255, 255, 255));
      EXPECT_EQ(resources::colour_entry(image, 1), resources::rgb(0, 0, 0));
      for (int y = 0; y < size; ++y)
        if (row_has_ink(image, y)) {
          ink_top = std::min(ink_top, y);
          ink_bottom = std::max(ink_bottom, y);
        }
    }
    const int ink = ink_bottom - ink_top + 1;
    EXPECT_LE(ink, size);
    EXPECT_GE(ink, size - 2);
    EXPECT_EQ(size - 1 - ink_bottom, (size - ink) / 2) << size;
    EXPECT_EQ(ink_top, size - ink - (size - ink) / 2) << size;
    if (size == 16) {
      EXPECT_EQ(ink, 16);  // DejaVu Sans reaches 16 exactly
    }
    const Image& space = set.images[32];
    for (int y = 0; y < size; ++y) EXPECT_FALSE(row_has_ink(space, y));
    EXPECT_GT(resources::image_width(set.images['W']), resources::image_width(set.images['i']));
    EXPECT_TRUE(fonts.faces.empty());  // every face tried was closed
  }
}

TEST(Rasterise, MissingGlyphsAndCodeLimits) {
  if (!have_dejavu()) GTEST_SKIP() << "DejaVu Sans is not installed";
  FontLibrary fonts;
  ImageSet set;
  // Control codes have no glyphs: empty slots at the ends leave the range.
  ASSERT_EQ(rasterise_windows_font(fonts, set, request(0, {{30, 34}, {127, 127}}, 12)), 1);
  EXPECT_EQ(set.first_number, 32);
  EXPECT_EQ(set.count, 3);
  // Inside the range an empty slot stays: 0x81 is unassigned in the Western
  // code page, 0x80 and 0x82 are the euro sign and a low quote.
  ASSERT_EQ(rasterise_windows_font(fonts, set, request(0, {{0x80, 0x82}}, 12)), 1);
  EXPECT_EQ(filled_slots(set), (std::vector<int>{0x80, 0x82}));
  EXPECT_EQ(set.count, 3);

  EXPECT_EQ(rasterise_windows_font(fonts, set, request(0, {{250, 256}}, 12)), -256);
  EXPECT_EQ(rasterise_windows_font(fonts, set, request(0, {{0, 31}}, 12)), 0);
  EXPECT_EQ(rasterise_windows_font(fonts, set, request(0, {{0x81, 0x81}}, 12)), 0);
  // Unicode mode: glyphs found are numbered on from -charset; a missing one
  // takes no number.
  EXPECT_EQ(rasterise_windows_font(fonts, set, request(-250, {{0x410, 0x42F}}, 12)), -281);
  ASSERT_EQ(rasterise_windows_font(fonts, set, request(-128, {{0x41, 0x41}, {0xFFFF, 0xFFFF}, {0x42, 0x42}}, 12)), 1);
  EXPECT_EQ(set.first_number, 128);
  EXPECT_EQ(filled_slots(set), (std::vector<int>{128, 129}));
  ImageSet ansi;
  ASSERT_EQ(rasterise_windows_font(fonts, ansi, request(0, {{65, 66}}, 12)), 1);
  EXPECT_TRUE(same_pixels(set.images[128], ansi.images[65]));
  EXPECT_TRUE(same_pixels(set.images[129], ansi.images[66]));
  // A start above 255 starts at 33.
  ASSERT_EQ(rasterise_windows_font(fonts, set, request(-300, {{0x41, 0x43}}, 12)), 1);
  EXPECT_EQ(filled_slots(set), (std::vector<int>{33, 34, 35}));
  EXPECT_TRUE(fonts.faces.empty());
}

TEST(Rasterise, CodePageChoosesTheCharacter) {
  if (!have_dejavu()) GTEST_SKIP() << "DejaVu Sans is not installed";
  FontLibrary fonts;
  // Byte 0xC0 in the Russian set is the Cyrillic capital A, U+0410.
  ImageSet russian, unicode, western;
  ASSERT_EQ(rasterise_windows_font(fonts, russian, request(204, {{0xC0, 0xC0}, {0x4A, 0x4A}}, 14)), 1);
  ASSERT_EQ(rasterise_windows_font(fonts, unicode, request(-0xC0, {{0x410, 0x410}, {0x4A, 0x4A}}, 14)), 1);
  ASSERT_EQ(rasterise_windows_font(fonts, western, request(0, {{0xC0, 0xC0}, {0x4A, 0x4A}}, 14)), 1);
  EXPECT_TRUE(same_pixels(russian.images[0xC0], unicode.images[0xC0]));
  // In the Western set 0xC0 is A with grave: ink above the capital's.
  EXPECT_FALSE(same_pixels(russian.images[0xC0], western.images[0xC0]));
}

// A 1-bit cell of width 1 whose ink rows (counted from the bottom) are given.
Image cell(int height, std::vector<int> ink_rows_from_bottom) {
  Image image;
  EXPECT_TRUE(resources::create_image(image, 1, height, 1));
  for (int r : ink_rows_from_bottom) resources::row_pointer(image, height - 1 - r)[0] = 0x80;
  return image;
}

std::vector<int> ink_rows_from_bottom(const Image& image) {
  std::vector<int> rows;
  const int h = resources::image_height(image);
  for (int r = 0; r < h; ++r)
    if (ink_at(image, 0, h - 1 - r)) rows.push_back(r);
  return rows;
}

TEST(Rasterise, CroppingWindow) {
  // Cells of 1 x height with ink rows counted from the bottom, cropped to
  // (ink height, wanted height, lowest ink row).
  struct Case { int height; std::vector<int> five, six; int ink, wanted, bottom; std::vector<int> want5, want6; };
  const Case cases[] = {
      // ink 3 rows tall (rows 4 to 6), wanted 7: two spare rows, one below the ink
      {12, {4, 6}, {5}, 3, 7, 4, {2, 4}, {3}},
      // ink taller than wanted: the ink rows are kept
      {12, {1, 9}, {4}, 9, 6, 1, {0, 8}, {3}},
      // fewer blank rows under the ink than spare rows to put there: the
      // window starts at the bottom row instead of below it...
      {10, {0, 1}, {}, 2, 8, 0, {0, 1}, {}},
      // ... and at the top it ends at the top row
      {10, {9}, {}, 1, 8, 9, {7}, {}},
  };
  for (const Case& c : cases) {
    ImageSet set;
    set.first_number = 5;
    set.count = 2;
    set.images[5] = cell(c.height, c.five);
    if (!c.six.empty()) set.images[6] = cell(c.height, c.six);
    ASSERT_TRUE(crop_font_cells(set, c.ink, c.wanted, c.bottom));
    EXPECT_EQ(resources::image_height(set.images[5]), std::max(c.ink, c.wanted)) << c.bottom;
    EXPECT_EQ(ink_rows_from_bottom(set.images[5]), c.want5) << c.bottom;
    EXPECT_EQ(ink_rows_from_bottom(set.images[6]), c.want6) << c.bottom;
  }
}

}  // namespace
}  // namespace vexa::imagefiles
