// Overview sheets: one BMP picture showing every image of a converted set
// (the glyphs of a font, the frames of an animation or instrument) in a
// labelled grid, scaled to a readable size, with column and row headings that
// give each cell's number in hexadecimal and decimal.
#pragma once

#include <string>

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// Stretch modes of the sheet's images.
inline constexpr int stretch_nearest = 3;  // each sheet pixel takes one image pixel
inline constexpr int stretch_halftone = 4; // each sheet pixel averages the area it covers

// Draws the sheet of the set and writes it as the BMP file file_name. width
// and height are the cells' content size (the largest image width and height
// of the converted resource), columns the cells per grid row (a set that
// fits in one grid row gets one column per number instead), stretch_mode
// stretch_halftone for smooth scaling (any other value scales by nearest
// pixel). A set whose first image has 1 bit per pixel gives a 1-bit sheet,
// any other a sheet reduced to the fewest colours that hold it. The set is
// left unchanged. Returns 1, or 0 when the set is empty, the sheet would
// exceed the image limits, the label face cannot be opened, memory runs out
// or the file cannot be written; nothing is reported (the caller writes
// "Export Overview <%s>" or its error).
int export_overview_sheet(command::Context& ctx, const std::string& file_name, imagefiles::ImageSet& set, int width, int height,
                          int columns, int stretch_mode);

}  // namespace vexa::resources
