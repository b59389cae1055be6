// Picture project throughput: the vexac program compiles a generated project
// of 20 photo-like 24-bit pictures of 480 x 272 for a VexaG6 with the default
// settings (each picture lowered to 16 bits with error diffusion and coded
// where that pays). Reports wall and cpu time, megapixels per second and the
// program's peak memory; the best of several runs counts, since the machine
// is shared.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "compile_runs.h"
#include "imagefiles/bmp.h"
#include "imagefiles/image.h"
#include "imagefiles/row_reader.h"

namespace {

constexpr int pictures = 20;
constexpr int width = 480;
constexpr int height = 272;
constexpr int runs = 5;

// Smooth gradients, a soft shape that moves from picture to picture, and
// sensor-like noise: many distinct colours and few runs of equal pixels, as
// in a photograph.
std::vector<std::uint8_t> photo_like_bmp(int index, std::mt19937& random) {
  vexa::imagefiles::Image image;
  vexa::imagefiles::create_image(image, width, height, 24);
  std::normal_distribution<double> noise(0.0, 3.0);
  const double cx = 0.2 + 0.03 * index, cy = 0.3 + 0.02 * index;
  for (int row = 0; row < height; ++row) {
    std::uint8_t* p = vexa::imagefiles::stored_row(image, row);
    for (int x = 0; x < width; ++x) {
      double u = x / double(width), v = row / double(height);
      double sky = 0.5 + 0.5 * std::sin(3.0 * u + 2.0 * v + index);
      double dx = u - cx, dy = v - cy;
      double blob = std::exp(-(dx * dx + dy * dy) * 18.0);
      double red = 40 + 150 * sky * (1 - v) + 90 * blob + noise(random);
      double green = 60 + 120 * v + 60 * blob * sky + noise(random);
      double blue = 90 + 140 * sky * u - 50 * blob + noise(random);
      p[3 * x] = static_cast<std::uint8_t>(std::clamp(blue, 0.0, 255.0));
      p[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(green, 0.0, 255.0));
      p[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(red, 0.0, 255.0));
    }
  }
  return vexa::imagefiles::bmp_file_bytes(image);
}

}  // namespace

int main() {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vexa-bench-pictures-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::mt19937 random(2024);
  std::string text = "VexaG6 <Pictures>\n";
  for (int i = 0; i < pictures; ++i) {
    std::string name = "photo" + std::to_string(i) + ".bmp";
    std::vector<std::uint8_t> bmp = photo_like_bmp(i, random);
    std::ofstream(dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bmp.data()),
                                                        static_cast<std::streamsize>(bmp.size()));
    text += "PICTURE " + std::to_string(i) + ",<.\\" + name + ">\n";
  }
  std::ofstream(dir / "pictures.txt", std::ios::binary) << text;

  vexa::bench::CompileRuns r;
  const bool ok = vexa::bench::time_compiles(dir, "pictures.txt", runs, r);
  std::filesystem::remove_all(dir);
  if (!ok) return 1;
  const double megapixels = pictures * double(width) * height / 1e6;
  std::printf("pictures: %d pictures of %dx%d (%.2f megapixels), best of %d: %.3f s wall (%.1f megapixels/s), "
              "%.3f s cpu (%.1f megapixels/s), peak memory %.1f MB, upload %ju bytes\n",
              pictures, width, height, megapixels, runs, r.wall_seconds, megapixels / r.wall_seconds, r.cpu_seconds,
              megapixels / r.cpu_seconds, r.peak_mb, r.upload_bytes);
  std::printf("targets: < 0.5 s, < 64 MB\n");
  return 0;
}
