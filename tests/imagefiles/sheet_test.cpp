// Overview sheets, checked on the BMP files they write: the size of the sheet
// and the place of bars, labels and images, worked out here from the layout
// rules. The label texts' widths come from the label face (Liberation Sans
// standing in for "Arial"), measured through the text layer.
#include <gtest/gtest.h>

#include <array>

#include "bmp_decode.h"
#include "reader_test_support.h"
#include "imagefiles/canvas.h"
#include "imagefiles/sheet.h"
#include "imagefiles/winfont.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::Image;
using resources::ImageSet;
using resources::rgb;
using test::DecodedBmp;

constexpr Bgr black = rgb(0, 0, 0), white = rgb(255, 255, 255);

using test::solid_image;

// A 1-bit picture all ink or all clear.
Image block(int w, int h, bool ink) { return test::mono_image(std::vector<std::string>(h, std::string(w, ink ? '#' : '.'))); }

// The label face at a cell height, and the extent of a text in it.
struct Labels {
  FontLibrary fonts;
  Face* face = nullptr;
  explicit Labels(int height) {
    std::string error;
    face = open_face(fonts, "Arial", "sans-serif", weight_normal, height, error);
  }
  int width(const std::string& text) {
    int w = 0, h = 0;
    EXPECT_TRUE(text_extent(*face, text, w, h));
    return w;
  }
  int height() { return face->ascent + face->descent; }
};

// True when every pixel of the rectangle is ink (or, with want false, none is).
bool all_ink(const DecodedBmp& b, int x, int y, int w, int h, bool want = true) {
  for (int r = y; r < y + h; ++r)
    for (int c = x; c < x + w; ++c)
      if (b.ink(c, r) != want) return false;
  return true;
}

int ink_in(const DecodedBmp& b, int x, int y, int w, int h) {
  int n = 0;
  for (int r = y; r < y + h; ++r)
    for (int c = x; c < x + w; ++c) n += b.ink(c, r) ? 1 : 0;
  return n;
}

// Every ink pixel of the text drawn with its cell's top-left corner at (x, y)
// is ink on the sheet (and the text has some ink).
void expect_text(const DecodedBmp& b, const Face& face, int x, int y, const std::string& text) {
  int expected = 0, found = 0;
  draw_text_pixels(face, x, y, text, [&](int px, int py) {
    ++expected;
    found += px >= 0 && py >= 0 && px < b.width && py < b.height && b.ink(px, py) ? 1 : 0;
  });
  EXPECT_GT(expected, 5) << text;
  EXPECT_EQ(found, expected) << text;
}

TEST(FittedFont, CellsComeOutAsTallAsAsked) {
  FontLibrary fonts;
  for (int wanted : {8, 11, 16, 20, 33}) {
    FontDescription d;
    d.face_name = "Arial";
    d.height = wanted;
    std::string error;
    Face* face = create_fitted_font(fonts, d, error);
    ASSERT_NE(face, nullptr) << error;
    EXPECT_EQ(face->family, "Liberation Sans");
    EXPECT_EQ(face->ascent + face->descent, wanted);
    // The first try asks for wanted * 96 / 72, rounded; the tries converge on
    // the cell height, where the description is left.
    EXPECT_EQ(d.height, wanted);
  }
  // Only the face that was kept stays open.
  EXPECT_EQ(fonts.faces.size(), 5u);
}

TEST(CharsetName, KnownSetsByNameOthersAsNumbers) {
  const std::pair<int, const char*> names[] = {{204, "RUSSIAN"}, {-5, "UNICODES"},     {0, "ANSI"},
                                               {2, "SYMBOL"},    {77, "MAC"},          {136, "CHINESEBIG5"},
                                               {238, "EASTEUROPE"}, {255, "OEM"},     {100, "100"},
                                               {5, "  5"},       {1000, "1000"}};
  for (auto [charset, name] : names) EXPECT_EQ(charset_name(charset), name) << charset;
  std::string a = charset_name(5), b = charset_name(6);  // each call has its own text
  EXPECT_EQ(a, "  5");
}

