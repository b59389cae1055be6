#include "imagefiles/canvas.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace vexa::imagefiles {

bool create_canvas(Canvas& canvas, int width, int height, resources::Bgr background) {
  canvas = Canvas{};
  if (width < 1 || height < 1 || width > limits::image_side || height > limits::image_side) return false;
  const std::uint64_t count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (count * 3 > limits::image_bytes) return false;
  try {
    canvas.pixels.assign(static_cast<std::size_t>(count), background);
  } catch (const std::bad_alloc&) {
    return false;
  }
  canvas.width = width;
  canvas.height = height;
  return true;
}

void set_pixel(Canvas& canvas, int x, int y, resources::Bgr colour) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
  canvas.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) + static_cast<std::size_t>(x)] =
      colour;
}

resources::Bgr get_pixel(const Canvas& canvas, int x, int y) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return {};
  return canvas.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) +
                       static_cast<std::size_t>(x)];
}

void fill_rect(Canvas& canvas, int x, int y, int width, int height, resources::Bgr colour) {
  int left = std::max(x, 0);
  int top = std::max(y, 0);
  int right = std::min<long>(static_cast<long>(x) + width, canvas.width);
  int bottom = std::min<long>(static_cast<long>(y) + height, canvas.height);
  for (int row = top; row < bottom; ++row)
    for (int col = left; col < right; ++col) set_pixel(canvas, col, row, colour);
}

// Bresenham's line: steps along the longer axis, one pixel per step, and
// stops before the end point.
void draw_line(Canvas& canvas, int x0, int y0, int x1, int y1, resources::Bgr colour) {
  const long dx = std::labs(static_cast<long>(x1) - x0);
  const long dy = -std::labs(static_cast<long>(y1) - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  long error = dx + dy;
  long x = x0, y = y0;
  while (x != x1 || y != y1) {
    set_pixel(canvas, static_cast<int>(x), static_cast<int>(y), colour);
    long twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x += sx;
    }
    if (twice <= dx) {
      error += dx;
      y += sy;
    }
  }
}

int draw_text(Canvas& canvas, const Face& face, int x, int y, std::string_view text, resources::Bgr colour) {
  return draw_text_pixels(face, x, y, text, [&](int px, int py) { set_pixel(canvas, px, py, colour); });
}

bool canvas_to_image(const Canvas& canvas, resources::Image& image) {
  resources::Image result;
  if (!resources::create_image(result, canvas.width, canvas.height, 24)) return false;
  for (int y = 0; y < canvas.height; ++y) {
    std::uint8_t* row = resources::row_pointer(result, y);
    const resources::Bgr* source = canvas.pixels.data() + static_cast<std::size_t>(y) * canvas.width;
    for (int x = 0; x < canvas.width; ++x) {
      row[3 * x] = source[x].blue;
      row[3 * x + 1] = source[x].green;
      row[3 * x + 2] = source[x].red;
    }
  }
  image = std::move(result);
  return true;
}

}  // namespace vexa::imagefiles
