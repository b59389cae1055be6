// Fuzz target of the module's own image formats. Any bytes are read as a
// G16/G24 block; a block that loads is encoded again and read back, which
// must give the same numbers, sizes, delays and pixel values. The same bytes
// also go through the BH7, BLH and BLV readers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "imagefiles/image.h"
#include "imagefiles/native.h"
#include "read_checks.h"
#include "resources/bitmap.h"

using namespace vexa;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const imagefiles::Bytes file(data, size);
  auto single = std::make_unique<imagefiles::ImageSet>();
  for (auto read : {imagefiles::read_bh7, imagefiles::read_blh, imagefiles::read_blv})
    fuzz::check_read(read(*single, file, {}), *single);

  auto set = std::make_unique<imagefiles::ImageSet>();
  const int result = imagefiles::read_g16(*set, file);
  fuzz::check_read(result, *set);
  if (result != 1) return 0;
  auto copy = std::make_unique<imagefiles::ImageSet>();
  check(imagefiles::copy_set(*set, *copy));
  const int first = set->first_number;
  const int bits = imagefiles::has_image(*set, first) ? imagefiles::bit_count(set->images[first]) : 0;

  // Encoded at its own depth, the set must read back unchanged.
  resources::BitmapBlock block;
  block.colour_format = bits == 24 ? resources::colour_format_24 : resources::colour_format_16;
  if (bits == 0 || !resources::encode_bitmap(*set, block, 2, 0)) return 0;
  auto back = std::make_unique<imagefiles::ImageSet>();
  check(imagefiles::read_g16(*back, imagefiles::Bytes(block.block.data(), block.block_size)) == 1);
  check(back->first_number == copy->first_number && back->count == copy->count);
  for (int slot = first; slot < first + copy->count; ++slot) {
    const imagefiles::Image& a = copy->images[slot];
    const imagefiles::Image& b = back->images[slot];
    check(imagefiles::is_empty(a) == imagefiles::is_empty(b));
    if (imagefiles::is_empty(a)) continue;
    check(back->delays[slot] == copy->delays[slot]);
    check(imagefiles::image_width(a) == imagefiles::image_width(b));
    check(imagefiles::image_height(a) == imagefiles::image_height(b));
    check(imagefiles::bit_count(b) == bits);
    for (int y = 0; y < imagefiles::image_height(a); ++y)
      for (int x = 0; x < imagefiles::image_width(a); ++x)
        check(imagefiles::pixel_value(a, x, y) == imagefiles::pixel_value(b, x, y));
  }
  return 0;
}
