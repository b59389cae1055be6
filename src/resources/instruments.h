// Instruments: a gauge or dial drawn as a background and a sequence of
// pointer positions. Every position is stored only as the rectangle in which
// it differs from the background, with its place inside the background, so
// the module redraws the least it can. The block also carries the pivot of
// the pointer and the angle range it sweeps. A compiled instrument can be
// imported again from an I16 file (its block and a CRC).
//
// The instrument block is the bitmap block of the instrument kind
// (imagefiles/bitmap_block.h): 16-bit frames from number 0, the background,
// to the last number, which is thus the number of positions; each frame
// entry carries the frame's place in the background. The background is
// never run-length coded.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

// INSTRUMENTPARAM's fourth value while it is "not given".
inline constexpr int pivot_y_absent = 123456;

struct FramePosition {
  int x = 0;
  int y = 0;
};

// The encoder's output and the positions the cropping found for it.
struct InstrumentBlock {
  std::vector<std::uint8_t> block;
  std::uint32_t block_size = 0;
  std::array<FramePosition, base::limits::image_slots> positions{};
};

// The module's code of an angle in degrees: 90 - a up to 90, else 450 - a.
int angle_code(int degrees);

// The pivot for a background of width x height: (p2, p3) when p3 is given
// (below pivot_y_absent); otherwise the point of position code p2 (1 to 9 in
// reading order over the corners, edge middles and centre; any other value
// is 5, the centre).
FramePosition instrument_pivot(int p2, int p3, int width, int height);

// Makes slot 0 the background and cuts every later image of a 16- or 24-bit
// set down to the rectangle in which it differs from the background. The
// slots move down so that the set starts at 0; a set without transparency
// gets an unused colour as its transparent (key) colour, its flag unchanged.
// Inside a cut frame every pixel that equals the background under it becomes
// the key colour. The positions of the frames go to out.positions. Returns
// false when the set is empty, of another depth, or memory or key colours
// run out.
bool crop_instrument_frames(imagefiles::ImageSet& set, InstrumentBlock& out);

// Encodes a cropped 16-bit set (slot 0 the background) as an instrument
// block with the positions in out. rle_mode: 0 never codes, 1 codes every
// frame after the background, 2 only where it saves more than a tenth.
// Pivot and angle fields are left 0 for the caller. False when the first
// image is not 16-bit or memory runs out.
bool encode_instrument(const imagefiles::ImageSet& set, InstrumentBlock& out, int rle_mode);

// Replaces the instrument in out by placeholders of the same number of
// images and the same size (letter I), keeping header bytes 17 to 33 (last
// number, size, pivot, angles and the two further fields). The set is
// cleared and left holding the cropped placeholders. Returns 1; 0 after
// reporting when they cannot be drawn or encoded.
int make_dummy_instrument(command::Context& ctx, imagefiles::ImageSet& set, InstrumentBlock& out, int number);

// Decodes the block into the set (cleared first), slot n holding frame n as a
// 16-bit image. full = 1: every frame becomes a picture of the background's
// size, the background with the frame drawn at its place (key colour pixels
// show the background); the set keeps the block's transparency. full = 0:
// the frames as stored, the key colour marked transparent. False (set
// cleared) when the block is damaged anywhere or memory runs out.
bool expand_instrument_frames(imagefiles::ImageSet& set, const InstrumentBlock& block, int full);

}  // namespace vexa::resources
