// The text layer and the raster canvas. The faces come from the packages the
// project installs (fonts-dejavu-core, fonts-liberation2).
#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "imagefiles/canvas.h"
#include "imagefiles/glyphs.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::rgb;

int ink_of(const resources::Image& cell) {
  int ink = 0;
  for (int y = 0; y < resources::image_height(cell); ++y)
    for (int x = 0; x < resources::image_width(cell); ++x) ink += resources::pixel_value(cell, x, y) != 0 ? 1 : 0;
  return ink;
}

TEST(Glyphs, CaptionFaceIsAnEightPixelMonospaceFace) {
  FontLibrary fonts;
  std::string error;
  Face* face = open_face(fonts, "Terminal", "monospace", weight_normal, 8, error);
  ASSERT_NE(face, nullptr) << error;
  EXPECT_EQ(face->ascent + face->descent, 8);
  EXPECT_EQ(open_face(fonts, "Terminal", "monospace", weight_normal, 8, error), face);  // kept
  int wi, wm, h;
  ASSERT_TRUE(char_extent(*face, 'i', wi, h));
  ASSERT_TRUE(char_extent(*face, 'M', wm, h));
  EXPECT_EQ(wi, wm);
  EXPECT_GT(wi, 2);
  EXPECT_EQ(h, 8);
  int tw, th;
  ASSERT_TRUE(text_extent(*face, "picture 7", tw, th));
  EXPECT_EQ(tw, 9 * wi);
  EXPECT_TRUE(has_glyph(*face, 'A'));
  EXPECT_FALSE(has_glyph(*face, 0x10FFFF));

  resources::Image cell;
  ASSERT_TRUE(render_glyph(*face, 'I', cell));
  EXPECT_EQ(resources::bit_count(cell), 1);
  EXPECT_EQ(resources::image_width(cell), wi);
  EXPECT_EQ(resources::image_height(cell), 8);
  EXPECT_EQ(resources::colour_entry(cell, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::colour_entry(cell, 1), rgb(0, 0, 0));
  EXPECT_GE(ink_of(cell), 5);  // a vertical stroke over most of the ascent
  ASSERT_TRUE(render_glyph(*face, ' ', cell));
  EXPECT_EQ(ink_of(cell), 0);
}

TEST(Glyphs, WeightsAndSizes) {
  FontLibrary fonts;
  std::string error;
  Face* normal = open_face(fonts, "DejaVu Sans", "", weight_normal, 24, error);
  Face* bold = open_face(fonts, "DejaVu Sans", "", weight_bold, 24, error);
  ASSERT_NE(normal, nullptr);
  ASSERT_NE(bold, nullptr);
  EXPECT_NE(normal, bold);
  EXPECT_EQ(normal->ascent + normal->descent, 24);
  resources::Image a, b;
  ASSERT_TRUE(render_glyph(*normal, 'H', a));
  ASSERT_TRUE(render_glyph(*bold, 'H', b));
  EXPECT_GT(ink_of(b), ink_of(a) + 10);
  int w, h;
  ASSERT_TRUE(char_extent(*normal, 'W', w, h));
  EXPECT_EQ(h, 24);

  EXPECT_EQ(open_face(fonts, "DejaVu Sans", "", weight_normal, 0, error), nullptr);
  EXPECT_EQ(error, "cannot use the font \"DejaVu Sans\" with a height of 0 pixels !");
}

TEST(Glyphs, NoInstalledFaceIsAnErrorNotACrash) {
  test::TempDir dir;
  test::write_file(dir.file("empty.conf"), "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");
  const char* old = std::getenv("FONTCONFIG_FILE");
  std::string saved = old != nullptr ? old : "";
  ::setenv("FONTCONFIG_FILE", dir.file("empty.conf").c_str(), 1);
  {
    FontLibrary fonts;
    std::string error;
    EXPECT_EQ(open_face(fonts, "Terminal", "monospace", weight_normal, 8, error), nullptr);
    EXPECT_EQ(error, "cannot find the font \"Terminal\" !");
  }
  if (old != nullptr)
    ::setenv("FONTCONFIG_FILE", saved.c_str(), 1);
  else
    ::unsetenv("FONTCONFIG_FILE");
}

bool ink_at(const Canvas& canvas, int x, int y) { return get_pixel(canvas, x, y) == rgb(0, 0, 0); }

TEST(Canvas, LinesLeaveOutTheirEndPointAndClip) {
  Canvas canvas;
  EXPECT_FALSE(create_canvas(canvas, 0, 5, rgb(255, 255, 255)));
  ASSERT_TRUE(create_canvas(canvas, 10, 6, rgb(255, 255, 255)));
  const Bgr black = rgb(0, 0, 0);
  draw_line(canvas, 1, 1, 5, 1, black);
  draw_line(canvas, 8, 5, 8, 2, black);
  draw_line(canvas, 0, 0, 3, 3, black);
  draw_line(canvas, 7, 0, 7, 0, black);     // a point: nothing
  draw_line(canvas, -20, 5, 30, 5, black);  // mostly outside
  for (int x = 0; x < 10; ++x) {
    EXPECT_EQ(ink_at(canvas, x, 1), x >= 1 && x <= 4) << x;
    EXPECT_TRUE(ink_at(canvas, x, 5));
  }
  for (auto [x, y, ink] : {std::tuple{8, 2, false}, {8, 3, true}, {8, 4, true}, {0, 0, true}, {2, 2, true},
                           {3, 3, false}, {7, 0, false}})
    EXPECT_EQ(ink_at(canvas, x, y), ink) << x << "," << y;

  fill_rect(canvas, 8, -3, 10, 4, rgb(1, 2, 3));  // clipped to columns 8-9, row 0
  resources::Image image;
  ASSERT_TRUE(canvas_to_image(canvas, image));
  EXPECT_EQ(resources::bit_count(image), 24);
  EXPECT_EQ(resources::pixel_colour(image, 9, 0), rgb(1, 2, 3));
  EXPECT_EQ(resources::pixel_colour(image, 9, 1), rgb(255, 255, 255));
  EXPECT_EQ(resources::pixel_colour(image, 2, 1), rgb(0, 0, 0));
}

TEST(Canvas, TextStaysInItsCellOnATransparentBackground) {
  FontLibrary fonts;
  std::string error;
  Face* face = open_face(fonts, "Terminal", "monospace", weight_normal, 8, error);
  ASSERT_NE(face, nullptr) << error;
  Canvas canvas;
  ASSERT_TRUE(create_canvas(canvas, 60, 20, rgb(9, 9, 9)));
  int width = draw_text(canvas, *face, 4, 2, "Hg|", rgb(255, 0, 0));
  int w, h;
  ASSERT_TRUE(text_extent(*face, "Hg|", w, h));
  EXPECT_EQ(width, w);
  int ink = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 60; ++x) {
      Bgr p = get_pixel(canvas, x, y);
      if (p == rgb(255, 0, 0)) {
        ++ink;
        EXPECT_TRUE(x >= 4 && x < 4 + w && y >= 2 && y < 10) << x << "," << y;
      } else {
        EXPECT_EQ(p, rgb(9, 9, 9));
      }
    }
  EXPECT_GT(ink, 12);
}

}  // namespace
}  // namespace vexa::imagefiles
