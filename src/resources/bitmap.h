// Encoding an image set as the module's bitmap block (see
// imagefiles/bitmap_block.h for the format). Pictures, buttons, animation
// frames, font glyphs, borders, patterns and G16/G24 exports are encoded here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "imagefiles/bitmap_block.h"
#include "imagefiles/image.h"

namespace vexa::resources {

using imagefiles::colour_format_16;
using imagefiles::colour_format_24;

struct BitmapBlock {
  std::vector<std::uint8_t> block;
  std::uint32_t block_size = 0;          // may be below block.size() once glyphs share their data
  int colour_format = colour_format_16;  // asked of the encoder
};

// The bytes of an encoded block, block_size of them, and its header (all
// fields at their defaults when the block is shorter than a header). Block
// is a BitmapBlock or an InstrumentBlock.
template <typename Block>
base::Bytes block_bytes(const Block& block) {
  return base::Bytes(block.block.data(), std::min<std::size_t>(block.block_size, block.block.size()));
}
template <typename Block>
imagefiles::BlockHeader block_header(const Block& block) {
  imagefiles::BlockHeader header;
  imagefiles::read_block_header(block_bytes(block), header);
  return header;
}

// Encodes the set (which may be converted in place to the stored depth).
// rle_mode: 0 never compress, 1 always, 2 when it pays; dithering is the
// DITHERING value (bit 0: diffuse the error when lowering to 16 bits).
bool encode_bitmap(imagefiles::ImageSet& set, BitmapBlock& descriptor, int rle_mode, int dithering);

}  // namespace vexa::resources