// 96 glyphs of 8 x 16 from code 32 in 16 columns: 6 grid rows (codes 32 to
// 127), scale 200 %, cells of 16 + 8 + 2 = 26 by 32 + 8 + 4 = 44 pixels
// (before the heading text widens them), L = min(26, 44) / 60 + 1 = 1,
// M = 2, label cells 44 / 2 - 2 = 20 pixels tall.
TEST(OverviewSheet, FontOfSixRowsInSixteenColumns) {
  test::CapturedContext c;
  ImageSet& set = c.ctx->work_set;
  set.first_number = 32;
  set.count = 96;
  for (int code = 32; code < 128; ++code) set.images[code] = block(8, 16, false);
  // 'A' is a full block, 'B' has its two corner pixels only.
  set.images[65] = block(8, 16, true);
  std::vector<std::string> corners(16, "........");
  corners[0] = "#.......";
  corners[15] = ".......#";
  set.images[66] = test::mono_image(corners);
  const std::string file = c.dir.file("font.bmp");
  ASSERT_EQ(export_overview_sheet(*c.ctx, file, set, 8, 16, 16, stretch_nearest), 1);

  Labels labels(20);
  ASSERT_NE(labels.face, nullptr);
  ASSERT_EQ(labels.height(), 20);
  const int L = 1, M = 2, CH = 44, R = 6;
  const int CW = std::max(26, labels.width("(15)") + 3 * M);
  const int HB = 2 * 20 + 4 * M;
  const int LB = labels.width("$F0 (dez: 240)") + 4 * M;
  const int SW = LB + CW * 16 + M, SH = HB + CH * R + M;

  DecodedBmp b = test::decode_bmp_file(file);
  ASSERT_EQ(b.width, SW);
  ASSERT_EQ(b.height, SH);
  EXPECT_EQ(b.bits, 1);
  EXPECT_EQ(b.table, (std::vector<Bgr>{white, black}));
  EXPECT_EQ(b.x_pels, static_cast<std::uint32_t>(SW * 10));
  EXPECT_EQ(b.y_pels, static_cast<std::uint32_t>(SW * 10));

  // Borders, the line under the heading band and right of the row headings.
  for (auto [x, y, w, h] : {std::array{0, 0, SW, M}, {0, SH - M, SW, M}, {0, 0, M, SH}, {SW - M, 0, M, SH},
                            {0, HB - L, SW, M}, {LB - L, 0, M, SH}})
    EXPECT_TRUE(all_ink(b, x, y, w, h)) << x << "," << y;
  // Bars between the cells, L wide; the cells between them are clear of
  // them (a column of an empty cell holds no ink below the heading band).
  for (int col = 1; col < 16; ++col) {
    EXPECT_TRUE(all_ink(b, LB + col * CW, 0, L, SH)) << col;
    EXPECT_TRUE(all_ink(b, LB + col * CW + 1, HB + L, 1, CH - L, false)) << col;
  }
  for (int row = 1; row < R; ++row) EXPECT_TRUE(all_ink(b, LB + 1, HB + row * CH, SW - LB - 1 - M, L)) << row;
  EXPECT_FALSE(b.ink(LB + 1, HB + CH - 1));
  EXPECT_FALSE(b.ink(LB + 1, HB + CH + 1));

  // 'A' sits in column 1, grid row 2, at double size.
  const int ax = LB + 1 * CW + ((CW + L) - 16) / 2;
  const int ay = HB + 2 * CH + (CH - 32) / 2 + L / 2;
  EXPECT_TRUE(all_ink(b, ax, ay, 16, 32));
  EXPECT_EQ(ink_in(b, ax - 1, ay - 1, 18, 34), 16 * 32);
  // 'B': its corner pixels become 2 x 2 blocks.
  const int bx = LB + 2 * CW + ((CW + L) - 16) / 2;
  EXPECT_TRUE(all_ink(b, bx, ay, 2, 2));
  EXPECT_TRUE(all_ink(b, bx + 14, ay + 30, 2, 2));
  EXPECT_EQ(ink_in(b, bx, ay, 16, 32), 8);

  // Row headings "$%02X (dez: %d)" for the base codes 32, 48, ... 112, at
  // (2M, y + CH / 4).
  for (int row = 0; row < R; ++row) {
    const int base = 32 + 16 * row;
    char text[32];
    std::snprintf(text, sizeof text, "$%02X (dez: %d)", base, base);
    expect_text(b, *labels.face, 2 * M, HB + row * CH + CH / 4, text);
  }
  // Column heading "$A" centred over column 10 with its top at 2M, "(10)"
  // ending at HB - 2M.
  const int centre = LB + 10 * CW + L + CW / 2;
  expect_text(b, *labels.face, centre - labels.width("$A") / 2, 2 * M, "$A");
  expect_text(b, *labels.face, centre - labels.width("(10)") / 2, HB - 2 * M - 20, "(10)");
  // The corner: "+ Lower" ending at LB - 2M, "Upper" standing on HB - 2M,
  // and the diagonal from (M, M) towards (LB, HB) through the middle.
  expect_text(b, *labels.face, LB - 2 * M - labels.width("+ Lower"), 2 * M, "+ Lower");
  expect_text(b, *labels.face, 2 * M, HB - 2 * M - 20, "Upper");
  const int mx = (M + LB) / 2, my = M + (HB - M) * (mx - M) / (LB - M);
  EXPECT_GT(ink_in(b, mx - 1, my - 1, 3, 3), 0);
}

