#include "resources/sheet.h"

#include <algorithm>
#include <cstdint>

#include "base/format.h"
#include "command/context.h"
#include "imagefiles/bmp.h"
#include "imagefiles/canvas.h"
#include "imagefiles/winfont.h"
#include "resources/colour.h"

namespace vexa::resources {

namespace {

using imagefiles::Bgr;
using imagefiles::rgb;

constexpr imagefiles::Bgr black = rgb(0, 0, 0);
constexpr imagefiles::Bgr white = rgb(255, 255, 255);

// The labels' face, asked for by the name every system of the module's
// original platform has; fontconfig maps it to a metric-compatible face.
constexpr const char* label_face = "Arial";

// The sheet's resolution is tied to its width, so that a viewer that honours
// it shows every sheet about 10 cm wide.
constexpr int pels_per_metre_per_pixel = 10;

// The enlargement (percent) that makes cells of content height h readable.
int scale_for(int h) {
  if (h <= 10) return 300;
  if (h <= 20) return 200;
  if (h <= 150) return 100;
  if (h <= 300) return 50;
  if (h <= 450) return 25;
  if (h <= 600) return 16;
  if (h <= 800) return 12;
  return 10;
}

// Everything the drawing needs, in pixels.
struct Layout {
  int first = 0;    // first number of the set
  int last = 0;     // last number
  int columns = 0;  // cells per grid row
  int rows = 0;     // grid rows R
  int scale = 0;    // percent
  int cell_width = 0;
  int cell_height = 0;
  int line = 0;     // L: bars between cells
  int margin = 0;   // M: borders, 2 L
  int header = 0;   // HB: height of the heading band
  int left = 0;     // LB: width of the row heading band
  int width = 0;    // SW
  int height = 0;   // SH
};

// The label font's cell height. The rule can turn negative for single-row
// sheets of very tall images; its size then still says how big the labels
// should be, and a height below 1 is taken as 1.
int label_height(const Layout& l) {
  int h = l.rows == 1 && l.cell_height > 60 ? l.cell_height / (l.cell_height / 60 + 2) - 2 * l.line
                                            : l.cell_height / 2 - 2 * l.line;
  return std::max(std::abs(h), 1);
}

int text_width(const imagefiles::Face& face, const std::string& text) {
  int w = 0, h = 0;
  return imagefiles::text_extent(face, text, w, h) ? w : 0;
}

// Text placed by a reference point: its cell's left, centre or right at x and
// its cell's top or bottom at y.
enum class Align { left_top, centre_top, centre_bottom, right_top, left_bottom };

void place_text(imagefiles::Canvas& canvas, const imagefiles::Face& face, int x, int y, const std::string& text, Align align) {
  int w = 0, h = 0;
  if (!imagefiles::text_extent(face, text, w, h)) return;
  switch (align) {
    case Align::left_top: break;
    case Align::centre_top: x -= w / 2; break;
    case Align::centre_bottom: x -= w / 2; y -= h; break;
    case Align::right_top: x -= w; break;
    case Align::left_bottom: y -= h; break;
  }
  draw_text(canvas, face, x, y, text, black);
}

// The bars, the corner, the headings: everything but the images.
void draw_grid(imagefiles::Canvas& canvas, const imagefiles::Face& face, const Layout& l) {
  const int L = l.line, M = l.margin, SW = l.width, SH = l.height;
  fill_rect(canvas, 0, 0, M, SH, black);                  // left border
  fill_rect(canvas, SW - M, 0, M, SH, black);             // right border
  fill_rect(canvas, 0, 0, SW, M, black);                  // top border
  fill_rect(canvas, 0, l.header - L, SW, M, black);       // under the heading band
  fill_rect(canvas, 0, SH - M, SW, M, black);             // bottom border
  if (l.rows > 1) {
    fill_rect(canvas, l.left - L, 0, M, SH, black);       // right of the row headings
    draw_wide_line(canvas, M, M, l.left, l.header, M, black);
    // A grid of 16 columns reads as the upper and lower digit of a
    // hexadecimal code; any other as a base plus an offset.
    const bool hex = l.columns == 16;
    place_text(canvas, face, l.left - 2 * M, 2 * M, hex ? "+ Lower" : "+ Offset", Align::right_top);
    place_text(canvas, face, 2 * M, l.header - 2 * M, hex ? "Upper" : "Base", Align::left_bottom);
  }
  for (int c = 0; c < l.columns; ++c) {
    const int x = l.left + c * l.cell_width;
    if (c > 0) fill_rect(canvas, x, 0, L, SH, black);
    const int value = l.rows == 1 ? l.first + c : c;
    const int centre = x + L + l.cell_width / 2;
    place_text(canvas, face, centre, 2 * M, vexa::base::format("$%X", value), Align::centre_top);
    place_text(canvas, face, centre, l.header - 2 * M, vexa::base::format("(%d)", value), Align::centre_bottom);
  }
  if (l.rows > 1) {
    for (int r = 0; r < l.rows; ++r) {
      const int y = l.header + r * l.cell_height;
      if (r > 0) fill_rect(canvas, 0, y, SW, L, black);
      const int base = (l.first / l.columns + r) * l.columns;
      place_text(canvas, face, 2 * M, y + l.cell_height / 4, vexa::base::format("$%02X (dez: %d)", base, base),
                 Align::left_top);
    }
  }
}

// Draws one image into its cell. The image is drawn from a copy, so that the
// set keeps its colours: on the sheet the transparent colour shows as white,
// and on a 1-bit sheet the images' own two colours show as white and black.
// An image lower than the content height has no rows for the top of its
// area: it is drawn at its own height, standing on the bottom of the area.
void draw_image(imagefiles::Canvas& canvas, const Layout& l, const imagefiles::ImageSet& set, int code, int content_height,
                bool monochrome, imagefiles::Stretch mode) {
  const imagefiles::Image& image = set.images[static_cast<std::size_t>(code)];
  const int fw = imagefiles::image_width(image);
  const int fh = imagefiles::image_height(image);
  if (fw <= 0 || fh <= 0) return;
  imagefiles::Image copy;
  if (!imagefiles::duplicate_image(image, copy)) return;
  if (set.transparent != 0) replace_colour(copy, set.transparent_colour, white);
  if (monochrome && imagefiles::bit_count(copy) == 1) {
    imagefiles::set_colour_entry(copy, 0, white);
    imagefiles::set_colour_entry(copy, 1, black);
  }
  // A single grid row has one column per number; its column count is no
  // longer the one the rows were counted with, so the row is simply 0.
  const int column = l.rows == 1 ? code - l.first : code % l.columns;
  const int row = l.rows == 1 ? 0 : code / l.columns - l.first / l.columns;
  const long long area_height = static_cast<long long>(content_height) * l.scale / 100;
  const long long target_width = static_cast<long long>(fw) * l.scale / 100;
  const long long shown_rows = std::min<long long>(fh, content_height);
  const long long target_height = shown_rows * l.scale / 100;
  const long long x = l.left + static_cast<long long>(column) * l.cell_width + ((l.cell_width + l.line) - target_width) / 2;
  const long long y = l.header + static_cast<long long>(row) * l.cell_height + (l.cell_height - area_height) / 2 +
                      l.line / 2 + (area_height - target_height);
  stretch_image(canvas, static_cast<int>(x), static_cast<int>(y), static_cast<int>(target_width),
                static_cast<int>(target_height), copy, 0, fh - static_cast<int>(shown_rows), fw,
                static_cast<int>(shown_rows), mode);
}

// Writes the canvas as a BMP: 1 bit (white, black) for a monochrome sheet,
// else 24 bits reduced to the fewest colours that hold it.
int write_sheet_bitmap(const imagefiles::Canvas& canvas, bool monochrome, const std::string& file_name) {
  imagefiles::Image image;
  if (monochrome) {
    if (!imagefiles::create_image(image, canvas.width, canvas.height, 1)) return 0;
    for (int y = 0; y < canvas.height; ++y) {
      std::uint8_t* row = imagefiles::row_pointer(image, y);
      for (int x = 0; x < canvas.width; ++x) {
        const imagefiles::Bgr p = imagefiles::get_pixel(canvas, x, y);
        // Box-filtered edges are grey: the darker half becomes ink.
        if (p.red + p.green + p.blue < 3 * 128) row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
      }
    }
  } else {
    if (!canvas_to_image(canvas, image)) return 0;
    base::ReportLines none;  // report depth 0: the analysis has nothing to say
    analyse_colours(image, 0, false, none);
  }
  // Set after the colour analysis, which builds a new block.
  const auto resolution = static_cast<std::uint32_t>(canvas.width * pels_per_metre_per_pixel);
  imagefiles::set_header_field(image, imagefiles::dib::x_pels, resolution);
  imagefiles::set_header_field(image, imagefiles::dib::y_pels, resolution);
  return write_bmp_file(image, file_name);
}

// Closes the label face however the sheet ends.
struct FaceGuard {
  imagefiles::FontLibrary& fonts;
  imagefiles::Face* face;
  ~FaceGuard() {
    if (face != nullptr) imagefiles::release_face(fonts, face);
  }
};

}  // namespace

int export_overview_sheet(command::Context& ctx, const std::string& file_name, imagefiles::ImageSet& set, int width, int height,
                          int columns, int stretch_mode) {
  if (set.count == 0 || width < 1 || height < 1 || columns < 1) return 0;
  Layout l;
  l.first = set.first_number;
  l.last = std::min(set.first_number + set.count, base::limits::image_slots) - 1;
  if (l.last < l.first) return 0;
  const imagefiles::Image* first_image = nullptr;
  for (int code = l.first; code <= l.last && first_image == nullptr; ++code)
    if (!imagefiles::is_empty(set.images[static_cast<std::size_t>(code)]))
      first_image = &set.images[static_cast<std::size_t>(code)];
  if (first_image == nullptr) return 0;
  const bool monochrome = imagefiles::bit_count(*first_image) == 1;

  l.columns = columns;
  l.rows = l.last / columns - l.first / columns + 1;
  if (l.rows == 1) l.columns = l.last - l.first + 1;
  l.scale = scale_for(height);
  // In 64 bits: a wide image at three times its size can pass the int range;
  // the sheet's size is checked against the image limits below.
  const long long shown_w = static_cast<long long>(width) * l.scale / 100;
  const long long shown_h = static_cast<long long>(height) * l.scale / 100;
  long long cell_w = shown_w + 8 + shown_w / 8;
  const long long cell_h = shown_h + 8 + shown_h / 8;
  if (cell_w > base::limits::image_side || cell_h > base::limits::image_side) return 0;
  l.cell_width = static_cast<int>(cell_w);
  l.cell_height = static_cast<int>(cell_h);
  l.line = std::min(l.cell_width, l.cell_height) / 60 + 1;
  l.margin = 2 * l.line;

  imagefiles::FontDescription label;
  label.face_name = label_face;
  label.height = label_height(l);
  label.weight = imagefiles::weight_normal;
  label.charset = imagefiles::charset_default;
  std::string error;
  FaceGuard guard{ctx.fonts, create_fitted_font(ctx.fonts, label, error)};
  if (guard.face == nullptr) return 0;
  const imagefiles::Face& face = *guard.face;

  int w15 = 0, h15 = 0;
  if (!imagefiles::text_extent(face, "(15)", w15, h15)) return 0;
  l.header = 2 * h15 + 4 * l.margin;
  if (w15 + 3 * l.margin > l.cell_width) l.cell_width = w15 + 3 * l.margin;
  l.left = l.rows > 1 ? text_width(face, "$F0 (dez: 240)") + 4 * l.margin : l.margin;
  const long long sheet_w = l.left + static_cast<long long>(l.cell_width) * l.columns + l.margin;
  const long long sheet_h = l.header + static_cast<long long>(l.cell_height) * l.rows + l.margin;
  if (sheet_w > base::limits::image_side || sheet_h > base::limits::image_side) return 0;
  l.width = static_cast<int>(sheet_w);
  l.height = static_cast<int>(sheet_h);

  imagefiles::Canvas canvas;
  if (!create_canvas(canvas, l.width, l.height, white)) return 0;
  draw_grid(canvas, face, l);
  const imagefiles::Stretch mode = stretch_mode == stretch_halftone ? imagefiles::Stretch::box : imagefiles::Stretch::nearest;
  for (int code = l.first; code <= l.last; ++code)
    if (!imagefiles::is_empty(set.images[static_cast<std::size_t>(code)]))
      draw_image(canvas, l, set, code, height, monochrome, mode);
  return write_sheet_bitmap(canvas, monochrome, file_name);
}

}  // namespace vexa::resources
