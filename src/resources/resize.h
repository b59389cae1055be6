// Resizing and border removal: the crop, the detection of plain borders, the
// two resamplers, and fitting a set to the largest allowed size. What was cut
// and scaled goes to a list of information lines that the compiler writes.
#pragma once

#include "base/output.h"
#include "imagefiles/image.h"


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
// The rectangle left after stripping rows and columns of only colour: the
// whole image when nothing would be stripped (or the image cannot be read),
// an empty one when every pixel is of the colour or there is no image.
Rect content_rect(const imagefiles::Image& image, imagefiles::Bgr colour);
// Cuts the plain border of colour off the image; a cut adds its line to report.
void crop_border(imagefiles::Image& image, imagefiles::Bgr colour, base::ReportLines& report);
// Border removal by REMOVEBORDER mode (1: the corner colour, 3: the set's
// transparent colour; other modes do nothing here): every image is cut to
// one rectangle that holds the content of all of them. When something was
// cut, *shift_x and *shift_y (when given) move by minus the cut-off left and
// top amounts, so an instrument can pass its pivot and have it follow the
// frames, and the cut adds its line to report. Returns 1 when a border
// colour applied, 0 when none did, -1 when memory ran out (the set is then
// unchanged).
int remove_set_borders(imagefiles::ImageSet& set, int mode, base::ReportLines& report, int* shift_x = nullptr,
                       int* shift_y = nullptr);

bool resample_nearest(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect);
bool resample_smooth(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect);
bool resize_image(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect, const imagefiles::Bgr* transparent);
// Fits every image to max_x, max_y (a lone image too big first loses its
// border by REMOVEBORDER mode); every cut and resize adds its line to report.
// False when an image cannot be resized: the images before it are fitted,
// the rest are not.
bool fit_set(imagefiles::ImageSet& set, int max_x, int max_y, bool keep_aspect, int mode, base::ReportLines& report);

}  // namespace vexa::resources
