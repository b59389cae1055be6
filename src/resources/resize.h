// Resizing and border removal: the crop, the detection of plain borders, the
// two resamplers, and fitting a set to the largest allowed size.
#pragma once

#include "imagefiles/image.h"

namespace vexa::command {
struct Context;
}
namespace vexa::base {
struct Output;
}

namespace vexa::resources {

// Inclusive rectangle; the top-left pixel is (0, 0).
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool holds_nothing() const { return left > right || top > bottom; }
};

// Keeps the rectangle (clamped to the image); the colour table stays.
bool crop_image(imagefiles::Image& image, int left, int top, int right, int bottom);
// The colour of the four corners when they are equal.
bool corner_colour(const imagefiles::Image& image, imagefiles::Bgr& colour);
// The rectangle left after stripping rows and columns of only colour; false
// when nothing would be stripped.
bool content_rect(const imagefiles::Image& image, imagefiles::Bgr colour, Rect& rect);
void crop_border(base::Output& out, imagefiles::Image& image, imagefiles::Bgr colour);
// Border removal by REMOVEBORDER mode (1: the corner colour, 3: the set's
// transparent colour; other modes do nothing here): every image is cut to
// one rectangle that holds the content of all of them. When something was
// cut, *shift_x and *shift_y (when given) move by minus the cut-off left and
// top amounts, so an instrument can pass its pivot and have it follow the
// frames. Returns 1 when a border colour applied, 0 when none did, -1 when
// memory ran out (the set is then unchanged).
int remove_set_borders(base::Output& out, imagefiles::ImageSet& set, int mode, int* shift_x = nullptr,
                       int* shift_y = nullptr);

bool resample_nearest(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect);
bool resample_smooth(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect);
bool resize_image(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect, const imagefiles::Bgr* transparent);
// Fits every image to max_x, max_y; reports "cannot resize picture !" as an
// error when that fails.
bool fit_set(command::Context& ctx, imagefiles::ImageSet& set, int max_x, int max_y, bool keep_aspect, int mode);

}  // namespace vexa::resources
