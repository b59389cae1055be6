// FXT text fonts and font listings. An FXT file describes a bitmap font as
// text: per character a header line with its code, then one line per pixel
// row, '#' for a set pixel and '.' for a clear one. A rasterised font is
// written back in the same form as a listing, so that it can be inspected,
// edited and imported again.
#pragma once

#include <string>
#include <vector>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Reads an FXT font (the file's bytes) into the set: one 1-bit image per
// character in the slot of its code, first_number the lowest code and count
// up to the highest, codes without rows left as gaps. The file is checked
// first; every fault goes to faults with its line ("wrong character width
// (ASCII NR. %d)", "missing ASCII NR. !", "ASCII-Code %d not allowed
// (0..255) !"), and a file with faults gives 0. Also 0, without a fault,
// for a file that defines no character with rows, or when an image cannot
// be built. Returns 1 on success; the set is empty after a failure.
int read_fxt_font(ImageSet& set, Bytes file, std::vector<LineFault>& faults);

// The set as a font listing in the FXT form: a comment head with the first
// and last code, the type (monospaced, proportional or various size) and the
// common or largest width and height, then every character that has an
// image. Lines end in "\n".
std::string font_listing(const ImageSet& set);
// Writes font_listing(set) to the file. Returns 1, or 0 when the file cannot
// be written.
int write_font_listing(const ImageSet& set, const std::string& file_name);

}  // namespace vexa::imagefiles
