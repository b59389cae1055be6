// Fuzz target: the JPEG reader (libjpeg behind the project's error manager)
// on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagefiles/dispatch.h"
#include "read_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vexa::imagefiles::ReadOptions options;
  options.max_image_bytes = vexa::fuzz::image_bytes;
  auto set = std::make_unique<vexa::imagefiles::ImageSet>();
  vexa::fuzz::check_read(vexa::imagefiles::read_jpeg(*set, vexa::imagefiles::Bytes(data, size), options), *set);
  return 0;
}
