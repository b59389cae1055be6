// What every image reader promises for any bytes: a file that fails leaves
// the set empty; one that loads leaves images whose derived fields agree with
// their blocks and whose every pixel can be read (the sanitizer build checks
// each access). A broken promise aborts, which the replay test reports.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "imagefiles/image.h"

namespace vexa::fuzz {

inline void check(bool condition) {
  if (!condition) std::abort();
}

inline void check_image(const imagefiles::Image& image) {
  imagefiles::Image copy = image;
  check(imagefiles::refresh_layout(copy) && copy.dib_size == image.dib_size && image.dib.size() == image.dib_size);
  std::uint32_t sum = 0;
  for (int y = 0; y < imagefiles::image_height(image); ++y)
    for (int x = 0; x < imagefiles::image_width(image); ++x) sum += imagefiles::pixel_value(image, x, y);
  asm volatile("" : : "r"(sum));  // the pixels must really be read
}

inline void check_read(int result, const imagefiles::ImageSet& set) {
  int loaded = 0;
  for (const imagefiles::Image& image : set.images) {
    if (imagefiles::is_empty(image)) continue;
    check(result == 1);
    check_image(image);
    ++loaded;
  }
  check(result != 1 || loaded > 0 || set.count > 0);
}

}  // namespace vexa::fuzz
