// Row access shared by the image operations of this folder: stored rows by
// number, and any depth read as 24-bit blue, green, red rows.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Stored row r (0 is the bottom row of the picture).
inline std::uint8_t* stored_row(Image& image, int r) {
  return image.dib.data() + image.pixels + static_cast<std::size_t>(image.row_stride) * static_cast<std::size_t>(r);
}
inline const std::uint8_t* stored_row(const Image& image, int r) {
  return image.dib.data() + image.pixels + static_cast<std::size_t>(image.row_stride) * static_cast<std::size_t>(r);
}

// Reads the stored rows of an image of any depth as 24-bit blue, green, red.
// A 24-bit image's rows are handed out as they are; every other depth is
// expanded into the caller's buffer (3 bytes per pixel).
struct RowReader {
  explicit RowReader(const Image& source)
      : image(source), bits(bit_count(source)), width(image_width(source)), five_six_five(is_565(source)) {
    if (bits <= 8)
      for (int i = 0; i < 256; ++i) palette[static_cast<std::size_t>(i)] = colour_entry(source, i);
  }

  const std::uint8_t* read(int r, std::uint8_t* buffer) const {
    const std::uint8_t* row = stored_row(image, r);
    std::uint8_t* out = buffer;
    auto put = [&out](Bgr c) {
      out[0] = c.blue;
      out[1] = c.green;
      out[2] = c.red;
      out += 3;
    };
    switch (bits) {
      case 1:
        for (int x = 0; x < width; ++x) put(palette[(row[x >> 3] >> (7 - (x & 7))) & 1]);
        break;
      case 4:
        for (int x = 0; x < width; ++x) put(palette[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)]);
        break;
      case 8:
        for (int x = 0; x < width; ++x) put(palette[row[x]]);
        break;
      case 16:
        for (int x = 0; x < width; ++x) {
          auto word = static_cast<std::uint16_t>(row[2 * x] | (row[2 * x + 1] << 8));
          put(five_six_five ? unpack_565(word) : unpack_555(word));
        }
        break;
      case 24:
        return row;
      case 32:
        for (int x = 0; x < width; ++x) put(Bgr{row[4 * x + 1], row[4 * x + 2], row[4 * x + 3]});
        break;
      default:
        std::memset(buffer, 0, static_cast<std::size_t>(width) * 3);
        break;
    }
    return buffer;
  }

  const Image& image;
  int bits;
  int width;
  bool five_six_five;
  std::array<Bgr, 256> palette{};  // entries beyond colour_count read as black
};

}  // namespace vexa::imagefiles
