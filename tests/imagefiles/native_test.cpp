// The module's own formats: files whose length or frame table lies, many
// images sharing one short run, and the G16/G24 writer. What the readers
// make of valid files, and of wrong signatures and depths, is pinned by the
// img-blh/blv/bh7/g16/g24 projects.
#include <gtest/gtest.h>

#include <memory>

#include "imagefiles/native.h"
#include "reader_test_support.h"
#include "resources/exports.h"

namespace vexa::imagefiles {
namespace {

using imagefiles::ImageSet;
using test::ByteList;

Bytes bytes_of(const ByteList& file) { return Bytes(file.data(), file.size()); }

TEST(ReadNative, LengthsMustBeExact) {
  using Read = int (*)(ImageSet&, Bytes, const ReadOptions&);
  const std::pair<const char*, Read> files[] = {{"img-blh/pic.blh", read_blh},       {"img-blh-command/pic.blh", read_blh},
                                                {"img-blv/pic.blv", read_blv},       {"img-blv-command/pic.blv", read_blv},
                                                {"img-bh7-8bit/pic.bh7", read_bh7}, {"img-bh7-4bit/pic.bh7", read_bh7}};
  auto set = std::make_unique<ImageSet>();
  for (const auto& [name, read] : files)
    for (int change : {0, 1, -1}) {
      ByteList file = test::fixture(name);
      file.resize(file.size() + change);
      EXPECT_EQ(read(*set, bytes_of(file), {}), change == 0 ? 1 : 0) << name << " " << change;
      EXPECT_EQ(imagefiles::is_empty(set->images[1]), change != 0);
    }
}

TEST(ReadG16, RefusesDamagedBlocksAsAWhole) {
  // Numbers 3 to 5 of 8 bits: image 3 raw 2 x 2, 4 a gap, 5 run-length
  // coded 6 x 2 (its last row: literal 0 1 0, then 1 three times).
  const ByteList good = test::fixture("img-g16-8bit/pic.g16");
  const std::size_t end = good.size();
  struct Change { std::size_t at; std::uint8_t value; const char* what; };
  const Change changes[] = {
      {1, 'V', "signature"},
      {7, 'g', "G"},
      {10, 2, "depth 2"},
      {17, 2, "last below first"},
      {12, 2, "transparent index beyond the palette"},
      {22 + 4 + 2, 0, "image 3 height 0"},
      {22 + 4 + 16 + 6, 1, "image 5 offset beyond 64 KiB"},
      {22 + 4 + 16 + 4, static_cast<std::uint8_t>(end), "image 5 data start at the end"},
      {end - 6, 0x86, "a run of 7 in a row of 6"},
      {end - 6, 0x05, "a literal past the file"},
  };
  auto set = std::make_unique<ImageSet>();
  ASSERT_EQ(read_g16(*set, bytes_of(good)), 1);
  for (const Change& c : changes) {
    ByteList b = good;
    b[c.at] = c.value;
    EXPECT_EQ(read_g16(*set, bytes_of(b)), 0) << c.what;
    EXPECT_EQ(set->count, 0) << c.what;
    for (const imagefiles::Image& image : set->images) EXPECT_TRUE(imagefiles::is_empty(image)) << c.what;
  }
}

TEST(ReadG16, EntriesSharingOneShortRunStayWithinTheSizeLimit) {
  // 256 entries of one size at 8 bits, all pointing at the same repeat
  // chunks of 128 units. Small pictures load; pictures of 4096 x 4096 would
  // each fit the file's data and the per-image limit, but together they are
  // refused before anything is allocated.
  auto shared = [](int side) {
    ByteList file = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 8, 0, 0, 2, 0, 0, 0, 255, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0};
    const int data = 22 + 4 + 256 * 8;
    for (int i = 0; i < 256; ++i)
      file.insert(file.end(), {static_cast<std::uint8_t>(side), static_cast<std::uint8_t>(side >> 8),
                               static_cast<std::uint8_t>(side), static_cast<std::uint8_t>(side >> 8),
                               static_cast<std::uint8_t>(data), static_cast<std::uint8_t>(data >> 8), 0, 0x80});
    for (int i = 0; i < side * side / 128; ++i) file.insert(file.end(), {0xFF, 1});
    return file;
  };
  auto set = std::make_unique<ImageSet>();
  ASSERT_EQ(read_g16(*set, bytes_of(shared(256))), 1);
  EXPECT_EQ(set->count, 256);
  EXPECT_EQ(imagefiles::pixel_value(set->images[255], 255, 255), 1u);
  EXPECT_EQ(read_g16(*set, bytes_of(shared(4096))), 0);
  EXPECT_EQ(set->count, 0);
}

TEST(WriteG16, TheNameChoosesSixteenOrTwentyFourBits) {
  // The 24-bit picture of img-bmp-32bit-plain: (30, 20, 10), (60, 50, 40), (90, 80, 70).
  test::TempDir dir;
  auto set = std::make_unique<ImageSet>(), back = std::make_unique<ImageSet>();
  const ByteList bmp = test::fixture("img-bmp-32bit-plain/pic.bmp");
  ASSERT_EQ(read_bmp(*set, bytes_of(bmp), {}), 1);
  set->first_number = set->count = 1;
  for (auto [name, bits] : {std::pair{"pic.g24", 24}, std::pair{"pic.G16", 16}, std::pair{"pic.txt", 16}}) {
    ASSERT_EQ(resources::write_g16(*set, dir.file(name)), 1) << name;
    ASSERT_EQ(read_g16(*back, bytes_of(test::read_bytes(dir.file(name)))), 1) << name;
    EXPECT_EQ(imagefiles::bit_count(back->images[1]), bits) << name;
    EXPECT_EQ(imagefiles::pixel_colour(back->images[1], 2, 0),
              bits == 24 ? imagefiles::rgb(90, 80, 70) : imagefiles::round_565(imagefiles::rgb(90, 80, 70)));
  }
  // Nothing to encode, or a folder that does not exist: 0, no file.
  EXPECT_EQ(resources::write_g16(*back, dir.file("missing/pic.g16")), 0);
  imagefiles::clear_set(*set);
  EXPECT_EQ(resources::write_g16(*set, dir.file("empty.g16")), 0);
  EXPECT_FALSE(test::file_exists(dir.file("empty.g16")));
}

}  // namespace
}  // namespace vexa::imagefiles
