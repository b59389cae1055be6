// A small raster canvas for the pictures the compiler draws itself (the
// placeholders of oversized resources, the overview sheets): 24-bit colour,
// top row first, with fills, pen lines, text and scaled copies of images.
// Everything drawn is clipped to the canvas.
#pragma once

#include <string_view>
#include <vector>

#include "imagefiles/glyphs.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

struct Canvas {
  int width = 0;
  int height = 0;
  std::vector<Bgr> pixels;  // row y, column x at y * width + x; y = 0 is the top row
};

// Makes a canvas of width x height filled with background. False (canvas
// empty) for a size outside the image limits or when memory runs out.
bool create_canvas(Canvas& canvas, int width, int height, Bgr background);

void set_pixel(Canvas& canvas, int x, int y, Bgr colour);
Bgr get_pixel(const Canvas& canvas, int x, int y);

// Fills the rectangle of width x height whose top-left corner is (x, y).
void fill_rect(Canvas& canvas, int x, int y, int width, int height, Bgr colour);

// A line of a 1-pixel pen from (x0, y0) towards (x1, y1); the end point
// itself is left out, so lines drawn corner to corner meet without drawing a
// pixel twice. A line from a point to itself draws nothing.
void draw_line(Canvas& canvas, int x0, int y0, int x1, int y1, Bgr colour);

// The same line drawn with a round pen of width pixels: every pixel of the
// 1-pixel line is the centre of a filled disc of that diameter. A width of 1
// or less draws the 1-pixel line.
void draw_wide_line(Canvas& canvas, int x0, int y0, int x1, int y1, int width, Bgr colour);

// Draws the text with its cell's top-left corner at (x, y) in colour on a
// transparent background. Returns the text's width, or -1 when a glyph
// cannot be rendered.
int draw_text(Canvas& canvas, const Face& face, int x, int y, std::string_view text, Bgr colour);

// How stretch_image maps source pixels to target pixels.
enum class Stretch {
  nearest,  // each target pixel takes the source pixel under its centre
  box,      // each target pixel averages the source area it covers
};

// Draws the rectangle of source_width x source_height pixels whose top-left
// corner is (source_x, source_y) in the image (any depth; the rectangle is
// clipped to the image) scaled to target_width x target_height pixels with
// its top-left corner at (x, y). Nothing is drawn for an empty rectangle.
void stretch_image(Canvas& canvas, int x, int y, int target_width, int target_height, const Image& image,
                   int source_x, int source_y, int source_width, int source_height, Stretch mode);

// The canvas as a 24-bit image. False when memory runs out.
bool canvas_to_image(const Canvas& canvas, Image& image);

}  // namespace vexa::imagefiles
