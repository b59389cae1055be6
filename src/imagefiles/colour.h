// Colour reduction: counting the colours an image uses and dropping to the
// smallest lossless palette depth, lowering the depth to a limit with a palette
// built from the image's own colours and error diffusion, giving all images of
// a set one depth and palette, and keeping a transparent key colour exact.
#pragma once

#include <array>

#include "imagefiles/image.h"

namespace vexa::base {
struct Output;
}

namespace vexa::imagefiles {

// Distinct colours of the image; the first 256 are written to table in order
// of first appearance (rows in stored order, left to right). With stop_early
// the count stops at 257. A 1-bit image returns its colour_count (the table
// is not written). Returns 0 when memory runs out.
int count_colours(const Image& image, std::array<Bgr, 256>& table, bool stop_early);

// Lowers the image to the smallest lossless palette depth; writes the
// information lines when report_depth is neither 0 nor the new depth.
// Returns the number of colours.
int analyse_colours(base::Output& out, Image& image, int report_depth, bool transparent);
bool analyse_set_colours(base::Output& out, ImageSet& set, int report_depth);
// The analysis of a set whose colours a reader left to be counted (a GIF):
// several images are analysed stacked into one sheet and cut apart again
// with the sheet's header. False when memory runs out.
bool analyse_file_colours(base::Output& out, ImageSet& set, int report_depth);

// MAXCOLORDEPTH / DITHERING applied to a set, with its information lines.
bool change_colour_depth(base::Output& out, ImageSet& set, int max_depth, int dithering);
// Converts all images of the set to depth (1, 4, 8, 16) through one sheet.
bool convert_set_depth(ImageSet& set, int depth, int mode);

bool convert_to_24_bit(Image& image);
// transparent: a colour that must keep its exact 5-6-5 value, or null.
bool convert_to_16_bit(Image& image, bool dither, const Bgr* transparent);
bool convert_to_8_bit(Image& image, int palette_mode, const Image* templ, const Bgr* transparent);
bool convert_to_4_bit(Image& image, int palette_mode, const Image* templ, const Bgr* transparent);
bool convert_to_1_bit(Image& image, const Bgr* transparent);

int build_palette(const Image& source, Image& target, int entries, int palette_mode);
// Maps every pixel of source (any depth) into target (1, 4, 8 or 16 bits, same
// size) with error diffusion. False when the sizes differ or memory runs out.
bool dither_into(const Image& source, Image& target);
int nearest_colour_index(const Image& palette, Bgr colour, int entries);

// Chooses a colour exact in 5-6-5 that the image does not use. Returns 1 when
// a colour was chosen, 0 for a 1-bit image and when all 32 candidates are in
// use (colour is then left as it was).
int find_unused_colour(const Image& image, Bgr& colour);
void replace_colour(Image& image, Bgr from, Bgr to);
void set_pixel_colour(Image& image, int x, int y, Bgr colour);
// Gives every target pixel whose source pixel has exactly colour that colour;
// mode bit 0 adds the 4 neighbours, bit 1 the 4 diagonal ones, and any mode
// above 0 the whole outer edge. target and source are different images of
// equal size (else false).
bool copy_colour_mask(Image& target, const Image& source, Bgr colour, int mode);

bool sets_compatible(const ImageSet& a, const ImageSet& b);
// Gives two sets one depth, palette and key colour through a common sheet.
// False (both sets unchanged) when memory runs out or no key colour is free.
bool harmonise_sets(ImageSet& a, ImageSet& b);
bool is_palette_exact_16(const Image& image);

// All images of a set stacked into one 24-bit picture (first image at the
// bottom) and cut apart again.
bool stack_sheet(const ImageSet& set, Image& sheet);
bool unstack_sheet(const Image& sheet, ImageSet& set);

}  // namespace vexa::imagefiles
