// PNG reader internals that tests check directly. The reader itself,
// read_png, is declared with the other readers in dispatch.h.
#pragma once

#include <cstdint>

namespace vexa::imagefiles {

// Bytes the image data of a PNG decompress to: for every scanline (of every
// Adam7 pass that is not empty when interlaced) one filter byte plus the
// packed samples. Returns false when the sides are outside 1..base::limits::image_side
// or the result exceeds base::limits::image_bytes.
bool png_image_data_size(std::uint32_t width, std::uint32_t height, int bits_per_pixel, bool interlaced,
                         std::uint64_t& size);

}  // namespace vexa::imagefiles
