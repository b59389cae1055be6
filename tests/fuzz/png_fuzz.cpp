// Fuzz target: the PNG reader on arbitrary bytes, with and without gamma
// correction (which adds the gAMA table to the paths taken).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagefiles/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto set = std::make_unique<vexa::resources::ImageSet>();
  vexa::imagefiles::ReadOptions options;
  options.gamma = size > 0 && (data[size - 1] & 1);
  options.alpha_threshold = size > 1 ? data[size / 2] : 128;
  vexa::imagefiles::read_png(*set, vexa::imagefiles::Bytes(data, size), options);
  return 0;
}
