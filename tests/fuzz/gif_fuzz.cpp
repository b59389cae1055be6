// Fuzz target of the GIF reader: arbitrary bytes through decoding, composition
// and the colour analysis of the composed screens.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "driver/output.h"
#include "imagefiles/dispatch.h"
#include "read_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vexa::driver::Output out;
  out.console = nullptr;  // the analysis' information lines go nowhere
  vexa::imagefiles::ReadOptions options;
  options.max_image_bytes = vexa::fuzz::image_bytes;
  auto set = std::make_unique<vexa::resources::ImageSet>();
  vexa::fuzz::check_read(vexa::imagefiles::read_gif(out, *set, vexa::imagefiles::Bytes(data, size), options), *set);
  return 0;
}
