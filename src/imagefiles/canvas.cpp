#include "imagefiles/canvas.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace vexa::imagefiles {

bool create_canvas(Canvas& canvas, int width, int height, Bgr background) {
  canvas = Canvas{};
  if (width < 1 || height < 1 || width > base::limits::image_side || height > base::limits::image_side) return false;
  const std::uint64_t count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  if (count * 3 > base::limits::image_bytes) return false;
  try {
    canvas.pixels.assign(static_cast<std::size_t>(count), background);
  } catch (const std::bad_alloc&) {
    return false;
  }
  canvas.width = width;
  canvas.height = height;
  return true;
}

void set_pixel(Canvas& canvas, int x, int y, Bgr colour) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return;
  canvas.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) + static_cast<std::size_t>(x)] =
      colour;
}

Bgr get_pixel(const Canvas& canvas, int x, int y) {
  if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) return {};
  return canvas.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width) +
                       static_cast<std::size_t>(x)];
}

void fill_rect(Canvas& canvas, int x, int y, int width, int height, Bgr colour) {
  int left = std::max(x, 0);
  int top = std::max(y, 0);
  int right = std::min<long>(static_cast<long>(x) + width, canvas.width);
  int bottom = std::min<long>(static_cast<long>(y) + height, canvas.height);
  for (int row = top; row < bottom; ++row)
    for (int col = left; col < right; ++col) set_pixel(canvas, col, row, colour);
}

namespace {

// Bresenham's line: calls plot(x, y) for every pixel from (x0, y0) towards
// (x1, y1), one per step along the longer axis, and stops before the end
// point.
template <typename Plot>
void walk_line(int x0, int y0, int x1, int y1, Plot plot) {
  const long dx = std::labs(static_cast<long>(x1) - x0);
  const long dy = -std::labs(static_cast<long>(y1) - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  long error = dx + dy;
  long x = x0, y = y0;
  while (x != x1 || y != y1) {
    plot(x, y);
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

}  // namespace

void draw_line(Canvas& canvas, int x0, int y0, int x1, int y1, Bgr colour) {
  walk_line(x0, y0, x1, y1,
            [&](long x, long y) { set_pixel(canvas, static_cast<int>(x), static_cast<int>(y), colour); });
}

void draw_wide_line(Canvas& canvas, int x0, int y0, int x1, int y1, int width, Bgr colour) {
  if (width <= 1) {
    draw_line(canvas, x0, y0, x1, y1, colour);
    return;
  }
  // Offsets of the disc around a line pixel. An even width has no middle
  // pixel: its disc is centred on the corner above and left of the pixel's
  // centre, so the offsets run from -width/2 to width/2 - 1 and the doubled
  // distance from the centre is 2 * offset + 1.
  const int low = -(width / 2);
  const int high = (width - 1) / 2;
  const int shift = width % 2 == 0 ? 1 : 0;
  const long limit = static_cast<long>(width) * width;
  std::vector<std::pair<int, int>> disc;
  for (int b = low; b <= high; ++b)
    for (int a = low; a <= high; ++a) {
      long da = 2L * a + shift, db = 2L * b + shift;
      if (da * da + db * db <= limit) disc.emplace_back(a, b);
    }
  walk_line(x0, y0, x1, y1, [&](long x, long y) {
    for (const auto& [a, b] : disc) set_pixel(canvas, static_cast<int>(x + a), static_cast<int>(y + b), colour);
  });
}

int draw_text(Canvas& canvas, const Face& face, int x, int y, std::string_view text, Bgr colour) {
  return draw_text_pixels(face, x, y, text, [&](int px, int py) { set_pixel(canvas, px, py, colour); });
}

namespace {

// Overlap, in units of 1/target of a source pixel, of source pixel i (the
// span [i * target, (i + 1) * target)) with the span [start, end).
long overlap(long i, long target, long start, long end) {
  long low = std::max(i * target, start);
  long high = std::min((i + 1) * target, end);
  return high > low ? high - low : 0;
}

}  // namespace

void stretch_image(Canvas& canvas, int x, int y, int target_width, int target_height, const Image& image,
                   int source_x, int source_y, int source_width, int source_height, Stretch mode) {
  if (is_empty(image) || target_width < 1 || target_height < 1) return;
  // The source rectangle clipped to the image.
  const int image_w = image_width(image);
  const int image_h = image_height(image);
  const int left = std::max(source_x, 0);
  const int top = std::max(source_y, 0);
  const int right = static_cast<int>(std::min<long>(static_cast<long>(source_x) + source_width, image_w));
  const int bottom = static_cast<int>(std::min<long>(static_cast<long>(source_y) + source_height, image_h));
  const long sw = right - left;
  const long sh = bottom - top;
  if (sw < 1 || sh < 1) return;
  // Only the target pixels on the canvas are computed.
  const int first_col = std::max(0, -x);
  const int last_col = static_cast<int>(std::min<long>(target_width, static_cast<long>(canvas.width) - x));
  const int first_row = std::max(0, -y);
  const int last_row = static_cast<int>(std::min<long>(target_height, static_cast<long>(canvas.height) - y));
  const long tw = target_width;
  const long th = target_height;
  for (int r = first_row; r < last_row; ++r) {
    for (int c = first_col; c < last_col; ++c) {
      Bgr colour;
      if (mode == Stretch::nearest) {
        // The source pixel under the target pixel's centre.
        long u = (2L * c + 1) * sw / (2 * tw);
        long v = (2L * r + 1) * sh / (2 * th);
        colour = pixel_colour(image, left + static_cast<int>(u), top + static_cast<int>(v));
      } else {
        // Target pixel c covers the source span [c * sw, (c + 1) * sw) in
        // units of 1/tw source pixel; every source pixel it touches counts
        // by the part it covers.
        const long u_start = c * sw, u_end = (c + 1) * sw;
        const long v_start = r * sh, v_end = (r + 1) * sh;
        std::uint64_t sum[3] = {0, 0, 0};
        std::uint64_t total = 0;
        for (long v = v_start / th; v < sh && v * th < v_end; ++v) {
          const long wy = overlap(v, th, v_start, v_end);
          for (long u = u_start / tw; u < sw && u * tw < u_end; ++u) {
            const std::uint64_t w = static_cast<std::uint64_t>(wy) * static_cast<std::uint64_t>(
                                                                         overlap(u, tw, u_start, u_end));
            if (w == 0) continue;
            Bgr p =
                pixel_colour(image, left + static_cast<int>(u), top + static_cast<int>(v));
            sum[0] += w * p.blue;
            sum[1] += w * p.green;
            sum[2] += w * p.red;
            total += w;
          }
        }
        if (total == 0) continue;
        colour = Bgr{static_cast<std::uint8_t>((sum[0] + total / 2) / total),
                                static_cast<std::uint8_t>((sum[1] + total / 2) / total),
                                static_cast<std::uint8_t>((sum[2] + total / 2) / total)};
      }
      set_pixel(canvas, x + c, y + r, colour);
    }
  }
}

bool canvas_to_image(const Canvas& canvas, Image& image) {
  Image result;
  if (!create_image(result, canvas.width, canvas.height, 24)) return false;
  for (int y = 0; y < canvas.height; ++y) {
    std::uint8_t* row = row_pointer(result, y);
    const Bgr* source = canvas.pixels.data() + static_cast<std::size_t>(y) * canvas.width;
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
