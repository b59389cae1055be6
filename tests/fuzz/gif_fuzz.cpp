// Fuzz target of the GIF reader: arbitrary bytes through decoding,
// composition and the colour analysis the compiler gives the screens.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/output.h"
#include "imagefiles/colour.h"
#include "imagefiles/dispatch.h"
#include "read_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto set = std::make_unique<imagefiles::ImageSet>();
  int colour_depth = 0;
  const int result = imagefiles::read_gif(*set, imagefiles::Bytes(data, size), colour_depth);
  fuzz::check_read(result, *set);
  if (result != 1) return 0;
  base::Output out;
  out.console = nullptr;  // the analysis' information lines go nowhere
  fuzz::check(imagefiles::analyse_file_colours(out, *set, colour_depth));
  fuzz::check_read(result, *set);
  return 0;
}
