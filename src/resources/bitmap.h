// The module's bitmap block: header, shared palette, frame table and image
// data, each image raw or run-length coded. Pictures, buttons, animation
// frames, font glyphs and G16/G24 files all use this one format.
#pragma once

#include <cstdint>
#include <vector>

#include "imagefiles/image.h"

namespace vexa::resources {

inline constexpr int colour_format_16 = 2;  // 5-6-5 colour
inline constexpr int colour_format_24 = 3;  // blue, green, red

struct BitmapBlock {
  std::vector<std::uint8_t> block;
  std::uint32_t block_size = 0;
  int colour_format = colour_format_16;
  std::uint32_t palette = 22;      // offset of the palette
  std::uint32_t frame_table = 22;  // offset of the frame table
  std::uint32_t image_data = 22;   // offset of the first image's data
};

// Encodes the set (which may be converted in place to the stored depth).
// rle_mode: 0 never compress, 1 always, 2 when it pays; dithering is the
// DITHERING value (bit 0: diffuse the error when lowering to 16 bits).
bool encode_bitmap(imagefiles::ImageSet& set, BitmapBlock& descriptor, int rle_mode, int dithering);

// Run-length codes one row of units (unit = 1, 2 or 3 bytes) and appends the
// chunks to out; returns the bytes appended.
std::size_t encode_rle_row(const std::uint8_t* row, std::size_t row_bytes, int unit, std::vector<std::uint8_t>& out);

}  // namespace vexa::resources
