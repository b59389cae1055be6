#include "resources/resize.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/format.h"
#include "imagefiles/colour.h"
#include "imagefiles/row_reader.h"

namespace vexa::resources {
namespace {

// The information lines of the resource compilers are indented by 15 blanks.
constexpr const char* indent = "               ";

// A zero-filled image of the given size that keeps the header (and so the
// depth, compression and bit-field masks) and the colour table of `like`.
bool create_like(imagefiles::Image& image, const imagefiles::Image& like, int width, int height) {
  if (width < 1 || height < 1 || width > base::limits::image_side || height > base::limits::image_side) return false;
  std::uint64_t stride = ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bit_count(like)) + 31) / 32) * 4;
  std::uint64_t size_image = stride * static_cast<std::uint64_t>(height);
  if (size_image > base::limits::image_bytes) return false;
  imagefiles::Image result;
  try {
    result.dib.assign(like.pixels + size_image, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::memcpy(result.dib.data(), like.dib.data(), like.pixels);
  imagefiles::set_header_field(result, imagefiles::dib::width, static_cast<std::uint32_t>(width));
  set_header_field(result, imagefiles::dib::height, static_cast<std::uint32_t>(height));
  if (!imagefiles::refresh_layout(result)) return false;
  image = std::move(result);
  return true;
}

inline int get_pixel(const std::uint8_t* row, int x, int bits) {
  return bits == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1 : ((x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4);
}
// Rows start cleared: only set bits and non-zero nibbles need writing.
inline void or_pixel(std::uint8_t* row, int x, int bits, int v) {
  if (bits == 1)
    row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (v << (7 - (x & 7))));
  else
    row[x >> 1] = static_cast<std::uint8_t>(row[x >> 1] | ((x & 1) ? v : v << 4));
}

// Copies the rectangle (inclusive, inside the image) into a new image.
bool crop_into(const imagefiles::Image& source, imagefiles::Image& target, const Rect& r) {
  int width = r.right - r.left + 1;
  int height = r.bottom - r.top + 1;
  if (!create_like(target, source, width, height)) return false;
  int bits = bit_count(source);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* from = imagefiles::row_pointer(source, r.top + y);
    std::uint8_t* into = imagefiles::row_pointer(target, y);
    if (bits >= 8) {
      std::size_t unit = static_cast<std::size_t>(bits / 8);
      std::memcpy(into, from + unit * static_cast<std::size_t>(r.left), unit * static_cast<std::size_t>(width));
    } else {
      for (int x = 0; x < width; ++x) or_pixel(into, x, bits, get_pixel(from, r.left + x, bits));
    }
  }
  return true;
}

// The rectangle clamped to the image; false when nothing of it is inside.
bool clamp_rect(const imagefiles::Image& image, Rect& r) {
  r.left = std::max(r.left, 0);
  r.top = std::max(r.top, 0);
  r.right = std::min(r.right, imagefiles::image_width(image) - 1);
  r.bottom = std::min(r.bottom, imagefiles::image_height(image) - 1);
  return !r.holds_nothing();
}

bool is_whole(const imagefiles::Image& image, const Rect& r) {
  return r.left == 0 && r.top == 0 && r.right == imagefiles::image_width(image) - 1 && r.bottom == imagefiles::image_height(image) - 1;
}

// The new size for both resamplers; false when neither limit is at least 1.
// A side never drops below one pixel: a very thin picture fitted with its
// aspect kept would otherwise get a width or height of 0 and fail to resize.
bool target_size(const imagefiles::Image& image, int max_w, int max_h, bool keep_aspect, int& new_w, int& new_h) {
  if (max_w < 1 && max_h < 1) return false;
  std::int64_t w = imagefiles::image_width(image);
  std::int64_t h = imagefiles::image_height(image);
  std::int64_t a = w * max_h / h;
  std::int64_t b = h * max_w / w;
  std::int64_t nw, nh;
  if (max_w < 1) {
    nw = a;
    nh = max_h;
  } else if (max_h < 1) {
    nw = max_w;
    nh = b;
  } else if (!keep_aspect) {
    nw = max_w;
    nh = max_h;
  } else if (max_w < a) {
    nw = max_w;
    nh = b;
  } else {
    nw = max_h < b ? a : max_w;
    nh = max_h;
  }
  new_w = static_cast<int>(std::clamp<std::int64_t>(nw, 1, base::limits::image_side));
  new_h = static_cast<int>(std::clamp<std::int64_t>(nh, 1, base::limits::image_side));
  return true;
}

