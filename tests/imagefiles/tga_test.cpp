// Hostile TGA files: layouts the reader does not take, packets that run past
// the picture, data that end early. What it makes of valid files is pinned by
// the img-tga-* projects and the corpus runs.
#include <gtest/gtest.h>

#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using test::ByteList;

// header -> id-length map-type type map-first map-length map-bits origin
//           width height depth descriptor; then the map and the data
struct Tga {
  int type = 2, width = 1, height = 1, depth = 24, map_bits = 24;
  ByteList map = {}, data = {};
  ByteList file() const {
    const int entries = static_cast<int>(map.size()) / std::max(1, map_bits / 8);
    ByteList out = {0, static_cast<std::uint8_t>(map.empty() ? 0 : 1), static_cast<std::uint8_t>(type), 0, 0,
                    static_cast<std::uint8_t>(entries), 0, static_cast<std::uint8_t>(map.empty() ? 0 : map_bits),
                    0, 0, 0, 0, static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
                    static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8),
                    static_cast<std::uint8_t>(depth), 0x20};
    for (const ByteList* part : {&map, &data})
      for (std::uint8_t byte : *part) out.push_back(byte);
    return out;
  }
};

int read(imagefiles::ImageSet& set, const ByteList& bytes) { return test::read_with(read_tga, set, bytes); }

TEST(ReadTga, PacketsThatRunPastThePictureOrEndEarly) {
  // A run of 4 (0x83) crosses the row's end; one of 128 stops at the picture's end.
  const ByteList packets = {0x83, 3, 2, 1, 0x01, 6, 5, 4, 9, 8, 7};
  imagefiles::ImageSet set;
  for (const ByteList& data : {packets, ByteList{0xFF, 3, 2, 1}}) {
    ASSERT_EQ(read(set, Tga{.type = 10, .width = 3, .height = 2, .data = data}.file()), 1);
    EXPECT_EQ(imagefiles::pixel_colour(set.images[1], 0, 1), imagefiles::rgb(1, 2, 3));
  }
  // Missing data fail, whether a packet header, a run value or literals,
  // and so do raw pixels cut short.
  for (std::size_t cut : {0, 2, 5, 9}) {
    const ByteList data(packets.begin(), packets.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_EQ(read(set, Tga{.type = 10, .width = 3, .height = 2, .data = data}.file()), 0) << cut;
    EXPECT_TRUE(imagefiles::is_empty(set.images[1]));
  }
  EXPECT_EQ(read(set, Tga{.width = 2, .data = {1, 2, 3, 4, 5}}.file()), 0);
}

TEST(ReadTga, UnsupportedLayoutsAreRejected) {
  std::vector<Tga> bad = {
      {.type = 1, .depth = 8, .map_bits = 16, .map = {1, 2}, .data = {0}},  // 16-bit map entries
      {.type = 1, .depth = 8, .data = {0}},                                 // colour-mapped without a map
      {.type = 1, .depth = 16, .map = {1, 2, 3}, .data = {0, 0}},          // 16-bit indices
      {.type = 1, .width = 0, .depth = 8, .map = {1, 2, 3}, .data = {0}},
      {.type = 1, .height = -3, .depth = 8, .map = {1, 2, 3}, .data = {0}},
  };
  for (int type : {0, 4, 8, 12, 32}) bad.push_back({.type = type, .depth = 8, .map = {1, 2, 3}, .data = {0}});
  for (int bits : {0, 8, 15, 48}) bad.push_back({.depth = bits, .data = ByteList(8, 0)});
  const ByteList good = Tga{.type = 1, .depth = 8, .map = {1, 2, 3}, .data = {0}}.file();
  imagefiles::ImageSet set;
  ASSERT_EQ(read(set, good), 1);
  for (const Tga& t : bad) {
    EXPECT_EQ(read(set, t.file()), 0) << t.type << " " << t.depth;
    EXPECT_TRUE(imagefiles::is_empty(set.images[1]));
  }
  ByteList header_only = Tga{}.file(), map_type_2 = good;
  header_only.resize(17);
  map_type_2[1] = 2;
  for (const ByteList& file : {header_only, map_type_2}) EXPECT_EQ(read(set, file), 0);
}

}  // namespace
}  // namespace vexa::imagefiles
