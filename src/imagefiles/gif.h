// GIF reader. read_gif_file decodes a still or animated GIF into a GifImageSet:
// every image of the file as its own bitmap with its own colour table and
// the graphic control values that applied to it. read_gif composes those
// frames on the logical screen (position, transparency, disposal) and fills
// an ImageSet with one 24-bit image per screen and its display time in
// tenths of a second; a still GIF keeps its frame as it is.
#pragma once

#include <array>
#include <cstdint>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// At most this many images of a file are decoded; further ones are ignored.
inline constexpr int gif_max_frames = base::limits::image_slots;

struct GifFrame {
  // Bitmap of the image descriptor's size with the local colour table (or a
  // copy of the global one): 1 bit per pixel for a table of 2 colours, 4 bits
  // for up to 16, 8 bits otherwise.
  Image image;
  std::uint16_t left = 0;  // position on the logical screen
  std::uint16_t top = 0;
  std::uint16_t delay = 0;     // hundredths of a second
  std::uint16_t disposal = 0;  // what happens to the frame's area afterwards, 0-7
  std::int32_t transparent_index = -1;  // colour-table index not drawn, -1 for none
};

struct GifImageSet {
  std::uint16_t frame_count = 0;
  std::uint16_t screen_width = 0;  // logical screen
  std::uint16_t screen_height = 0;
  Bgr background;  // global table entry at the background index
  std::array<GifFrame, gif_max_frames> frames;
};

// Releases every frame and zeroes the set.
void clear_gif_set(GifImageSet& gif);

// Decodes the file's bytes into gif (cleared first). Returns 1 when the
// signature, screen descriptor and global colour table were read, else 0.
// Damaged or truncated image data do not fail: the lines decoded so far stay.
// A file with an image but no colour table at all leaves the set empty.
// Frames whose blocks together exceed options.max_image_bytes fail the file.
int read_gif_file(GifImageSet& gif, Bytes file, const ReadOptions& options = {});

}  // namespace vexa::imagefiles
