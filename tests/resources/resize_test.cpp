// Resampling, cropping, border removal and the fitting of sets, worked out
// by hand on small pictures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/colour.h"
#include "resources/resize.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

constexpr Bgr white = rgb(255, 255, 255);
constexpr Bgr black = rgb(0, 0, 0);
constexpr Bgr red = rgb(255, 0, 0);
constexpr Bgr blue = rgb(0, 0, 255);
const std::string blanks(15, ' ');

Image filled(int width, int height, Bgr colour, int bits = 24) {
  return test::picture(test::plain_rows(width, height, colour), bits);
}

// A picture of one colour with the rectangle from (left, top) to (right,
// bottom), inclusive, in another.
Image boxed(int width, int height, Bgr outside, int left, int top, int right, int bottom, Bgr inside) {
  test::Rows rows = test::plain_rows(width, height, outside);
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) rows[y][x] = inside;
  return test::picture(rows);
}

using test::set_of;

std::string size_of(const Image& image) {
  return std::to_string(image_width(image)) + "x" + std::to_string(image_height(image));
}

std::string rect_of(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," + std::to_string(r.bottom);
}

TEST(ResampleSize, LimitsAndAspect) {
  struct Case {
    int w, h, max_w, max_h;
    bool keep;
    const char* expected;
  };
  const Case cases[] = {
      {100, 50, 40, 40, true, "40x20"},   {100, 50, 40, 40, false, "40x40"}, {30, 100, 40, 40, true, "12x40"},
      {100, 50, 0, 25, true, "50x25"},    {100, 50, 20, 0, true, "20x10"},   {100, 50, 200, 100, true, "200x100"},
      {100, 50, 300, 100, true, "200x100"}, {1, 400, 40, 40, true, "1x40"},
  };
  for (const Case& c : cases) {
    Image smooth = filled(c.w, c.h, red);
    Image nearest = filled(c.w, c.h, red);
    ASSERT_TRUE(resample_smooth(smooth, c.max_w, c.max_h, c.keep));
    ASSERT_TRUE(resample_nearest(nearest, c.max_w, c.max_h, c.keep));
    EXPECT_EQ(size_of(smooth), c.expected) << c.w << "x" << c.h << " into " << c.max_w << "," << c.max_h;
    EXPECT_EQ(size_of(nearest), c.expected);
  }
  Image none = filled(10, 10, red);
  EXPECT_FALSE(resample_nearest(none, 0, 0, true));
  EXPECT_FALSE(resample_smooth(none, 0, -1, true));
  Image palette;
  ASSERT_TRUE(create_image(palette, 4, 4, 8));
  EXPECT_FALSE(resample_smooth(palette, 2, 2, true));  // 24-bit only
}

TEST(ResampleNearest, PicksRowsAndColumnsAtAnyDepth) {
  // 1 bit, 8 x 2 to 4 x 1: stored row 0, columns 0, 2, 4, 6.
  Image mono;
  ASSERT_TRUE(create_image(mono, 8, 2, 1));
  row_pointer(mono, 1)[0] = 0b10110010;  // stored row 0
  row_pointer(mono, 0)[0] = 0b11111111;
  ASSERT_TRUE(resample_nearest(mono, 4, 1, false));
  EXPECT_EQ(row_pointer(mono, 0)[0], 0b11010000);

  // 4 bits, 2 x 1 to 4 x 1: columns 0, 0, 1, 1; the table is kept.
  Image nibbles;
  ASSERT_TRUE(create_image(nibbles, 2, 1, 4));
  row_pointer(nibbles, 0)[0] = 0x3C;
  ASSERT_TRUE(resample_nearest(nibbles, 4, 1, false));
  EXPECT_EQ(row_pointer(nibbles, 0)[0], 0x33);
  EXPECT_EQ(row_pointer(nibbles, 0)[1], 0xCC);
  EXPECT_EQ(colour_entry(nibbles, 9), default_palette(9));

  // A 5-5-5 image keeps its header: still no bit fields afterwards.
  Image words;
  ASSERT_TRUE(create_image(words, 3, 1, 16));
  set_header_field(words, dib::compression, 0);
  ASSERT_TRUE(refresh_layout(words));
  put_u16(row_pointer(words, 0) + 4, 0x7C00);
  ASSERT_TRUE(resample_nearest(words, 6, 1, false));
  EXPECT_EQ(header_field(words, dib::compression), 0u);
  EXPECT_EQ(pixel_colour(words, 5, 0), red);
  EXPECT_EQ(pixel_colour(words, 3, 0), black);
}

