// Fuzz target of the BMP reader: any bytes are read as a BMP file; a file
// that loads is then walked pixel by pixel and written into a bitmap block,
// so that every later step sees what the reader produced.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "imagefiles/dispatch.h"
#include "resources/bitmap.h"
#include "resources/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto owned = std::make_unique<resources::ImageSet>();
  resources::ImageSet& set = *owned;
  imagefiles::ReadOptions options;
  options.alpha_threshold = size > 0 ? data[size - 1] : 128;
  if (imagefiles::read_bmp(set, imagefiles::Bytes(data, size), options) != 1) return 0;
  set.first_number = 1;
  set.count = 1;
  const resources::Image& image = set.images[1];
  std::uint32_t sum = 0;
  for (int y = 0; y < resources::image_height(image); ++y)
    for (int x = 0; x < resources::image_width(image); ++x) sum += resources::pixel_value(image, x, y);
  resources::BitmapBlock block;
  resources::encode_bitmap(set, block, 2, 0);
  return static_cast<int>(sum & 0);
}
