// Resampling and cropping by their properties over pictures made from seeds:
// sizes within the limits and true to the aspect, smooth results inside the
// colours they mix, nearest results made of source pixels, transparent
// edges, exact crops. Sizes, border removal and the order of the steps are
// pinned by the golden projects.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "imagefiles/colour.h"
#include "resources/import.h"
#include "resources/resize.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

std::string size_of(const Image& image) {
  return std::to_string(imagefiles::image_width(image)) + "x" + std::to_string(imagefiles::image_height(image));
}

TEST(Resample, SizeWithinTheLimitsAndColoursOfTheSource) {
  std::mt19937 random(5);
  const Bgr a = rgb(200, 10, 90), b = rgb(40, 250, 90);
  for (int trial = 0; trial < 200; ++trial) {
    const int w = 1 + static_cast<int>(random() % 120), h = 1 + static_cast<int>(random() % 120);
    const int max_w = static_cast<int>(random() % 90), max_h = 1 + static_cast<int>(random() % 90);
    const bool keep = random() % 2 == 0;
    imagefiles::Image smooth = test::seeded_picture(w, h, {a, b}, static_cast<unsigned>(trial)), nearest = smooth;
    ASSERT_TRUE(resample_smooth(smooth, max_w, max_h, keep) && resample_nearest(nearest, max_w, max_h, keep));
    const std::string name = size_of(nearest) + " from " + std::to_string(w) + "x" + std::to_string(h) + " into " +
                             std::to_string(max_w) + "," + std::to_string(max_h) + (keep ? "" : ",0");
    ASSERT_EQ(size_of(smooth), size_of(nearest)) << name;
    const int nw = imagefiles::image_width(smooth), nh = image_height(smooth);
    // Without the aspect both limits are met; with it one side meets its
    // limit, the other stays within its own and true to the proportion up to
    // truncation. A limit of 0 leaves that side to the proportion.
    if (max_w >= 1 && !keep) {
      EXPECT_EQ(size_of(smooth), std::to_string(max_w) + "x" + std::to_string(max_h)) << name;
    }
    EXPECT_TRUE(nh <= max_h && (max_w < 1 || nw <= max_w) && (nw == max_w || nh == max_h)) << name;
    if (keep && nw > 1 && nh > 1) { EXPECT_LT(std::abs(nw * h - nh * w), std::max(w, h)) << name; }
    // Smoothing mixes the two colours only between themselves; nearest
    // picks one of them.
    for (int y = 0; y < nh; ++y)
      for (int x = 0; x < nw; ++x) {
        const Bgr c = pixel_colour(smooth, x, y), n = pixel_colour(nearest, x, y);
        ASSERT_TRUE(c.red >= 40 && c.red <= 200 && c.blue == 90 && (n == a || n == b)) << name;
        ASSERT_NEAR((c.red - 40) * 240, (250 - c.green) * 160, 240 * 2) << name << ": on the line from a to b";
      }
  }
}

TEST(ResampleNearest, TakesWholeSourcePixelsAtEveryDepth) {
  for (int bits : {1, 4, 8, 16, 24}) {
    const std::vector<imagefiles::Bgr> colours = bits == 1 ? std::vector<imagefiles::Bgr>{imagefiles::rgb(255, 255, 255), imagefiles::rgb(0, 0, 0)}
                                               : test::seeded_colours(bits == 4 ? 16 : 40, 3, true);
    imagefiles::Image source;
    if (bits <= 8) {
      ASSERT_TRUE(imagefiles::create_image(source, 7, 5, bits));
      for (std::size_t i = 0; i < colours.size(); ++i) imagefiles::set_colour_entry(source, static_cast<int>(i), colours[i]);
      const Image colour_source = test::seeded_picture(7, 5, colours, 2);
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) imagefiles::set_pixel_colour(source, x, y, imagefiles::pixel_colour(colour_source, x, y));
    } else {
      source = test::seeded_picture(7, 5, colours, 2, bits);
    }
    for (int k : {2, 3}) {
      imagefiles::Image large = source;
      ASSERT_TRUE(resample_nearest(large, 7 * k, 5 * k, false));
      ASSERT_EQ(bit_count(large), bits);
      for (int y = 0; y < 5 * k; ++y)
        for (int x = 0; x < 7 * k; ++x)
          ASSERT_EQ(imagefiles::pixel_colour(large, x, y), pixel_colour(source, x / k, y / k)) << bits << " bits, " << x << "," << y;
    }
    imagefiles::Image small = source;
    ASSERT_TRUE(resample_nearest(small, 3, 4, false));
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 3; ++x)
        EXPECT_NE(std::find(colours.begin(), colours.end(), imagefiles::pixel_colour(small, x, y)), colours.end()) << bits;
  }
}

