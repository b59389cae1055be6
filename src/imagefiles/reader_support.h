// Helpers shared by the image file readers: working memory for a whole
// picture, and an empty bitmap block with a colour table of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Working memory of a reader for a whole picture (decompressed data and the
// like), not zero-filled. Empty when memory runs out.
struct LargeBuffer {
  struct Free {
    void operator()(std::uint8_t* p) const;
  };
  std::unique_ptr<std::uint8_t[], Free> data;
  std::size_t size = 0;
};
bool allocate_large(LargeBuffer& buffer, std::size_t size);

// Asks the system to back a large block with huge pages. Decoding writes a
// whole picture's worth of fresh memory at least twice (decompressed rows,
// bitmap); with 4 KB pages the page faults alone cost as much as the
// decompression. Does nothing where the system has no such hint.
void advise_large(void* data, std::size_t size);

// Replaces the image by a zero-filled bitmap: 40-byte header, width, height
// (bottom-up), one plane, bits per pixel, 2500 pixels per metre, biClrUsed
// and biClrImportant = clr_used. Up to 8 bits, table_entries colour-table
// entries follow the header (clr_used must then be table_entries, or 0 when
// table_entries is 2 to the power of bits); 16 bits get compression 3 and
// the 5-6-5 masks (see create_dib). Fails (image empty) when a
// side is outside 1..base::limits::image_side, the pixel rows would exceed
// base::limits::image_bytes, or memory runs out.
bool create_bitmap(Image& image, std::int64_t width, std::int64_t height, int bits,
                   int table_entries, std::uint32_t clr_used);

}  // namespace vexa::imagefiles
