// Placeholder images: strokes, colours and captions of every kind.
#include <gtest/gtest.h>

#include "resources/dummy.h"
#include "test_support.h"

namespace vexa::resources {
namespace {

using test::CapturedContext;

void put_image(ImageSet& set, int slot, int width, int height, int bits) {
  ASSERT_TRUE(create_image(set.images[static_cast<std::size_t>(slot)], width, height, bits));
}

int ink(const Image& image, int x, int y) { return pixel_value(image, x, y) != 0 ? 1 : 0; }

TEST(DummyImages, FontGlyphsGetLinesAndTheSpaceStaysEmpty) {
  CapturedContext c;
  ImageSet& set = c.ctx->work_set;
  set.first_number = 32;
  set.count = 34;
  put_image(set, 32, 6, 8, 1);
  put_image(set, 65, 9, 8, 1);
  set.transparent = 1;
  ASSERT_EQ(make_dummy_images(*c.ctx, set, 'F', 3), 1);
  EXPECT_EQ(set.transparent, 0);
  // The space stays empty; others get T and B whole rows, P on row 4 from
  // column 9/4 = 2 up to 9 - 2 = 7 (left out); no caption for fonts.
  for (int code : {32, 65}) {
    const Image& glyph = set.images[static_cast<std::size_t>(code)];
    ASSERT_EQ(bit_count(glyph), 1);
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < image_width(glyph); ++x) {
        const bool line = y == 0 || y == 7 || (y == 4 && x >= 2 && x < 7);
        EXPECT_EQ(ink(glyph, x, y), code == 65 && line ? 1 : 0) << code << ":" << x << "," << y;
      }
  }
  EXPECT_EQ(colour_entry(set.images[65], 0), rgb(255, 255, 255));  // a 1-bit glyph keeps white and black
  EXPECT_EQ(colour_entry(set.images[65], 1), rgb(0, 0, 0));
  EXPECT_EQ(make_dummy_images(*c.ctx, set, 'X', 3), 0);
}

TEST(DummyImages, InstrumentFramesDiagonalColoursAndNumberedCaptions) {
  CapturedContext c;
  ImageSet& set = c.ctx->work_set;
  set.first_number = 0;
  set.count = 2;
  put_image(set, 0, 100, 100, 16);
  put_image(set, 1, 100, 100, 16);
  ASSERT_EQ(make_dummy_images(*c.ctx, set, 'I', 3), 1);
  const Image& zero = set.images[0];
  const Image& one = set.images[1];
  ASSERT_EQ(bit_count(one), 1);
  EXPECT_EQ(colour_entry(one, 0), rgb(0, 0, 100));
  EXPECT_EQ(colour_entry(one, 1), rgb(0, 0, 255));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(ink(one, i, 0) + ink(one, i, 99) + ink(one, 0, i) + ink(one, 99, i), 4) << i;
    if (i >= 10) {
      EXPECT_EQ(ink(one, 99 - i, i), 1) << i;  // d: top-right to bottom-left
      if (99 - i != i && i < 99) {  // (99, 99) is on the edges
        EXPECT_EQ(ink(one, i, i), 0) << i;  // no D
      }
    }
  }
  // "instrument 3." and "instrument 3.1": the same ink, and more of it
  // behind the shorter caption.
  int last_zero = 0, extra = 0;
  for (int y = 1; y < 11; ++y)
    for (int x = 1; x < 99; ++x) {
      if (x == 99 - y) continue;  // the diagonal crosses the caption rows
      if (ink(zero, x, y) == 0) continue;
      last_zero = std::max(last_zero, x);
      EXPECT_EQ(ink(one, x, y), 1) << x << "," << y;
    }
  for (int y = 1; y < 11; ++y)
    for (int x = last_zero + 1; x < 99; ++x)
      if (x != 99 - y) extra += ink(one, x, y);
  EXPECT_GT(last_zero, 40);
  EXPECT_GT(extra, 2);
}

}  // namespace
}  // namespace vexa::resources
