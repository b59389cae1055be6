// Colour reduction: counting the colours an image uses and dropping to the
// smallest lossless palette depth, lowering the depth to a limit with a palette
// built from the image's own colours and error diffusion, giving all images of
// a set one depth and palette, and keeping a transparent key colour exact.
// What these steps have to say goes to a list of information lines that the
// compiler writes.
#pragma once

#include <array>

#include "base/output.h"
#include "imagefiles/image.h"

namespace vexa::resources {

// Distinct colours of the image; the first 256 are written to table in order
// of first appearance (rows in stored order, left to right). With stop_early
// the count stops at 257. A 1-bit image returns its colour_count (the table
// is not written). Returns 0 when memory runs out.
int count_colours(const imagefiles::Image& image, std::array<imagefiles::Bgr, 256>& table, bool stop_early);

// Lowers the image to the smallest lossless palette depth; adds the
// information lines to report when report_depth is neither 0 nor the new
// depth. Returns the number of colours.
int analyse_colours(imagefiles::Image& image, int report_depth, bool transparent, base::ReportLines& report);
bool analyse_set_colours(imagefiles::ImageSet& set, int report_depth, base::ReportLines& report);
// The analysis of a set whose colours a reader left to be counted (a GIF):
// several images are analysed stacked into one sheet and cut apart again
// with the sheet's header. False when memory runs out.
bool analyse_file_colours(imagefiles::ImageSet& set, int report_depth, base::ReportLines& report);

// MAXCOLORDEPTH / DITHERING applied to a set, with its information lines.
bool change_colour_depth(imagefiles::ImageSet& set, int max_depth, int dithering, base::ReportLines& report);
// Converts all images of the set to depth (1, 4, 8, 16) through one sheet.
bool convert_set_depth(imagefiles::ImageSet& set, int depth, int mode);

// transparent: a colour that must keep its exact value, or null.
bool convert_to_8_bit(imagefiles::Image& image, int palette_mode, const imagefiles::Image* templ,
                      const imagefiles::Bgr* transparent);
bool convert_to_4_bit(imagefiles::Image& image, int palette_mode, const imagefiles::Image* templ,
                      const imagefiles::Bgr* transparent);
bool convert_to_1_bit(imagefiles::Image& image, const imagefiles::Bgr* transparent);

int build_palette(const imagefiles::Image& source, imagefiles::Image& target, int entries, int palette_mode);

void replace_colour(imagefiles::Image& image, imagefiles::Bgr from, imagefiles::Bgr to);

bool sets_compatible(const imagefiles::ImageSet& a, const imagefiles::ImageSet& b);
// Gives two sets one depth, palette and key colour through a common sheet.
// False (both sets unchanged) when memory runs out or no key colour is free.
bool harmonise_sets(imagefiles::ImageSet& a, imagefiles::ImageSet& b);
bool is_palette_exact_16(const imagefiles::Image& image);

// All images of a set stacked into one 24-bit picture (first image at the
// bottom) and cut apart again.
bool stack_sheet(const imagefiles::ImageSet& set, imagefiles::Image& sheet);
bool unstack_sheet(const imagefiles::Image& sheet, imagefiles::ImageSet& set);

}  // namespace vexa::resources
