// Fuzz target: the TGA reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagefiles/dispatch.h"
#include "read_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto set = std::make_unique<vexa::imagefiles::ImageSet>();
  vexa::imagefiles::ReadOptions options;
  options.alpha_threshold = size > 1 ? data[size / 2] : 128;
  options.max_image_bytes = vexa::fuzz::image_bytes;
  vexa::fuzz::check_read(vexa::imagefiles::read_tga(*set, vexa::imagefiles::Bytes(data, size), options), *set);
  return 0;
}
