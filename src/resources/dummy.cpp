#include "resources/dummy.h"

#include <string>
#include <string_view>

#include "base/format.h"
#include "command/context.h"
#include "command/source.h"
#include "imagefiles/canvas.h"
#include "resources/colour.h"

namespace vexa::resources {

namespace {

// What a placeholder shows. Strokes: T, B, L, R the top, bottom, left and
// right edge, D the diagonal from the top-left corner, d the one from the
// top-right corner, P a line through the middle row, S the caption.
struct DummyKind {
  char letter;
  const char* word;
  const char* strokes;
  imagefiles::Bgr zero;  // colour of the 0 bits (the background)
  imagefiles::Bgr one;   // colour of the 1 bits (the drawing)
};

constexpr DummyKind dummy_kinds[] = {
    {'P', "picture", "LRTBS", imagefiles::rgb(100, 0, 0), imagefiles::rgb(255, 0, 0)},
    {'A', "animation", "LRTBS", imagefiles::rgb(0, 100, 0), imagefiles::rgb(0, 255, 0)},
    {'B', "button", "LRTBS", imagefiles::rgb(100, 100, 0), imagefiles::rgb(255, 255, 0)},
    {'I', "instrument", "LRTBdS", imagefiles::rgb(0, 0, 100), imagefiles::rgb(0, 0, 255)},
    {'F', "font", "TBP", imagefiles::rgb(0, 100, 100), imagefiles::rgb(0, 255, 255)},
};

// The caption asks for the 8-pixel "Terminal" face. Where no face of that
// name is installed, fontconfig's generic monospace family stands in (on the
// supported systems DejaVu Sans Mono from fonts-dejavu-core): any small
// fixed-pitch face gives a readable caption, and asking for the generic
// family keeps the choice the same on every machine with those packages.
constexpr std::string_view caption_family = "Terminal";
constexpr std::string_view caption_fallback = "monospace";
constexpr int caption_height = 8;
constexpr int caption_x = 4;
constexpr int caption_y = 2;

const DummyKind* find_kind(char letter) {
  for (const DummyKind& kind : dummy_kinds)
    if (kind.letter == letter) return &kind;
  return nullptr;
}

// Draws the strokes on a white canvas in black; false when the caption
// cannot be rendered. The edges run to one pixel
// beyond the picture, so that the left-out end point lies outside and each
// edge covers its whole row or column; the diagonals likewise run from corner
// to corner of the picture's outline.
bool draw_strokes(imagefiles::Canvas& canvas, const char* strokes, const imagefiles::Face* face,
                  const std::string& caption) {
  const int w = canvas.width;
  const int h = canvas.height;
  const imagefiles::Bgr black = imagefiles::rgb(0, 0, 0);
  for (const char* s = strokes; *s != '\0'; ++s) {
    switch (*s) {
      case 'T': imagefiles::draw_line(canvas, 0, 0, w, 0, black); break;
      case 'B': imagefiles::draw_line(canvas, 0, h - 1, w, h - 1, black); break;
      case 'L': imagefiles::draw_line(canvas, 0, 0, 0, h, black); break;
      case 'R': imagefiles::draw_line(canvas, w - 1, 0, w - 1, h, black); break;
      case 'D': imagefiles::draw_line(canvas, 0, 0, w, h, black); break;
      case 'd': imagefiles::draw_line(canvas, w - 1, 0, -1, h, black); break;
      case 'P': imagefiles::draw_line(canvas, w / 4, h / 2, w - w / 4, h / 2, black); break;
      case 'S':
        if (face == nullptr || imagefiles::draw_text(canvas, *face, caption_x, caption_y, caption, black) < 0)
          return false;
        break;
      default: break;
    }
  }
  return true;
}

}  // namespace

int make_dummy_images(command::Context& ctx, imagefiles::ImageSet& set, char letter, int number) {
  const DummyKind* kind = find_kind(letter);
  if (kind == nullptr) return 0;
  const imagefiles::Face* face = nullptr;
  if (std::string_view(kind->strokes).find('S') != std::string_view::npos) {
    std::string error;
    face = imagefiles::open_face(ctx.fonts, caption_family, caption_fallback, imagefiles::weight_normal,
                                 caption_height, error);
    if (face == nullptr) {
      command::report_error(ctx, error);
      return 0;
    }
  }

  int images = 0;
  const int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) images += is_empty(set.images[static_cast<std::size_t>(s)]) ? 0 : 1;

  for (int s = set.first_number; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    const int w = imagefiles::image_width(image);
    const int h = imagefiles::image_height(image);
    const bool coloured = bit_count(image) > 1;
    imagefiles::Image drawing;
    bool drawn = false;
    if (letter == 'F' && s == 32) {
      // The space of a font stays empty.
      drawn = imagefiles::create_image(drawing, w, h, 1);
    } else {
      std::string caption;
      if (images == 1)
        caption = vexa::base::format("%s %d", kind->word, number);
      else if (letter == 'I' && s == 0)
        caption = vexa::base::format("%s %d.", kind->word, number);
      else
        caption = vexa::base::format("%s %d.%d", kind->word, number, s);
      imagefiles::Canvas canvas;
      drawn = imagefiles::create_canvas(canvas, w, h, imagefiles::rgb(255, 255, 255));
      drawn = drawn && draw_strokes(canvas, kind->strokes, face, caption) &&
              imagefiles::canvas_to_image(canvas, drawing) && convert_to_1_bit(drawing, nullptr);
    }
    if (!drawn) {
      command::report_error(ctx, "cannot draw the placeholder images !");
      return 0;
    }
    // A picture that had colours keeps the kind's two colours in the 1-bit
    // colour fields of its block, so the module shows the placeholder in them.
    if (coloured) {
      imagefiles::set_colour_entry(drawing, 0, kind->zero);
      imagefiles::set_colour_entry(drawing, 1, kind->one);
    }
    image = std::move(drawing);
  }
  set.transparent = 0;
  return 1;
}

}  // namespace vexa::resources