// Five 20 x 10 frames numbered 1 to 5 with 10 columns fit in one grid row:
// five columns, no row headings, scale 300 %, cells of 60 + 8 + 7 = 75 by
// 30 + 8 + 3 = 41, L = 1, M = 2, labels 41 / 2 - 2 = 18 pixels tall.
TEST(OverviewSheet, AnimationInOneRowWithTransparencyShownWhite) {
  test::CapturedContext c;
  ImageSet& set = c.ctx->work_set;
  const Bgr colours[5] = {rgb(255, 0, 0), rgb(0, 128, 0), rgb(0, 0, 255), rgb(200, 200, 0), rgb(0, 200, 200)};
  set.first_number = 1;
  set.count = 5;
  for (int i = 0; i < 5; ++i) set.images[1 + i] = solid_image(20, 10, colours[i]);
  set.transparent = 1;
  set.transparent_colour = colours[2];
  const std::string file = c.dir.file("anim.bmp");
  ASSERT_EQ(export_overview_sheet(*c.ctx, file, set, 20, 10, 10, stretch_nearest), 1);
  // The set keeps its colours.
  EXPECT_EQ(resources::pixel_colour(set.images[3], 0, 0), colours[2]);

  Labels labels(18);
  ASSERT_EQ(labels.height(), 18);
  const int L = 1, M = 2, CH = 41;
  const int CW = std::max(75, labels.width("(15)") + 3 * M);
  const int HB = 2 * 18 + 4 * M, LB = M;
  DecodedBmp b = test::decode_bmp_file(file);
  ASSERT_EQ(b.width, LB + 5 * CW + M);
  ASSERT_EQ(b.height, HB + CH + M);
  EXPECT_NE(b.bits, 1);
  EXPECT_TRUE(all_ink(b, 0, 0, M, b.height));
  for (int i = 0; i < 5; ++i) {
    const int x = LB + i * CW + ((CW + L) - 60) / 2;
    const int y = HB + (CH - 30) / 2 + L / 2;
    const Bgr shown = i == 2 ? white : colours[i];
    for (auto [px, py] : {std::pair{x, y}, {x + 59, y}, {x, y + 29}, {x + 59, y + 29}, {x + 30, y + 15}})
      EXPECT_EQ(b.at(px, py), shown) << i;
    for (auto [px, py] : {std::pair{x - 1, y + 15}, {x + 60, y + 15}, {x + 30, y - 1}, {x + 30, y + 30}})
      EXPECT_EQ(b.at(px, py), white) << i;
    EXPECT_TRUE(i == 0 || all_ink(b, LB + i * CW, 0, L, b.height)) << i;
    // Headings 1 to 5 in "$%X" and "(%d)".
    const int centre = LB + i * CW + L + CW / 2;
    for (const std::string& text : {"$" + std::to_string(i + 1), "(" + std::to_string(i + 1) + ")"})
      expect_text(b, *labels.face, centre - labels.width(text) / 2, text[0] == '$' ? 2 * M : HB - 2 * M - 18, text);
  }
  // No corner labels and no row headings: the band left of the first cell is
  // only the border.
  EXPECT_EQ(ink_in(b, M, HB + L, LB - M, CH - L), 0);
}

