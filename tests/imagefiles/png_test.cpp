// Hostile PNG files: chunks that fail their CRC or overrun the file, headers
// the format does not define, and zlib streams that end early, go on too long
// or are no zlib at all. What the reader makes of valid files is pinned by the
// img-png-* projects and the corpus runs.
#include <gtest/gtest.h>
#include <zlib.h>

#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using test::ByteList;

void put_be32(ByteList& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// chunk -> length type data crc
ByteList chunk(const std::string& type, const ByteList& data) {
  ByteList out;
  out.reserve(12 + data.size());
  put_be32(out, static_cast<std::uint32_t>(data.size()));
  out.insert(out.end(), type.begin(), type.end());
  out.insert(out.end(), data.begin(), data.end());
  put_be32(out, static_cast<std::uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(out.size() - 4))));
  return out;
}

ByteList deflate(const ByteList& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  ByteList out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

ByteList ihdr(std::uint32_t width, int depth, int colour_type) {
  ByteList data;
  put_be32(data, width);
  put_be32(data, 2);
  data.insert(data.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0, 0});
  return chunk("IHDR", data);
}

// The signature and the chunks given one after the other.
ByteList png(const std::vector<ByteList>& chunks) {
  ByteList out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const ByteList& c : chunks) out.insert(out.end(), c.begin(), c.end());
  return out;
}

int read(imagefiles::ImageSet& set, const ByteList& file) { return test::read_with(read_png, set, file); }

// 3 x 2 grey (every IHDR here has height 2), each row with filter byte 0.
const ByteList scanlines = {0, 1, 2, 3, 0, 4, 5, 6};

TEST(ReadPng, EveryChunkIsCheckedByItsCrc) {
  const ByteList text = chunk("tEXt", {'a', 0, 'b'}), unknown = chunk("zzZz", {});
  const ByteList good = png({ihdr(3, 8, 0), text, unknown, chunk("IDAT", deflate(scanlines)), chunk("IEND", {})});
  imagefiles::ImageSet set;
  ASSERT_EQ(read(set, good), 1);
  // Every byte of the ignored chunks behind the IHDR, and the IEND's CRC.
  const std::size_t first = 8 + 25, end = first + text.size() + unknown.size();
  for (std::size_t at = first; at <= end; ++at) {
    ByteList bad = good;
    bad[at == end ? good.size() - 1 : at] ^= 0x01;
    EXPECT_EQ(read(set, bad), 0) << "byte " << at;
    EXPECT_TRUE(imagefiles::is_empty(set.images[1]));
  }
}

TEST(ReadPng, HeadersAndStreamsThatLie) {
  const ByteList idat = chunk("IDAT", deflate(scanlines)), iend = chunk("IEND", {});
  std::vector<std::pair<std::string, ByteList>> bad;
  // Depth and colour type pairs the format does not define, and sides
  // outside 1 to 65535.
  for (auto [type, depth] : {std::pair{2, 4}, {3, 16}, {4, 4}, {6, 1}, {0, 3}, {1, 8}, {5, 8}})
    bad.emplace_back("type " + std::to_string(type) + " depth " + std::to_string(depth),
                     png({ihdr(3, depth, type), chunk("PLTE", {1, 2, 3}), idat, iend}));
  for (std::uint32_t width : {0u, 65536u}) bad.emplace_back("width", png({ihdr(width, 8, 0), idat, iend}));
  const ByteList largest = {0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 16, 6, 0, 0, 0};  // 65535 x 65535 of 64 bits
  bad.emplace_back("picture beyond the memory bound", png({chunk("IHDR", largest), idat, iend}));
  bad.emplace_back("no IEND", png({ihdr(3, 8, 0), idat}));
  bad.emplace_back("no IDAT", png({ihdr(3, 8, 0), iend}));
  bad.emplace_back("IDAT before IHDR", png({idat, ihdr(3, 8, 0), iend}));
  bad.emplace_back("palette without PLTE", png({ihdr(3, 8, 3), idat, iend}));
  ByteList overrun = png({ihdr(3, 8, 0), idat, iend});
  overrun[33 + 3] = 0x7F;  // the IDAT's length
  bad.emplace_back("chunk past the end", overrun);
  const ByteList stream = deflate(scanlines);
  ByteList zlib = stream, filter = scanlines;
  zlib[0] = 0x79;  // compression method 9
  filter[4] = 5;
  const std::pair<const char*, ByteList> streams[] = {
      {"data short of the picture", deflate(ByteList(scanlines.begin(), scanlines.end() - 1))},
      {"stream cut short", ByteList(stream.begin(), stream.begin() + 4)},
      {"not zlib", zlib},
      {"filter type 5", deflate(filter)},
  };
  for (const auto& [what, data] : streams) bad.emplace_back(what, png({ihdr(3, 8, 0), chunk("IDAT", data), iend}));
  imagefiles::ImageSet set;
  for (const auto& [what, bytes] : bad) {
    EXPECT_EQ(read(set, bytes), 0) << what;
    EXPECT_TRUE(imagefiles::is_empty(set.images[1])) << what;
  }

  // Data behind the last scanline belong to no pixel, and neither do bytes
  // behind IEND.
  ByteList long_data = scanlines;
  long_data.insert(long_data.end(), 1000, 0xEE);
  ByteList trailing = png({ihdr(3, 8, 0), chunk("IDAT", deflate(long_data)), iend});
  trailing.push_back(0x55);
  ASSERT_EQ(read(set, trailing), 1);
  EXPECT_EQ(test::values_of(set.images[1]), (std::vector<unsigned>{1, 2, 3, 4, 5, 6}));
}

TEST(ReadPng, TheRgbKeyIsTheTrnsColourEvenWithGamma) {
  // 16-bit colour 1 x 2 of the tRNS colour (0x10, 0x20, 0x30 in high bytes); gAMA 0.45455.
  const ByteList rows = {0, 0x10, 0, 0x20, 0, 0x30, 0, 0, 0x10, 0, 0x20, 0, 0x30, 0};
  const ByteList file = png({ihdr(1, 16, 2), chunk("gAMA", {0, 0, 0xB1, 0x8F}), chunk("tRNS", {0x10, 0x11, 0x20, 0x22, 0x30, 0x33}),
                             chunk("IDAT", deflate(rows)), chunk("IEND", {})});
  imagefiles::ImageSet set;
  ASSERT_EQ(test::read_with(read_png, set, file, 128, 1), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, imagefiles::rgb(0x10, 0x20, 0x30));
  EXPECT_NE(imagefiles::pixel_colour(set.images[1], 0, 0), set.transparent_colour);  // the pixels are corrected
}

}  // namespace
}  // namespace vexa::imagefiles
