// Colour work on single images that the file readers need: widening to 24
// bits, lowering to 16 bits (5-6-5) with or without error diffusion, error
// diffusion into any palette, and choosing and keeping a transparent key
// colour. The work on colour tables and whole sets stands one floor up.
#pragma once

#include "imagefiles/image.h"

namespace vexa::imagefiles {

bool convert_to_24_bit(Image& image);
// transparent: a colour that must keep its exact 5-6-5 value, or null.
bool convert_to_16_bit(Image& image, bool dither, const Bgr* transparent);

// Maps every pixel of source (any depth) into target (1, 4, 8 or 16 bits, same
// size) with error diffusion. False when the sizes differ or memory runs out.
bool dither_into(const Image& source, Image& target);
int nearest_colour_index(const Image& palette, Bgr colour, int entries);

// Chooses a colour exact in 5-6-5 that the image does not use. Returns 1 when
// a colour was chosen, 0 for a 1-bit image and when all 32 candidates are in
// use (colour is then left as it was).
int find_unused_colour(const Image& image, Bgr& colour);
void set_pixel_colour(Image& image, int x, int y, Bgr colour);
// Gives every target pixel whose source pixel has exactly colour that colour;
// mode bit 0 adds the 4 neighbours, bit 1 the 4 diagonal ones, and any mode
// above 0 the whole outer edge. target and source are different images of
// equal size (else false).
bool copy_colour_mask(Image& target, const Image& source, Bgr colour, int mode);

}  // namespace vexa::imagefiles