// The scale steps by content height: 10 is drawn three times, 11 twice.
TEST(OverviewSheet, ScaleStepsAtTenAndTwenty) {
  for (auto [h, scale] : {std::pair{10, 300}, {11, 200}, {20, 200}, {21, 100}}) {
    test::CapturedContext c;
    ImageSet& set = c.ctx->work_set;
    set.first_number = 1;
    set.count = 1;
    set.images[1] = block(4, h, true);
    const std::string file = c.dir.file("one.bmp");
    ASSERT_EQ(export_overview_sheet(*c.ctx, file, set, 4, h, 16, stretch_nearest), 1);
    DecodedBmp b = test::decode_bmp_file(file);
    ASSERT_GT(b.width, 0);
    const int M = 2;
    // The only ink below the heading band (rows HB - 1 and HB), inside the
    // borders, is the image.
    int count = 0, left = b.width, top = b.height;
    const int shown_w = 4 * scale / 100, shown_h = h * scale / 100;
    const int CH = shown_h + 8 + shown_h / 8;
    const int HB = b.height - CH - M;
    for (int y = HB + 1; y < b.height - M; ++y)
      for (int x = M; x < b.width - M; ++x)
        if (b.ink(x, y)) {
          ++count;
          left = std::min(left, x);
          top = std::min(top, y);
        }
    EXPECT_EQ(count, shown_w * shown_h) << h;
    EXPECT_TRUE(all_ink(b, left, top, shown_w, shown_h)) << h;
    EXPECT_EQ(top, HB + (CH - shown_h) / 2) << h;
  }
}

// Halftone scaling averages what a sheet pixel covers; nearest picks one
// source pixel. A 200 x 200 picture of alternating black and white columns
// at 50 %: every sheet pixel covers one black and one white column.
TEST(OverviewSheet, HalftoneAveragesNearestPicks) {
  for (int mode : {stretch_halftone, stretch_nearest}) {
    test::CapturedContext c;
    ImageSet& set = c.ctx->work_set;
    Image stripes = solid_image(200, 200, white);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 200; x += 2) std::fill_n(resources::row_pointer(stripes, y) + 3 * x, 3, 0);
    set.first_number = 0;
    set.count = 1;
    set.images[0] = std::move(stripes);
    const std::string file = c.dir.file("stripes.bmp");
    ASSERT_EQ(export_overview_sheet(*c.ctx, file, set, 200, 200, 10, mode), 1);
    DecodedBmp b = test::decode_bmp_file(file);
    ASSERT_GT(b.width, 0);
    // Cells of 100 + 8 + 12 = 120 pixels; L = 120 / 60 + 1 = 3, M = 6.
    const int M = 6, L = 3, CW = 120, CH = 120;
    ASSERT_EQ(b.width, M + CW + M);
    const int HB = b.height - CH - M;
    const int x = M + ((CW + L) - 100) / 2;
    const int y = HB + (CH - 100) / 2 + L / 2;
    for (int dx = 0; dx < 100; dx += 7) {
      Bgr p = b.at(x + dx, y + 50);
      if (mode == stretch_halftone)
        EXPECT_EQ(p, rgb(128, 128, 128)) << dx;
      else
        EXPECT_TRUE(p == black || p == white) << dx;
    }
    EXPECT_EQ(b.at(x - 1, y + 50), white);
    EXPECT_EQ(b.at(x + 100, y + 50), white);
  }
}

