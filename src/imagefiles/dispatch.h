// Image file dispatch: one entry point that chooses a reader by the file
// name's extension and fills an ImageSet. Every reader works on the file's
// bytes in memory and never reads outside them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/limits.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Settings the readers take from the macro file.
struct ReadOptions {
  int alpha_threshold = 128;  // ALPHATHRESHOLD: alpha below it is transparent
  int gamma = 0;              // DOGAMMA: apply a PNG file's gAMA
  // Pixel bytes a picture (all frames of a GIF together) may take before it
  // is refused. A fuzz run lowers it, so that no input costs more than a
  // millisecond or two; the compiler reads with the program's limit.
  std::uint64_t max_image_bytes = base::limits::image_bytes;
};

using base::Bytes;
using base::ByteCursor;

// A fault a reader found at a line of the file it reads (the checks of an
// FXT font): the line number, from 1, and the message.
struct LineFault {
  int line_number = 0;
  std::string message;
};

// What a load tells its caller besides the images.
struct ReadNotes {
  // Nonzero when the images still need their colours counted: a GIF's
  // colour tables hold 2, 4 ... 256 entries whatever the picture uses, and
  // the screens of an animation are composed in 24 bits. The caller lowers
  // them to the depth their colours need (the screens of one file together,
  // so that they keep one table) and says so when that differs from this
  // depth, the one of the file's first colour table.
  int colour_depth = 0;
  // The line faults of the file, in file order; a read with faults fails.
  std::vector<LineFault> faults;
};

// Single-image readers fill slot 1 of the set (and the set's transparency
// where the format has it). Each returns 1 on success, 0 on failure, and
// reports nothing.
int read_bmp(ImageSet& set, Bytes file, const ReadOptions& options);
int read_png(ImageSet& set, Bytes file, const ReadOptions& options);
int read_tga(ImageSet& set, Bytes file, const ReadOptions& options);
int read_jpeg(ImageSet& set, Bytes file, const ReadOptions& options);
// Multi-image reader: sets count and first_number itself; colour_depth as
// in ReadNotes.
int read_gif(ImageSet& set, Bytes file, const ReadOptions& options, int& colour_depth);

// Clears the set and fills it from one file, chosen by extension (compared
// without regard to case). Returns 0 on failure, 1 or more on success, and
// reports nothing: notes (cleared first) take what the caller must report
// or still do.
int load_image_file(const ReadOptions& options, ImageSet& set, const std::string& file_name, ReadNotes& notes);

}  // namespace vexa::imagefiles