TEST(ResampleSmooth, AveragesByCoveredArea) {
  // 3 to 2 columns: target 0 = (2 * v0 + v1) / 3, target 1 = (v1 + 2 * v2) / 3.
  Image row = test::picture({{rgb(0, 10, 255), rgb(90, 10, 0), rgb(180, 10, 0)}});
  ASSERT_TRUE(resample_smooth(row, 2, 1, false));
  EXPECT_EQ(pixel_colour(row, 0, 0), rgb(30, 10, 170));
  EXPECT_EQ(pixel_colour(row, 1, 0), rgb(150, 10, 0));

  // 2 x 2 blocks into one pixel each, rounded to nearest.
  const Bgr g = rgb(7, 7, 7);
  Image block = test::picture({{rgb(100, 0, 0), black, g, g}, {black, rgb(1, 0, 0), g, g}});
  ASSERT_TRUE(resample_smooth(block, 2, 1, false));
  EXPECT_EQ(pixel_colour(block, 0, 0), rgb(25, 0, 0));
  EXPECT_EQ(pixel_colour(block, 1, 0), rgb(7, 7, 7));

  // A plain area keeps its exact colour, shrunk or enlarged.
  const Bgr odd = rgb(37, 201, 99);
  for (auto [from_w, from_h, to_w, to_h] : {std::array{7, 5, 3, 2}, std::array{2, 3, 9, 7}}) {
    Image plain = filled(from_w, from_h, odd);
    ASSERT_TRUE(resample_smooth(plain, to_w, to_h, false));
    ASSERT_EQ(size_of(plain), std::to_string(to_w) + "x" + std::to_string(to_h));
    for (int y = 0; y < to_h; ++y)
      for (int x = 0; x < to_w; ++x) EXPECT_EQ(pixel_colour(plain, x, y), odd) << to_w << ":" << x << "," << y;
  }
}

TEST(Crop, ClampsAndKeepsTheTable) {
  Image nibbles;
  ASSERT_TRUE(create_image(nibbles, 5, 3, 4));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) set_pixel_colour(nibbles, x, y, default_palette(y * 5 + x));
  std::vector<std::uint8_t> before = nibbles.dib;
  ASSERT_TRUE(crop_image(nibbles, -3, 0, 4, 9));  // clamped to the whole image
  EXPECT_EQ(nibbles.dib, before);
  ASSERT_TRUE(crop_image(nibbles, 1, 1, 3, 2));
  ASSERT_EQ(size_of(nibbles), "3x2");
  EXPECT_EQ(pixel_value(nibbles, 0, 0), 6u);
  EXPECT_EQ(pixel_value(nibbles, 2, 1), 13u);
  EXPECT_EQ(colour_entry(nibbles, 15), default_palette(15));
  EXPECT_FALSE(crop_image(nibbles, 5, 0, 9, 1));  // nothing of it inside

  Image mono;
  ASSERT_TRUE(create_image(mono, 12, 1, 1));
  row_pointer(mono, 0)[0] = 0b00011011;
  row_pointer(mono, 0)[1] = 0b10100000;
  ASSERT_TRUE(crop_image(mono, 3, 0, 10, 0));
  EXPECT_EQ(row_pointer(mono, 0)[0], 0b11011101);
}

