// Fuzz target of the GIF reader: arbitrary bytes through decoding,
// composition and the colour analysis the compiler gives the screens.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/output.h"
#include "imagefiles/dispatch.h"
#include "read_checks.h"
#include "resources/colour.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto set = std::make_unique<imagefiles::ImageSet>();
  imagefiles::ReadOptions options;
  options.max_image_bytes = fuzz::image_bytes;
  int colour_depth = 0;
  const int result = imagefiles::read_gif(*set, imagefiles::Bytes(data, size), options, colour_depth);
  fuzz::check_read(result, *set);
  if (result != 1) return 0;
  base::ReportLines lines;
  fuzz::check(resources::analyse_file_colours(*set, colour_depth, lines));
  fuzz::check_read(result, *set);
  return 0;
}