// Area coverage of one axis: source pixel i spans [i * to, (i + 1) * to) and
// target pixel t spans [t * from, (t + 1) * from) on an axis of from * to
// units, so every overlap is a whole number and the weights of one target
// pixel add up to `from`.
struct Spans {
  std::vector<int> first;       // first source pixel of target pixel t
  std::vector<int> start;       // its first weight in `weight`
  std::vector<int> count;       // number of source pixels
  std::vector<std::uint32_t> weight;
};

Spans make_spans(int from, int to) {
  Spans s;
  s.first.resize(static_cast<std::size_t>(to));
  s.start.resize(static_cast<std::size_t>(to));
  s.count.resize(static_cast<std::size_t>(to));
  s.weight.reserve(static_cast<std::size_t>(to) + static_cast<std::size_t>(from) + 1);
  for (int t = 0; t < to; ++t) {
    std::int64_t begin = static_cast<std::int64_t>(t) * from;
    std::int64_t end = begin + from;
    auto i0 = static_cast<int>(begin / to);
    auto i1 = static_cast<int>((end - 1) / to);
    s.first[static_cast<std::size_t>(t)] = i0;
    s.start[static_cast<std::size_t>(t)] = static_cast<int>(s.weight.size());
    s.count[static_cast<std::size_t>(t)] = i1 - i0 + 1;
    for (int i = i0; i <= i1; ++i) {
      std::int64_t lo = std::max<std::int64_t>(begin, static_cast<std::int64_t>(i) * to);
      std::int64_t hi = std::min<std::int64_t>(end, static_cast<std::int64_t>(i + 1) * to);
      s.weight.push_back(static_cast<std::uint32_t>(hi - lo));
    }
  }
  return s;
}

}  // namespace

bool crop_image(imagefiles::Image& image, int left, int top, int right, int bottom) {
  if (is_empty(image)) return false;
  Rect r{left, top, right, bottom};
  if (!clamp_rect(image, r)) return false;
  if (is_whole(image, r)) return true;
  imagefiles::Image result;
  if (!crop_into(image, result, r)) return false;
  image = std::move(result);
  return true;
}

bool corner_colour(const imagefiles::Image& image, imagefiles::Bgr& colour) {
  if (is_empty(image)) return false;
  int right = imagefiles::image_width(image) - 1;
  int bottom = imagefiles::image_height(image) - 1;
  imagefiles::Bgr c = imagefiles::pixel_colour(image, 0, 0);
  if (!(imagefiles::pixel_colour(image, right, 0) == c) || !(imagefiles::pixel_colour(image, 0, bottom) == c) ||
      !(imagefiles::pixel_colour(image, right, bottom) == c))
    return false;
  colour = c;
  return true;
}

Rect content_rect(const imagefiles::Image& image, imagefiles::Bgr colour) {
  if (is_empty(image)) return Rect{1, 1, 0, 0};
  int width = imagefiles::image_width(image);
  int height = imagefiles::image_height(image);
  // One pass: the first and last row holding another colour, and over all
  // rows the leftmost and rightmost such pixel, are exactly what stripping
  // whole rows and then whole columns of the colour leaves.
  int top = height, bottom = -1, left = width, right = -1;
  try {
    imagefiles::RowReader reader(image);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
    auto other = [&colour](const std::uint8_t* p) {
      return p[0] != colour.blue || p[1] != colour.green || p[2] != colour.red;
    };
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* p = reader.read(height - 1 - y, buffer.data());
      int x = 0;
      while (x < width && !other(p + 3 * x)) ++x;
      if (x == width) continue;
      int last = width - 1;
      while (!other(p + 3 * last)) --last;
      top = std::min(top, y);
      bottom = y;
      left = std::min(left, x);
      right = std::max(right, last);
    }
  } catch (const std::bad_alloc&) {
    return Rect{0, 0, width - 1, height - 1};
  }
  if (bottom < 0) return Rect{width, height, width - 1, height - 1};  // all of the colour: empty
  return Rect{left, top, right, bottom};
}

// Whenever something is left the crop is reported, also when it takes
// nothing away (a picture whose corners share a colour but that has no plain
// row or column at its edge).
void crop_border(imagefiles::Image& image, imagefiles::Bgr colour, base::ReportLines& report) {
  const Rect r = content_rect(image, colour);
  if (r.holds_nothing()) return;
  int old_w = imagefiles::image_width(image);
  int old_h = imagefiles::image_height(image);
  if (!crop_image(image, r.left, r.top, r.right, r.bottom)) return;
  report.push_back(base::format("%sremove border %dx%d -> %dx%d\r\n", indent, old_w, old_h,
                                imagefiles::image_width(image), imagefiles::image_height(image)));
}

