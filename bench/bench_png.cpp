// PNG decoding throughput: this program's reader against the system's libpng
// and libspng on large pictures generated and encoded in memory (libpng's own
// encoder, default filter choice and compression). Each file is decoded
// several times by all three in turn, in the same run; the best processor
// time of each counts. A ratio is the other decoder's time divided by ours (1.0 = as fast,
// above 1 = faster), per kind of picture and over the whole set.
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "imagefiles/dispatch.h"

namespace {

struct Picture {
  std::string name;
  int width;
  int height;
  int colour_type;  // PNG_COLOR_TYPE_*
  int interlace;    // PNG_INTERLACE_*
  std::vector<std::uint8_t> file;
};

// Photo-like content: smooth gradients with a little noise, so that the
// filters and the compressor see what they see in real pictures.
std::vector<std::uint8_t> generate(int width, int height, int channels) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
  std::uint32_t seed = 12345;
  std::size_t i = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      seed = seed * 1664525u + 1013904223u;
      int noise = static_cast<int>((seed >> 24) & 15) - 8;
      int base[4] = {(x * 255) / width, (y * 255) / height, ((x + y) * 127) / (width + height) + 64,
                     (x / 64 + y / 64) % 2 ? 255 : (x * 7 + y) & 255};
      for (int c = 0; c < channels; ++c) {
        int v = base[c] + (c == 3 ? 0 : noise);
        pixels[i++] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
      }
    }
  }
  return pixels;
}

void write_to_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

std::vector<std::uint8_t> encode(int width, int height, int colour_type, int interlace,
                                 const std::vector<std::uint8_t>& pixels, int channels) {
  std::vector<std::uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, write_to_vector, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, colour_type, interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[256];
    for (int i = 0; i < 256; ++i)
      palette[i] = png_color{static_cast<png_byte>(i), static_cast<png_byte>(255 - i), static_cast<png_byte>(i / 2)};
    png_set_PLTE(png, info, palette, 256);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(pixels.data()) + static_cast<std::size_t>(y) * width * channels;
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct Reader {
  const std::vector<std::uint8_t>* file;
  std::size_t at;
};

void read_from_vector(png_structp png, png_bytep data, png_size_t length) {
  auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
  if (length > reader->file->size() - reader->at) png_error(png, "short");
  std::memcpy(data, reader->file->data() + reader->at, length);
  reader->at += length;
}

// libpng decoding into rows of its native format, as an application would.
bool decode_libpng(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& pixels) {
  Reader reader{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, read_from_vector);
  png_read_info(png, info);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  std::size_t row_bytes = png_get_rowbytes(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  pixels.resize(row_bytes * height);
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + y * row_bytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// libspng decoding into its native format (no transforms), likewise.
bool decode_libspng(const std::vector<std::uint8_t>& file, std::vector<std::uint8_t>& pixels) {
  spng_ctx* ctx = spng_ctx_new(0);
  if (ctx == nullptr) return false;
  std::size_t size = 0;
  bool ok = spng_set_png_buffer(ctx, file.data(), file.size()) == 0 &&
            spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) == 0;
  if (ok) {
    pixels.resize(size);
    ok = spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_PNG, 0) == 0;
  }
  spng_ctx_free(ctx);
  return ok;
}

bool decode_ours(const std::vector<std::uint8_t>& file) {
  auto set = std::make_unique<vexa::imagefiles::ImageSet>();
  return vexa::imagefiles::read_png(*set, vexa::imagefiles::Bytes(file.data(), file.size()), {}) == 1;
}

// Processor time of the process (user and system, so page faults count): the
// machine is shared, and time spent waiting for another program's turn on
// the processor is no part of any decoder's cost.
template <typename F>
double seconds(F&& f) {
  std::clock_t start = std::clock();
  f();
  return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int main() {
  const int side = 2048;
  const int runs = 7;
  std::vector<Picture> pictures = {
      {"RGB 8-bit", side, side, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, {}},
      {"RGBA 8-bit", side, side, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, {}},
      {"palette 8-bit", side, side, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, {}},
      {"grey 8-bit", side, side, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, {}},
      {"RGB 8-bit Adam7", side, side, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, {}},
  };
  double total_ours = 0, total_libpng = 0, total_libspng = 0;
  double worst_libpng = 1e9, worst_libspng = 1e9;
  std::printf("%-16s %8s %10s %10s %10s %8s %8s\n", "picture", "file KB", "libpng ms", "libspng ms", "ours ms",
              "x libpng", "x spng");
  for (Picture& p : pictures) {
    int channels = p.colour_type == PNG_COLOR_TYPE_RGB ? 3 : p.colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 1;
    p.file = encode(p.width, p.height, p.colour_type, p.interlace, generate(p.width, p.height, channels), channels);
    std::vector<std::uint8_t> pixels, spng_pixels;
    if (p.file.empty() || !decode_libpng(p.file, pixels) || !decode_libspng(p.file, spng_pixels) ||
        pixels != spng_pixels || !decode_ours(p.file)) {
      std::printf("%-16s failed to encode or decode\n", p.name.c_str());
      return 1;
    }
    // Each decoder makes a new picture every time, as ours does.
    double best_ours = 1e9, best_libpng = 1e9, best_libspng = 1e9;
    for (int run = 0; run < runs; ++run) {
      best_libpng = std::min(best_libpng, seconds([&] {
                               std::vector<std::uint8_t> fresh;
                               decode_libpng(p.file, fresh);
                             }));
      best_libspng = std::min(best_libspng, seconds([&] {
                                std::vector<std::uint8_t> fresh;
                                decode_libspng(p.file, fresh);
                              }));
      best_ours = std::min(best_ours, seconds([&] { decode_ours(p.file); }));
    }
    total_ours += best_ours;
    total_libpng += best_libpng;
    total_libspng += best_libspng;
    worst_libpng = std::min(worst_libpng, best_libpng / best_ours);
    worst_libspng = std::min(worst_libspng, best_libspng / best_ours);
    std::printf("%-16s %8zu %10.1f %10.1f %10.1f %8.2f %8.2f\n", p.name.c_str(), p.file.size() / 1024,
                best_libpng * 1000, best_libspng * 1000, best_ours * 1000, best_libpng / best_ours,
                best_libspng / best_ours);
  }
  std::printf("%-16s %8s %10.1f %10.1f %10.1f %8.2f %8.2f\n", "all", "", total_libpng * 1000, total_libspng * 1000,
              total_ours * 1000, total_libpng / total_ours, total_libspng / total_ours);
  std::printf("%-16s %8s %10s %10s %10s %8.2f %8.2f\n", "slowest kind", "", "", "", "", worst_libpng, worst_libspng);
  std::printf("targets: all >= 1.60 x libpng and >= 1.50 x libspng, every kind >= 1.30 x both\n");
  return 0;
}