TEST(Border, ContentRectangleAndCorners) {
  Image image = boxed(10, 8, white, 2, 3, 6, 4, red);
  set_pixel_colour(image, 8, 6, blue);
  Rect r;
  EXPECT_TRUE(content_rect(image, white, r));
  EXPECT_EQ(rect_of(r), "2,3-8,6");
  EXPECT_FALSE(content_rect(image, red, r));  // nothing to strip
  Image plain = filled(3, 3, white);
  EXPECT_TRUE(content_rect(plain, white, r));
  EXPECT_TRUE(r.empty());

  Bgr corner;
  EXPECT_TRUE(corner_colour(image, corner));
  EXPECT_EQ(corner, white);
  set_pixel_colour(image, 9, 7, red);
  EXPECT_FALSE(corner_colour(image, corner));

  // Palette pixels compare through their colours: two entries holding white
  // are both border.
  Image pal;
  ASSERT_TRUE(create_image(pal, 4, 4, 8));
  set_colour_entry(pal, 3, white);  // entry 7 is white too
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) row_pointer(pal, y)[x] = (x + y) % 2 ? 3 : 7;
  row_pointer(pal, 1)[2] = 1;
  EXPECT_TRUE(content_rect(pal, white, r));
  EXPECT_EQ(rect_of(r), "2,1-2,1");
}

TEST(Border, SetModesAndOneRectangleForAllFrames) {
  test::CapturedContext c;
  auto margin = [] { return boxed(20, 16, white, 5, 5, 14, 10, red); };
  // Mode 1: corner colour. Mode 2 and 4 are only for fitting; 3 without
  // transparency has no colour.
  for (int mode : {0, 2, 3, 4}) {
    auto set = set_of({margin()});
    EXPECT_EQ(remove_set_borders(c.ctx->out, *set, mode), 0) << mode;
    EXPECT_EQ(size_of(set->images[1]), "20x16");
  }
  auto set = set_of({margin()});
  int pivot_x = 50, pivot_y = 40;
  EXPECT_EQ(remove_set_borders(c.ctx->out, *set, 1, &pivot_x, &pivot_y), 1);
  EXPECT_EQ(size_of(set->images[1]), "10x6");
  EXPECT_EQ(pixel_colour(set->images[1], 0, 0), red);
  EXPECT_EQ(std::pair(pivot_x, pivot_y), std::pair(45, 35));

  // Mode 3 strips the transparent colour.
  auto keyed = set_of({boxed(6, 6, blue, 2, 2, 3, 3, red)});
  keyed->transparent = 1;
  keyed->transparent_colour = blue;
  EXPECT_EQ(remove_set_borders(c.ctx->out, *keyed, 3), 1);
  EXPECT_EQ(size_of(keyed->images[1]), "2x2");

  // Frames: one common rectangle.
  auto frames = set_of({boxed(12, 12, white, 2, 3, 4, 5, red), boxed(12, 12, white, 6, 1, 8, 2, red), filled(12, 12, white)});
  EXPECT_EQ(remove_set_borders(c.ctx->out, *frames, 1), 1);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(size_of(frames->images[i]), "7x5") << i;
  EXPECT_EQ(pixel_colour(frames->images[1], 0, 2), red);
  EXPECT_EQ(pixel_colour(frames->images[2], 6, 0), red);

  // Corners that differ, and 1-bit sets, keep everything.
  auto odd = set_of({margin()});
  set_pixel_colour(odd->images[1], 0, 15, red);
  EXPECT_EQ(remove_set_borders(c.ctx->out, *odd, 1), 0);
  Image mono;
  ASSERT_TRUE(create_image(mono, 8, 8, 1));
  row_pointer(mono, 4)[0] = 0x10;
  auto mono_set = set_of({std::move(mono)});
  EXPECT_EQ(remove_set_borders(c.ctx->out, *mono_set, 1), 0);
  EXPECT_EQ(size_of(mono_set->images[1]), "8x8");

  EXPECT_EQ(c.console(), blanks + "remove border 20x16 -> 10x6\r\n" + blanks + "remove border 6x6 -> 2x2\r\n" + blanks +
                             "remove border 12x12 -> 7x5\r\n");
}