int remove_set_borders(imagefiles::ImageSet& set, int mode, base::ReportLines& report, int* shift_x, int* shift_y) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  int first = -1;
  for (int s = set.first_number; s < end && first < 0; ++s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)])) first = s;
  if (first < 0) return 0;
  const imagefiles::Image& head = set.images[static_cast<std::size_t>(first)];
  imagefiles::Bgr corner;
  if (bit_count(head) == 1 || !corner_colour(head, corner)) return 0;
  imagefiles::Bgr colour;
  if (mode == 1)
    colour = corner;
  else if (mode == 3 && set.transparent != 0)
    colour = set.transparent_colour;
  else
    return 0;

  // One rectangle for all images, so frames keep their places to each other.
  Rect run = content_rect(head, colour);
  for (int s = first + 1; s < end; ++s) {
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    const Rect r = content_rect(image, colour);
    if (r.holds_nothing()) continue;
    if (run.holds_nothing()) {
      run = r;
    } else {
      run.left = std::min(run.left, r.left);
      run.top = std::min(run.top, r.top);
      run.right = std::max(run.right, r.right);
      run.bottom = std::max(run.bottom, r.bottom);
    }
  }
  if (run.holds_nothing()) return 1;

  // Crop into new images first, so that running out of memory leaves the
  // whole set as it was.
  int old_w = imagefiles::image_width(head);
  int old_h = imagefiles::image_height(head);
  std::array<imagefiles::Image, base::limits::image_slots> cropped;
  bool changed = false;
  for (int s = first; s < end; ++s) {
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    Rect r = run;
    if (!clamp_rect(image, r) || is_whole(image, r)) continue;
    if (!crop_into(image, cropped[static_cast<std::size_t>(s)], r)) return -1;
    changed = true;
  }
  // The line is written whenever something is left, also when nothing was
  // cut away (corners of one colour, edges not plain): it shows the border
  // colour was looked for.
  if (changed) {
    for (int s = first; s < end; ++s)
      if (!is_empty(cropped[static_cast<std::size_t>(s)]))
        set.images[static_cast<std::size_t>(s)] = std::move(cropped[static_cast<std::size_t>(s)]);
    if (shift_x != nullptr) *shift_x -= run.left;
    if (shift_y != nullptr) *shift_y -= run.top;
  }
  report.push_back(base::format("%sremove border %dx%d -> %dx%d\r\n", indent, old_w, old_h,
                                imagefiles::image_width(head), imagefiles::image_height(head)));
  return 1;
}

