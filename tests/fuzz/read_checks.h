// What every image reader promises for any bytes: a file that fails leaves
// the set empty; one that loads leaves images whose derived fields agree with
// their blocks and whose pixels can be read (the sanitizer build checks
// each access). A broken promise aborts, which the replay test reports.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "imagefiles/image.h"

namespace vexa::fuzz {

// The pixel bytes a picture may take in a fuzz run: every seed fits, and a
// header that claims a huge picture is refused before it costs a fuzz run
// milliseconds of allocation and pixel passes.
inline constexpr std::uint64_t image_bytes = 1u << 18;

inline void check(bool condition) {
  if (!condition) std::abort();
}

inline void check_image(const imagefiles::Image& image) {
  imagefiles::Image copy = image;
  check(imagefiles::refresh_layout(copy) && copy.dib_size == image.dib_size && image.dib.size() == image.dib_size);
  // Every pixel of a small picture, the corners of a large one: rows are
  // evenly spaced, so a layout that does not fit its block reads outside it
  // at a corner, and a pass over every pixel of a large picture would cost
  // the fuzz run more than the reader did.
  const int width = imagefiles::image_width(image), height = imagefiles::image_height(image);
  const bool small = std::int64_t{width} * height <= 4096;
  const int x_step = small ? 1 : std::max(1, width - 1), y_step = small ? 1 : std::max(1, height - 1);
  std::uint32_t sum = 0;
  for (int y = 0; y < height; y += y_step)
    for (int x = 0; x < width; x += x_step) sum += imagefiles::pixel_value(image, x, y);
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
