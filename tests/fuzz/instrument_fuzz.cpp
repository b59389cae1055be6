// Fuzz target of instrument blocks, as an I16 file hands them over: any bytes
// are expanded to full pictures and to the frames as stored. A block that
// expands must give 16-bit frames that lie inside the background.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/bytes.h"
#include "imagefiles/image.h"
#include "resources/instruments.h"

namespace {

using namespace vexa::resources;
using namespace vexa::imagefiles;

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InstrumentBlock block;
  block.block.assign(data, data + size);
  block.block_size = static_cast<std::uint32_t>(size);
  auto set = std::make_unique<ImageSet>();
  for (int full = 0; full <= 1; ++full) {
    if (!expand_instrument_frames(*set, block, full)) continue;
    const int width = size >= 22 ? vexa::base::get_u16(data + 18) : 0;
    const int height = size >= 22 ? vexa::base::get_u16(data + 20) : 0;
    for (int slot = set->first_number; slot < set->first_number + set->count; ++slot) {
      const Image& image = set->images[static_cast<std::size_t>(slot)];
      if (is_empty(image)) continue;
      check(bit_count(image) == 16);
      check(image_width(image) <= width && image_height(image) <= height);
      if (full) check(image_width(image) == width && image_height(image) == height);
    }
  }
  return 0;
}
