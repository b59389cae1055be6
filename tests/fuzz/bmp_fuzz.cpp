// Fuzz target of the BMP reader: any bytes are read as a BMP file, as they
// are and with the stored file size set to their length, so that cut or
// changed copies get past that check to the headers and pixel data. A file
// that loads is then written into a bitmap block, so that every later step
// sees what the reader produced.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/dispatch.h"
#include "read_checks.h"
#include "resources/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  std::vector<std::uint8_t> sized(data, data + size);
  if (size >= 6) base::put_u32(sized.data() + 2, static_cast<std::uint32_t>(size));
  imagefiles::ReadOptions options;
  options.alpha_threshold = size > 0 ? data[size - 1] : 128;
  options.max_image_bytes = fuzz::image_bytes;
  for (const std::uint8_t* bytes : {data, static_cast<const std::uint8_t*>(sized.data())}) {
    auto set = std::make_unique<imagefiles::ImageSet>();
    const int result = imagefiles::read_bmp(*set, imagefiles::Bytes(bytes, size), options);
    fuzz::check_read(result, *set);
    if (result != 1) continue;
    set->first_number = 1;
    set->count = 1;
    resources::BitmapBlock block;
    resources::encode_bitmap(*set, block, 2, 0);
  }
  return 0;
}
