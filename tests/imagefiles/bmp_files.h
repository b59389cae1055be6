// BMP files built byte by byte in the tests, from the format's field
// positions (independent of the reader under test).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/image.h"

namespace vexa::test {

using ByteList = std::vector<std::uint8_t>;

inline void put32(ByteList& b, std::size_t at, std::uint32_t v) { base::put_u32(b.data() + at, v); }

struct BmpSpec {
  int width = 1;
  int height = 1;  // negative: top-down
  int bits = 24;
  std::uint32_t compression = 0;
  std::uint32_t header_size = 40;
  std::vector<imagefiles::Bgr> table = {};  // colour table (biClrUsed = its size)
  std::vector<std::uint32_t> masks = {};  // inside a long header at 40, or after a 40-byte one
  std::uint32_t alpha_mask = 0;       // header offset 52 (headers of 56 bytes and more)
  ByteList pixels = {};               // everything after the table or masks
};

inline ByteList bmp_file(const BmpSpec& s) {
  // Fields of the 40-byte header; a shorter header keeps its first bytes.
  ByteList info(std::max<std::uint32_t>(s.header_size, 40), 0);
  const std::int64_t stride = ((static_cast<std::int64_t>(s.width) * s.bits + 31) / 32) * 4;
  const bool coded = s.compression == 1 || s.compression == 2;
  const auto size_image = static_cast<std::uint32_t>(coded ? s.pixels.size() : stride * std::abs(std::int64_t{s.height}));
  for (auto [at, v] : {std::pair{0, s.header_size}, {4, static_cast<std::uint32_t>(s.width)},
                       {8, static_cast<std::uint32_t>(s.height)}, {12, 1u | static_cast<std::uint32_t>(s.bits) << 16},
                       {16, s.compression}, {20, size_image}, {32, static_cast<std::uint32_t>(s.table.size())}})
    put32(info, at, v);
  info.resize(s.header_size);
  ByteList after;
  if (s.header_size >= 56) {
    for (std::size_t i = 0; i < s.masks.size() && i < 3; ++i) put32(info, 40 + 4 * i, s.masks[i]);
    put32(info, 52, s.alpha_mask);
  } else {
    for (std::uint32_t m : s.masks) after.insert(after.end(), {static_cast<std::uint8_t>(m), static_cast<std::uint8_t>(m >> 8),
                                                               static_cast<std::uint8_t>(m >> 16), static_cast<std::uint8_t>(m >> 24)});
  }
  for (imagefiles::Bgr c : s.table) after.insert(after.end(), {c.blue, c.green, c.red, 0});
  const std::size_t offset = 14 + info.size() + after.size();
  ByteList file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  put32(file, 10, static_cast<std::uint32_t>(offset));
  for (const ByteList* part : std::initializer_list<const ByteList*>{&info, &after, &s.pixels})
    file.insert(file.end(), part->begin(), part->end());
  put32(file, 2, static_cast<std::uint32_t>(file.size()));
  return file;
}

}  // namespace vexa::test