TEST(FitSet, TransparentPicturesKeepAKeyedEdgeAndTheirDepth) {
  const std::vector<imagefiles::Bgr> colours = test::seeded_colours(12, 6, true);
  const Bgr key = colours[0];
  for (int bits : {24, 16}) {
    auto set = test::set_of({test::seeded_picture(37, 23, colours, 4, bits)});
    set->transparent = 1;
    set->transparent_colour = key;
    base::ReportLines lines;
    ASSERT_TRUE(fit_set(*set, 15, 15, true, 0, lines));
    EXPECT_EQ(lines, base::ReportLines{std::string(15, ' ') + "resize 37x23 -> 15x9\r\n"});
    const Image& out = set->images[1];
    ASSERT_EQ(size_of(out), "15x9");
    EXPECT_EQ(bit_count(out), bits);
    for (int i = 0; i < 15; ++i)
      EXPECT_TRUE(imagefiles::pixel_colour(out, i, 0) == key && imagefiles::pixel_colour(out, i, 8) == key && imagefiles::pixel_colour(out, 0, i % 9) == key &&
                  imagefiles::pixel_colour(out, 14, i % 9) == key) << bits << ": the edge is transparent";
  }
  // A size no picture can take: the operation only fails, and the step
  // that fits the set reports the error.
  test::CapturedContext c;
  c.ctx->settings.max_width = c.ctx->settings.max_height = 0;
  auto never = test::set_of({test::seeded_picture(10, 10, colours, 1)});
  EXPECT_FALSE(fit_to_max_size(*c.ctx, *never));
  EXPECT_TRUE(test::contains(c.console(), std::string(15, ' ') + "cannot resize picture !")) << c.console();
}

TEST(Crop, KeepsTheClampedRectangleAtEveryDepth) {
  std::mt19937 random(9);
  for (int bits : {1, 4, 8, 16, 24})
    for (int trial = 0; trial < 30; ++trial) {
      const int w = 1 + static_cast<int>(random() % 20), h = 1 + static_cast<int>(random() % 12);
      imagefiles::Image source;
      ASSERT_TRUE(imagefiles::create_image(source, w, h, bits));
      for (int y = 0; y < h; ++y)
        for (std::size_t i = 0; i < (static_cast<std::size_t>(w) * static_cast<std::size_t>(bits) + 7) / 8; ++i)
          imagefiles::row_pointer(source, y)[i] = static_cast<std::uint8_t>(random());
      const int left = static_cast<int>(random() % 25) - 3, top = static_cast<int>(random() % 15) - 3;
      const int right = left + static_cast<int>(random() % 12), bottom = top + static_cast<int>(random() % 8);
      const int l = std::max(left, 0), t = std::max(top, 0), r = std::min(right, w - 1), b = std::min(bottom, h - 1);
      imagefiles::Image cut = source;
      if (l > r || t > b) {
        EXPECT_FALSE(crop_image(cut, left, top, right, bottom)) << "nothing inside";
        continue;
      }
      ASSERT_TRUE(crop_image(cut, left, top, right, bottom));
      ASSERT_EQ(size_of(cut), std::to_string(r - l + 1) + "x" + std::to_string(b - t + 1)) << bits;
      for (int i = 0; bits <= 8 && i < static_cast<int>(source.colour_count); ++i) ASSERT_EQ(imagefiles::colour_entry(cut, i), colour_entry(source, i));
      for (int y = t; y <= b; ++y)
        for (int x = l; x <= r; ++x) ASSERT_EQ(imagefiles::pixel_value(cut, x - l, y - t), pixel_value(source, x, y)) << bits;
      if (l == 0 && t == 0 && r == w - 1 && b == h - 1) { EXPECT_EQ(cut.dib, source.dib); }
    }
}

}  // namespace
}  // namespace vexa::resources