bool resample_nearest(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect) {
  if (is_empty(image)) return false;
  int new_w, new_h;
  if (!target_size(image, max_w, max_h, keep_aspect, new_w, new_h)) return false;
  int w = image_width(image);
  int h = image_height(image);
  int bits = bit_count(image);
  imagefiles::Image result;
  if (!create_like(result, image, new_w, new_h)) return false;
  try {
    std::vector<int> column(static_cast<std::size_t>(new_w));
    for (int c = 0; c < new_w; ++c)
      column[static_cast<std::size_t>(c)] = static_cast<int>(static_cast<std::int64_t>(c) * w / new_w);
    for (int r = 0; r < new_h; ++r) {
      const std::uint8_t* from = stored_row(image, static_cast<int>(static_cast<std::int64_t>(r) * h / new_h));
      std::uint8_t* into = stored_row(result, r);
      switch (bits) {
        case 8:
          for (int c = 0; c < new_w; ++c) into[c] = from[column[static_cast<std::size_t>(c)]];
          break;
        case 16:
        case 24:
        case 32: {
          std::size_t unit = static_cast<std::size_t>(bits / 8);
          for (int c = 0; c < new_w; ++c)
            std::memcpy(into + unit * static_cast<std::size_t>(c),
                        from + unit * static_cast<std::size_t>(column[static_cast<std::size_t>(c)]), unit);
          break;
        }
        default:
          for (int c = 0; c < new_w; ++c) {
            int v = get_pixel(from, column[static_cast<std::size_t>(c)], bits);
            if (v != 0) or_pixel(into, c, bits, v);
          }
          break;
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  image = std::move(result);
  return true;
}

// Area-averaging box filter: every target pixel is the average of the source
// pixels it covers, each weighted by the area it covers. It is separable:
// each source row is first summed horizontally with whole-number coverage
// weights, then the weighted rows are added up vertically; the total weight
// of a target pixel is w * h, so a plain area keeps its colour exactly and
// shrinking a picture blends detail instead of dropping it.
bool resample_smooth(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect) {
  if (is_empty(image) || bit_count(image) != 24) return false;
  int new_w, new_h;
  if (!target_size(image, max_w, max_h, keep_aspect, new_w, new_h)) return false;
  int w = image_width(image);
  int h = image_height(image);
  imagefiles::Image result;
  if (!create_like(result, image, new_w, new_h)) return false;
  try {
    Spans across = make_spans(w, new_w);
    Spans down = make_spans(h, new_h);
    std::vector<std::uint32_t> row_sum(static_cast<std::size_t>(new_w) * 3);  // one source row, summed across
    std::vector<std::uint64_t> total(static_cast<std::size_t>(new_w) * 3);
    int summed_row = -1;
    const double scale = 1.0 / (static_cast<double>(w) * static_cast<double>(h));
    for (int r = 0; r < new_h; ++r) {
      std::fill(total.begin(), total.end(), 0);
      int j0 = down.first[static_cast<std::size_t>(r)];
      int n = down.count[static_cast<std::size_t>(r)];
      const std::uint32_t* dw = down.weight.data() + down.start[static_cast<std::size_t>(r)];
      for (int k = 0; k < n; ++k) {
        int j = j0 + k;
        if (j != summed_row) {  // a boundary row serves two target rows
          const std::uint8_t* from = stored_row(image, j);
          std::uint32_t* sum = row_sum.data();
          for (int c = 0; c < new_w; ++c, sum += 3) {
            const std::uint8_t* p = from + 3 * static_cast<std::size_t>(across.first[static_cast<std::size_t>(c)]);
            const std::uint32_t* cw = across.weight.data() + across.start[static_cast<std::size_t>(c)];
            int m = across.count[static_cast<std::size_t>(c)];
            std::uint32_t b = 0, g = 0, red = 0;
            for (int i = 0; i < m; ++i, p += 3) {
              b += cw[i] * p[0];
              g += cw[i] * p[1];
              red += cw[i] * p[2];
            }
            sum[0] = b;
            sum[1] = g;
            sum[2] = red;
          }
          summed_row = j;
        }
        std::uint64_t weight = dw[k];
        for (std::size_t i = 0; i < total.size(); ++i) total[i] += weight * row_sum[i];
      }
      std::uint8_t* into = stored_row(result, r);
      for (std::size_t i = 0; i < total.size(); ++i)
        into[i] = static_cast<std::uint8_t>(std::min(255.0, static_cast<double>(total[i]) * scale + 0.5));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  image = std::move(result);
  return true;
}

bool resize_image(imagefiles::Image& image, int max_w, int max_h, bool keep_aspect, const imagefiles::Bgr* transparent) {
  if (is_empty(image)) return false;
  int bits = bit_count(image);
  if (bits <= 8) return resample_nearest(image, max_w, max_h, keep_aspect);
  imagefiles::Image work;
  if (!duplicate_image(image, work) || !imagefiles::convert_to_24_bit(work)) return false;
  // Smoothing blends the key colour into its neighbours; a nearest-neighbour
  // copy remembers where the transparent pixels were.
  imagefiles::Image mask;
  if (transparent != nullptr &&
      (!imagefiles::duplicate_image(work, mask) || !resample_nearest(mask, max_w, max_h, keep_aspect)))
    return false;
  if (!resample_smooth(work, max_w, max_h, keep_aspect)) return false;
  // Mode 3: every transparent pixel with its 8 neighbours, and the outer
  // edge, so no blended fringe of the key colour remains visible.
  if (transparent != nullptr && !imagefiles::copy_colour_mask(work, mask, *transparent, 3)) return false;
  if (bits == 16 && !imagefiles::convert_to_16_bit(work, true, transparent)) return false;
  image = std::move(work);
  return true;
}

bool fit_set(imagefiles::ImageSet& set, int max_x, int max_y, bool keep_aspect, int mode, base::ReportLines& report) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  int images = 0;
  for (int s = set.first_number; s < end; ++s) images += is_empty(set.images[static_cast<std::size_t>(s)]) ? 0 : 1;
  const imagefiles::Bgr* transparent = set.transparent != 0 ? &set.transparent_colour : nullptr;
  for (int s = set.first_number; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    if ((imagefiles::image_width(image) > max_x || imagefiles::image_height(image) > max_y) && images == 1) {
      // A border is only looked for where the four corners share a colour,
      // whichever colour is then taken away.
      imagefiles::Bgr corner;
      const bool corners_agree = corner_colour(image, corner);
      if ((mode == 1 || mode == 2) && corners_agree)
        crop_border(image, corner, report);
      else if ((mode == 3 || mode == 4) && transparent != nullptr && corners_agree)
        crop_border(image, *transparent, report);
    }
    int old_w = imagefiles::image_width(image);
    int old_h = imagefiles::image_height(image);
    if (old_w <= max_x && old_h <= max_y) continue;
    if (!resize_image(image, max_x, max_y, keep_aspect, transparent)) return false;
    report.push_back(base::format("%sresize %dx%d -> %dx%d\r\n", indent, old_w, old_h, image_width(image),
                                  image_height(image)));
  }
  return true;
}

}  // namespace vexa::resources