TEST(OverviewSheet, FailuresReturnZero) {
  test::CapturedContext c;
  ImageSet& set = c.ctx->work_set;
  EXPECT_EQ(export_overview_sheet(*c.ctx, c.dir.file("empty.bmp"), set, 8, 8, 16, 3), 0);
  set.first_number = 1;
  set.count = 1;
  set.images[1] = block(8, 8, true);
  EXPECT_EQ(export_overview_sheet(*c.ctx, c.dir.file("no/such/dir/x.bmp"), set, 8, 8, 16, 3), 0);
  EXPECT_EQ(export_overview_sheet(*c.ctx, c.dir.file("zero.bmp"), set, 0, 8, 16, 3), 0);
  EXPECT_FALSE(test::file_exists(c.dir.file("empty.bmp")));
  EXPECT_EQ(c.console(), "");
  // The label face is closed again after every sheet.
  EXPECT_EQ(export_overview_sheet(*c.ctx, c.dir.file("ok.bmp"), set, 8, 8, 16, 3), 1);
  EXPECT_TRUE(c.ctx->fonts.faces.empty());
}

TEST(Canvas, StretchNearestAndBox) {
  Image source = solid_image(2, 2, white);
  std::fill_n(resources::row_pointer(source, 0), 3, 0);  // top-left black
  Canvas canvas;
  ASSERT_TRUE(create_canvas(canvas, 10, 10, rgb(9, 9, 9)));
  stretch_image(canvas, 1, 1, 4, 4, source, 0, 0, 2, 2, Stretch::nearest);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      Bgr want = x < 1 || x > 4 || y < 1 || y > 4 ? rgb(9, 9, 9) : (x <= 2 && y <= 2 ? black : white);
      EXPECT_EQ(get_pixel(canvas, x, y), want) << x << "," << y;
    }
  // Three target pixels over two source pixels: the middle one covers half
  // of each.
  Image row = solid_image(2, 1, white);
  std::fill_n(resources::row_pointer(row, 0), 3, 0);
  stretch_image(canvas, 0, 9, 3, 1, row, 0, 0, 2, 1, Stretch::box);
  EXPECT_EQ(get_pixel(canvas, 0, 9), black);
  EXPECT_EQ(get_pixel(canvas, 1, 9), rgb(128, 128, 128));
  EXPECT_EQ(get_pixel(canvas, 2, 9), white);
  // Clipped at the canvas edge and to the source.
  stretch_image(canvas, 8, 8, 4, 4, source, 1, 1, 5, 5, Stretch::nearest);
  EXPECT_EQ(get_pixel(canvas, 9, 9), white);
}

TEST(Canvas, WideLinesAreRoundPenStrokes) {
  Canvas canvas;
  ASSERT_TRUE(create_canvas(canvas, 20, 20, white));
  draw_wide_line(canvas, 5, 10, 15, 10, 3, black);
  // Rows 9 to 11 from column 4 (the disc around 5) to 15 (around 14).
  for (int x = 0; x < 20; ++x)
    for (int y = 0; y < 20; ++y) {
      bool want = y >= 9 && y <= 11 && x >= 4 && x <= 15;
      EXPECT_EQ(get_pixel(canvas, x, y) == black, want) << x << "," << y;
    }
  Canvas even;
  ASSERT_TRUE(create_canvas(even, 10, 10, white));
  draw_wide_line(even, 4, 4, 4, 6, 2, black);  // 2 wide: columns 3 and 4, rows 3 to 5
  int ink = 0;
  for (const Bgr& p : even.pixels) ink += p == black ? 1 : 0;
  EXPECT_EQ(ink, 6);
  EXPECT_EQ(get_pixel(even, 3, 3), black);
  EXPECT_EQ(get_pixel(even, 4, 5), black);
}

}  // namespace
}  // namespace vexa::imagefiles
