// The text layer and the canvas where the compiler's runs do not reach:
// faces kept apart by weight, heights no face is opened at, box scaling
// (only the sheets of instruments use it) and pens wider than 2 pixels.
#include <gtest/gtest.h>

#include "imagefiles/canvas.h"
#include "imagefiles/glyphs.h"
#include "pictures.h"

namespace vexa::imagefiles {
namespace {

TEST(Glyphs, FacesKeptByWeightAndHeightWithinTheCellRange) {
  FontLibrary fonts;
  std::string error;
  Face* normal = open_face(fonts, "DejaVu Sans", "", weight_normal, 24, error);
  ASSERT_NE(normal, nullptr) << error;
  EXPECT_EQ(open_face(fonts, "DejaVu Sans", "", weight_normal, 24, error), normal);
  EXPECT_NE(open_face(fonts, "DejaVu Sans", "", weight_bold, 24, error), normal);
  EXPECT_NE(open_face(fonts, "DejaVu Sans", "", weight_normal, 23, error), normal);
  // Heights no face is opened at.
  EXPECT_EQ(open_face(fonts, "DejaVu Sans", "", weight_normal, 0, error), nullptr);
  EXPECT_EQ(error, "cannot use the font \"DejaVu Sans\" with a height of 0 pixels !");
  EXPECT_EQ(open_face(fonts, "DejaVu Sans", "", weight_normal, 2049, error), nullptr);
  EXPECT_NE(open_face(fonts, "DejaVu Sans", "", weight_normal, 2048, error), nullptr);
}

TEST(Canvas, BoxScalingAveragesNearestPicks) {
  const test::Legend legend = {{'#', imagefiles::rgb(0, 0, 0)}, {'.', imagefiles::rgb(255, 255, 255)},
                               {'g', imagefiles::rgb(128, 128, 128)}, {'b', imagefiles::rgb(9, 9, 9)}};
  const imagefiles::Image source = test::image_from_art({"#.", ".."}, 24, legend);
  Canvas canvas;
  ASSERT_TRUE(create_canvas(canvas, 6, 5, imagefiles::rgb(9, 9, 9)));
  stretch_image(canvas, 1, 1, 4, 4, source, 0, 0, 2, 2, Stretch::nearest);
  // Three pixels over two: the middle one covers half of each; the source
  // rectangle is clipped to the picture.
  stretch_image(canvas, 0, 0, 3, 1, source, 0, 0, 2, 1, Stretch::box);
  stretch_image(canvas, 5, 0, 1, 5, source, 1, 1, 5, 5, Stretch::box);
  imagefiles::Image result;
  ASSERT_TRUE(canvas_to_image(canvas, result));
  EXPECT_EQ(test::art_from_image(result, legend), (test::Art{"#g.bb.", "b##...", "b##...", "b.....", "b....."}));
}

TEST(Canvas, WidePensAreRound) {
  // A pen of even width has no middle pixel: its disc lies above and left of
  // the line's pixel. Four wide, the disc's corners stay clear.
  const test::Legend legend = {{'#', imagefiles::rgb(0, 0, 0)}, {'.', imagefiles::rgb(255, 255, 255)}};
  Canvas canvas;
  ASSERT_TRUE(create_canvas(canvas, 6, 5, imagefiles::rgb(255, 255, 255)));
  draw_wide_line(canvas, 2, 2, 3, 2, 4, imagefiles::rgb(0, 0, 0));
  draw_wide_line(canvas, 5, 1, 5, 2, 2, imagefiles::rgb(0, 0, 0));
  imagefiles::Image result;
  ASSERT_TRUE(canvas_to_image(canvas, result));
  EXPECT_EQ(test::art_from_image(result, legend), (test::Art{".##.##", "######", "####..", ".##...", "......"}));
}

}  // namespace
}  // namespace vexa::imagefiles
