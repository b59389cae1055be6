// Image file dispatch: one entry point that chooses a reader by the file
// name's extension and fills an ImageSet. Every reader works on the file's
// bytes in memory and never reads outside them.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "base/bytes.h"
#include "imagefiles/image.h"

namespace vexa::base {
struct Output;
}

namespace vexa::imagefiles {

// Settings the readers take from the macro file.
struct ReadOptions {
  int alpha_threshold = 128;  // ALPHATHRESHOLD: alpha below it is transparent
  int gamma = 0;              // DOGAMMA: apply a PNG file's gAMA
};

using base::Bytes;
using base::ByteCursor;

// Where a reader reports a fault at a line of the file it reads (the checks
// of an FXT font): the file's name as given, the line number and the
// message. The compiler shows it as an error of the macro line that named the
// file, and counts it.
using LineFault = std::function<void(const std::string& file_name, int line_number, std::string_view message)>;

// Single-image readers fill slot 1 of the set (and the set's transparency
// where the format has it). Each returns 1 on success, 0 on failure, and
// reports nothing.
int read_bmp(ImageSet& set, Bytes file, const ReadOptions& options);
int read_png(ImageSet& set, Bytes file, const ReadOptions& options);
int read_tga(ImageSet& set, Bytes file, const ReadOptions& options);
int read_jpeg(ImageSet& set, Bytes file, const ReadOptions& options);
// Multi-image reader: sets count and first_number itself. The colour
// analysis of the composed frames may write information lines to out.
int read_gif(base::Output& out, ImageSet& set, Bytes file);

// Clears the set and fills it from one file, chosen by extension (compared
// without regard to case). Returns 0 on failure, 1 or more on success. out
// takes the readers' information lines, fault their line faults.
int load_image_file(base::Output& out, const ReadOptions& options, const LineFault& fault, ImageSet& set,
                    const std::string& file_name);

}  // namespace vexa::imagefiles