TEST(FitSet, ShrinksAndStripsBordersOfSinglePictures) {
  test::CapturedContext c;
  auto wide = set_of({filled(100, 50, red)});
  ASSERT_TRUE(fit_set(*c.ctx, *wide, 40, 40, true, 0));
  EXPECT_EQ(size_of(wide->images[1]), "40x20");
  EXPECT_EQ(pixel_colour(wide->images[1], 17, 9), red);

  // A 5-pixel white margin: mode 2 strips it only when the picture is too
  // large; here 30x20 fits into 25x25 after stripping, so no resize follows.
  auto margin = [] { return boxed(30, 20, white, 5, 5, 24, 14, blue); };
  auto small = set_of({margin()});
  ASSERT_TRUE(fit_set(*c.ctx, *small, 40, 40, true, 2));
  EXPECT_EQ(size_of(small->images[1]), "30x20");
  auto large = set_of({margin()});
  ASSERT_TRUE(fit_set(*c.ctx, *large, 25, 25, true, 2));
  EXPECT_EQ(size_of(large->images[1]), "20x10");
  // A two-image button is never stripped, only resized.
  auto button = set_of({margin(), margin()});
  ASSERT_TRUE(fit_set(*c.ctx, *button, 15, 15, false, 1));
  for (int i : {1, 2}) EXPECT_EQ(size_of(button->images[i]), "15x15") << i;
  EXPECT_EQ(pixel_colour(button->images[1], 0, 0), white);

  EXPECT_EQ(c.console(), blanks + "resize 100x50 -> 40x20\r\n" + blanks + "remove border 30x20 -> 20x10\r\n" + blanks +
                             "resize 30x20 -> 15x15\r\n" + blanks + "resize 30x20 -> 15x15\r\n");

  test::CapturedContext failing;
  auto never = set_of({filled(10, 10, red)});
  EXPECT_FALSE(fit_set(*failing.ctx, *never, 0, 0, true, 0));
  EXPECT_TRUE(test::contains(failing.console(), blanks + "cannot resize picture !")) << failing.console();
}

TEST(FitSet, TransparentPicturesEndWithATransparentEdge) {
  test::CapturedContext c;
  Bgr key = rgb(0xAD, 0xFB, 0x5A);
  for (int bits : {24, 16}) {
    Image image = filled(40, 40, red, bits);
    auto set = set_of({std::move(image)});
    set->transparent = 1;
    set->transparent_colour = key;
    // A transparent block in the middle: its smoothed fringe must not stay.
    for (int y = 16; y < 24; ++y)
      for (int x = 16; x < 24; ++x) set_pixel_colour(set->images[1], x, y, key);
    ASSERT_TRUE(fit_set(*c.ctx, *set, 20, 20, true, 0));
    const Image& out = set->images[1];
    ASSERT_EQ(size_of(out), "20x20");
    EXPECT_EQ(bit_count(out), bits);
    for (int i = 0; i < 20; ++i)
      EXPECT_TRUE(pixel_colour(out, i, 0) == key && pixel_colour(out, i, 19) == key && pixel_colour(out, 0, i) == key &&
                  pixel_colour(out, 19, i) == key)
          << bits << " edge " << i;
    // The block maps to 8..11; with its neighbours 7..12 is transparent.
    for (int x = 7; x <= 12; ++x) EXPECT_EQ(pixel_colour(out, x, 10), key) << bits << " x " << x;
    EXPECT_EQ(pixel_colour(out, 5, 10), red);
    EXPECT_EQ(pixel_colour(out, 14, 14), red);
  }
}

}  // namespace
}  // namespace vexa::resources
