// A small BMP decoder for checking the pictures the compiler writes (overview
// sheets, glyph dumps), written from the format's field positions and
// independent of the program's reader: uncompressed 1-, 4-, 8- and 24-bit
// files with a 40-byte header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/image.h"
#include "test_support.h"

namespace vexa::test {

struct DecodedBmp {
  int width = 0;
  int height = 0;
  int bits = 0;
  std::uint32_t x_pels = 0;
  std::uint32_t y_pels = 0;
  std::vector<resources::Bgr> table;
  std::vector<resources::Bgr> pixels;  // top row first
  resources::Bgr at(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
  }
  bool ink(int x, int y) const { return at(x, y) == resources::rgb(0, 0, 0); }
};

// Empty result (width 0) for anything it does not understand.
inline DecodedBmp decode_bmp(const std::vector<std::uint8_t>& f) {
  DecodedBmp d;
  auto u32 = [&](std::size_t at) -> std::uint32_t {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
  };
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M' || u32(2) != f.size() || u32(14) != 40) return d;
  const int width = static_cast<int>(u32(18));
  const int height = static_cast<int>(u32(22));
  const int bits = f[28] | f[29] << 8;
  if (width < 1 || height < 1 || u32(30) != 0) return d;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24) return d;
  std::uint32_t colours = u32(46);
  if (bits <= 8 && colours == 0) colours = 1u << bits;
  if (bits == 24) colours = 0;
  for (std::uint32_t i = 0; i < colours; ++i) {
    const std::size_t at = 54 + 4 * i;
    if (at + 4 > f.size()) return d;
    d.table.push_back(resources::Bgr{f[at], f[at + 1], f[at + 2]});
  }
  const std::size_t offset = u32(10);
  const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
  if (offset != 54 + 4 * colours || offset + stride * height != f.size()) return d;
  d.pixels.resize(static_cast<std::size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = f.data() + offset + stride * static_cast<std::size_t>(height - 1 - y);
    for (int x = 0; x < width; ++x) {
      resources::Bgr c;
      if (bits == 24) {
        c = resources::Bgr{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
      } else {
        unsigned index = bits == 1   ? (row[x / 8] >> (7 - x % 8)) & 1
                         : bits == 4 ? (x % 2 == 0 ? row[x / 2] >> 4 : row[x / 2] & 15)
                                     : row[x];
        if (index >= d.table.size()) return DecodedBmp{};
        c = d.table[index];
      }
      d.pixels[static_cast<std::size_t>(y) * width + x] = c;
    }
  }
  d.width = width;
  d.height = height;
  d.bits = bits;
  d.x_pels = u32(38);
  d.y_pels = u32(42);
  return d;
}

inline DecodedBmp decode_bmp_file(const std::string& path) { return decode_bmp(read_bytes(path)); }

}  // namespace vexa::test
