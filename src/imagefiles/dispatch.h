// Image file dispatch: one entry point that chooses a reader by the file
// name's extension and fills an ImageSet. Every reader works on the file's
// bytes in memory and never reads outside them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "driver/limits.h"
#include "resources/image.h"

namespace vexa {
struct Context;
}

namespace vexa::driver {
struct Output;
}

namespace vexa::imagefiles {

// Settings the readers take from the macro file.
struct ReadOptions {
  int alpha_threshold = 128;  // ALPHATHRESHOLD: alpha below it is transparent
  int gamma = 0;              // DOGAMMA: apply a PNG file's gAMA
  // Pixel bytes a picture (all frames of a GIF together) may take before it
  // is refused. A fuzz run lowers it, so that no input costs more than a
  // millisecond or two; the compiler reads with the program's limit.
  std::uint64_t max_image_bytes = limits::image_bytes;
};

using Bytes = std::span<const std::uint8_t>;

// Single-image readers fill slot 1 of the set (and the set's transparency
// where the format has it). Each returns 1 on success, 0 on failure, and
// reports nothing.
int read_bmp(resources::ImageSet& set, Bytes file, const ReadOptions& options);
int read_png(resources::ImageSet& set, Bytes file, const ReadOptions& options);
int read_tga(resources::ImageSet& set, Bytes file, const ReadOptions& options);
int read_jpeg(resources::ImageSet& set, Bytes file, const ReadOptions& options);
// Multi-image reader: sets count and first_number itself. The colour
// analysis of the composed frames may write information lines to out.
int read_gif(driver::Output& out, resources::ImageSet& set, Bytes file, const ReadOptions& options);

// Clears the set and fills it from one file, chosen by extension (compared
// without regard to case). Returns 0 on failure, 1 or more on success.
int load_image_file(Context& ctx, resources::ImageSet& set, const std::string& file_name);

// Reads a whole file into memory (with the case-insensitive name fallback of
// the platform layer). Returns false when it cannot be read.
bool read_whole_file(const std::string& file_name, std::string& bytes);

}  // namespace vexa::imagefiles
