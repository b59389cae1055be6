// Hostile BMP files: headers that lie about sizes and layouts, run-length data
// that end early. What the reader makes of valid files, and of runs that leave
// the picture, is pinned by the img-bmp-* projects and the corpus runs.
#include <gtest/gtest.h>

#include "bmp_files.h"
#include "imagefiles/bmp.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using imagefiles::Bgr;
using imagefiles::ImageSet;
using test::bmp_file;
using test::BmpSpec;
using test::ByteList;

int read(ImageSet& set, const ByteList& file, int threshold = 128) {
  return test::read_with(read_bmp, set, file, threshold);
}

TEST(ReadBmp, RejectsFilesThatLieOrAreNotHandled) {
  const ByteList good = bmp_file({.pixels = ByteList(4, 0)});
  std::vector<std::pair<const char*, ByteList>> bad;
  bad.emplace_back("one byte more than stored", good);
  bad.back().second.push_back(0);
  bad.emplace_back("stored size larger", good);
  test::put32(bad.back().second, 2, static_cast<std::uint32_t>(good.size() + 1));
  bad.emplace_back("signature", good);
  bad.back().second[1] = 'A';
  for (std::size_t n : {0, 1, 2, 6, 14, 30, 53}) {
    ByteList cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    if (cut.size() >= 6) test::put32(cut, 2, static_cast<std::uint32_t>(n));
    bad.emplace_back("headers cut short", cut);
  }
  const ByteList eight(8, 0);
  bad.emplace_back("rows past the end", bmp_file({.height = 3, .pixels = eight}));
  bad.emplace_back("huge sides", bmp_file({.width = 0x7FFFFFFF, .height = 0x7FFFFFFF, .pixels = eight}));
  bad.emplace_back("12-byte header", bmp_file({.header_size = 12, .pixels = eight}));
  bad.emplace_back("embedded JPEG", bmp_file({.compression = 4, .pixels = eight}));
  bad.emplace_back("RLE on 24 bits", bmp_file({.compression = 1, .pixels = eight}));
  bad.emplace_back("RLE4 on 8 bits", bmp_file({.bits = 8, .compression = 2, .table = {Bgr{}}, .pixels = eight}));
  bad.emplace_back("bit fields on 8 bits", bmp_file({.bits = 8, .compression = 3, .table = {Bgr{}}, .pixels = eight}));
  bad.emplace_back("2 bits", bmp_file({.bits = 2, .table = std::vector<Bgr>(4), .pixels = eight}));
  bad.emplace_back("top-down RLE", bmp_file({.height = -1, .bits = 8, .compression = 1, .table = {{}, {}}, .pixels = {0, 1}}));
  bad.emplace_back("lowest height", bmp_file({.height = INT32_MIN, .pixels = eight}));
  ImageSet set;
  ASSERT_EQ(read(set, good), 1);
  for (const auto& [what, file] : bad) {
    EXPECT_EQ(read(set, file), 0) << what;
    EXPECT_TRUE(imagefiles::is_empty(set.images[1])) << what;
  }
}

TEST(ReadBmp, RunLengthDataThatEndEarly) {
  // In a pair, a delta, an absolute run, or before the picture is complete.
  // (Runs and deltas past the picture are pinned by the img-bmp-rle8-* projects.)
  ImageSet set;
  for (ByteList code : {ByteList{}, ByteList{2}, ByteList{2, 1, 0, 2, 1}, ByteList{0, 4, 1, 2}, ByteList{2, 1, 0, 0}}) {
    const BmpSpec layout{.width = 2, .height = 2, .bits = 8, .compression = 1, .table = std::vector<Bgr>(4), .pixels = code};
    EXPECT_EQ(read(set, bmp_file(layout)), 0) << code.size();
    EXPECT_TRUE(imagefiles::is_empty(set.images[1]));
  }
}

TEST(ReadBmp, AlphaThresholdIsTheCallers) {
  // Alpha 127, 128, 0 and 255 (the img-bmp-32bit-alpha picture).
  const ByteList file = test::fixture("img-bmp-32bit-alpha/pic.bmp");
  for (auto [threshold, keyed] : {std::pair{129, 3}, std::pair{1, 1}, std::pair{0, 0}}) {
    ImageSet set;
    ASSERT_EQ(read(set, file, threshold), 1);
    int n = 0;
    for (int x = 0; x < 4; ++x) n += imagefiles::pixel_colour(set.images[1], x, 0) == set.transparent_colour;
    EXPECT_EQ(n, keyed) << threshold;
  }
}

std::vector<Bgr> colours_of(const imagefiles::Image& image) {
  std::vector<Bgr> colours;
  for (int x = 0; x < imagefiles::image_width(image); ++x) colours.push_back(imagefiles::pixel_colour(image, x, 0));
  return colours;
}

// 32-bit channels where the masks put them; alpha where the file has it.
TEST(ReadBmp, ThirtyTwoBitChannelsAndAlphaWhereTheFileSaysSo) {
  const Bgr key = imagefiles::rgb(0xAD, 0xFB, 0x5A);  // the first candidate key colour
  auto file = [](std::uint32_t header, std::uint32_t compression, std::vector<std::uint32_t> masks,
                 std::uint32_t alpha, ByteList pixels) {
    return bmp_file({.width = 4, .bits = 32, .compression = compression, .header_size = header, .masks = masks,
                     .alpha_mask = alpha, .pixels = pixels});
  };
  const ByteList bgra = {10, 20, 30, 127, 40, 50, 60, 128, 70, 80, 90, 0, 0, 0, 0, 0xFF};
  // Alpha first and red in the top byte, as its masks say: the same picture.
  const ByteList abgr = {127, 10, 20, 30, 128, 40, 50, 60, 0, 70, 80, 90, 0xFF, 0, 0, 0};
  for (const ByteList& bytes : {file(124, 3, {0xFF0000, 0xFF00, 0xFF}, 0xFF000000, bgra), file(40, 0, {}, 0, bgra),
                                file(124, 3, {0xFF000000, 0xFF0000, 0xFF00}, 0xFF, abgr)}) {
    ImageSet set;
    ASSERT_EQ(read(set, bytes), 1);
    ASSERT_EQ(set.transparent, 1);
    EXPECT_EQ(colours_of(set.images[1]),
              (std::vector<Bgr>{key, imagefiles::rgb(60, 50, 40), key, imagefiles::rgb(0, 0, 0)}));
  }
  // Narrow fields widened, an empty mask 0, no alpha; masks with nowhere to be refused.
  ImageSet set;
  ASSERT_EQ(read(set, file(40, 3, {0x7C00, 0x03E0, 0}, 0, {0x1F, 0x7C, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 1);
  EXPECT_EQ(set.transparent, 0);
  EXPECT_EQ(colours_of(set.images[1]), (std::vector<Bgr>{imagefiles::rgb(255, 0, 0), imagefiles::rgb(0, 198, 0),
                                                               imagefiles::rgb(0, 0, 0), imagefiles::rgb(0, 0, 0)}));
  EXPECT_EQ(read(set, file(44, 3, {}, 0, bgra)), 0);
}

}  // namespace
}  // namespace vexa::imagefiles
