// Fuzz target of the GIF reader: arbitrary bytes through decoding, composition
// and the colour analysis of the composed screens.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/output.h"
#include "imagefiles/dispatch.h"
#include "read_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vexa::base::Output out;
  out.console = nullptr;  // the analysis' information lines go nowhere
  auto set = std::make_unique<vexa::imagefiles::ImageSet>();
  vexa::fuzz::check_read(vexa::imagefiles::read_gif(out, *set, vexa::imagefiles::Bytes(data, size)), *set);
  return 0;
}
