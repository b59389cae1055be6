// Times the path a picture takes through the compiler: a 800 x 480 24-bit
// photo-like BMP is read from memory, fitted to 480 x 272, its colours are
// analysed, it is lowered to 16 bits with error diffusion and encoded as a
// bitmap block with automatic run-length coding. Prints the time and the
// megapixels per second of every step (pixels the step works on) and of the
// whole path (pixels of the source picture).
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/bmp.h"
#include "imagefiles/colour.h"
#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"
#include "imagefiles/row_reader.h"
#include "resources/bitmap.h"
#include "resources/colour.h"
#include "resources/resize.h"

namespace {

using namespace vexa;
using Clock = std::chrono::steady_clock;

constexpr int source_width = 800;
constexpr int source_height = 480;
constexpr int fit_width = 480;
constexpr int fit_height = 272;
constexpr int runs = 60;  // the best run counts: the machine is shared

// Smooth gradients, a few soft shapes and sensor-like noise: many distinct
// colours and few runs of equal pixels, as in a photograph.
std::vector<std::uint8_t> photo_like_bmp() {
  imagefiles::Image image;
  imagefiles::create_image(image, source_width, source_height, 24);
  std::mt19937 random(2024);
  std::normal_distribution<double> noise(0.0, 3.0);
  for (int row = 0; row < source_height; ++row) {
    std::uint8_t* p = imagefiles::stored_row(image, row);
    for (int x = 0; x < source_width; ++x) {
      double u = x / double(source_width), v = row / double(source_height);
      double sky = 0.5 + 0.5 * std::sin(3.0 * u + 2.0 * v);
      double dx = u - 0.6, dy = v - 0.4;
      double blob = std::exp(-(dx * dx + dy * dy) * 18.0);
      double red = 40 + 150 * sky * (1 - v) + 90 * blob + noise(random);
      double green = 60 + 120 * v + 60 * std::sin(9.0 * u) * blob + noise(random);
      double blue = 80 + 140 * (1 - sky) * u + noise(random);
      p[3 * x] = static_cast<std::uint8_t>(std::clamp(blue, 0.0, 255.0));
      p[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(green, 0.0, 255.0));
      p[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(red, 0.0, 255.0));
    }
  }
  return imagefiles::bmp_file_bytes(image);
}

struct Step {
  const char* name;
  double best_ms = 1e30;
  double pixels = 0;
};

double elapsed_ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double image_pixels(const imagefiles::ImageSet& set) {
  const imagefiles::Image& image = set.images[1];
  return double(imagefiles::image_width(image)) * imagefiles::image_height(image);
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> file = photo_like_bmp();
  auto owned_set = std::make_unique<imagefiles::ImageSet>();
  imagefiles::ImageSet& set = *owned_set;

  Step steps[] = {{"load (read_bmp)"}, {"fit to 480x272"}, {"colour analysis"}, {"16-bit, dithered"},
                  {"RLE encoding"}};
  double best_total = 1e30;
  std::uint32_t block_size = 0;
  for (int run = 0; run < runs; ++run) {
    resources::BitmapBlock block;
    imagefiles::clear_set(set);
    double ms[5];

    Clock::time_point start = Clock::now(), t = start;
    int ok = imagefiles::read_bmp(set, imagefiles::Bytes(file.data(), file.size()), imagefiles::ReadOptions{});
    set.count = 1;
    set.first_number = 1;
    ms[0] = elapsed_ms(t);
    steps[0].pixels = image_pixels(set);

    t = Clock::now();
    steps[1].pixels = image_pixels(set);
    base::ReportLines lines;
    ok = ok && resources::fit_set(set, fit_width, fit_height, true, 0, lines);
    ms[1] = elapsed_ms(t);

    t = Clock::now();
    steps[2].pixels = image_pixels(set);
    ok = ok && resources::analyse_set_colours(set, 16, lines);
    ms[2] = elapsed_ms(t);

    t = Clock::now();
    steps[3].pixels = image_pixels(set);
    ok = ok && resources::convert_set_depth(set, 16, 1);
    ms[3] = elapsed_ms(t);

    t = Clock::now();
    steps[4].pixels = image_pixels(set);
    ok = ok && resources::encode_bitmap(set, block, 2, 1);
    ms[4] = elapsed_ms(t);

    double total = elapsed_ms(start);
    if (!ok) {
      std::printf("the picture path failed\n");
      return 1;
    }
    for (int i = 0; i < 5; ++i) steps[i].best_ms = std::min(steps[i].best_ms, ms[i]);
    best_total = std::min(best_total, total);
    block_size = block.block_size;
  }

  std::printf("picture path: %dx%d 24-bit photo-like BMP, best of %d runs\n", source_width, source_height, runs);
  for (const Step& step : steps)
    std::printf("  %-20s %8.3f ms %9.1f Mpixel/s  (%.0f pixels)\n", step.name, step.best_ms,
                step.pixels / step.best_ms / 1000.0, step.pixels);
  const double source_pixels = double(source_width) * source_height;
  std::printf("  %-20s %8.3f ms %9.1f Mpixel/s  (source pixels; block %u bytes)\n", "whole path", best_total,
              source_pixels / best_total / 1000.0, block_size);
  return 0;
}
