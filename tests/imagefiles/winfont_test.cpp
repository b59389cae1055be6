// The installed-font rasteriser where the compiler's runs do not reach: the
// cropping window kept inside cells with few blank rows around the ink, and
// the faces that fitting and sheets open, released again.
#include <gtest/gtest.h>

#include "imagefiles/winfont.h"
#include "pictures.h"
#include "resources/sheet.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

const test::Legend ink = {{'#', imagefiles::rgb(0, 0, 0)}, {'.', imagefiles::rgb(255, 255, 255)}};

// A cell one pixel wide, its rows given top first.
test::Art column(const std::string& rows) {
  test::Art art;
  for (char c : rows) art.push_back(std::string(1, c));
  return art;
}

TEST(CropFontCells, SpareRowsSmallerHalfBelowWindowInsideTheCell) {
  struct Case {
    const char* cell;
    int ink, wanted, bottom;  // ink height, wanted height, blank rows under the ink
    const char* kept;
  };
  const Case cases[] = {
      {".....###....", 3, 6, 4, "..###."},    // three spare rows: one below, two above
      {"..#######.#.", 9, 6, 1, "#######.#"},  // ink taller than wanted: all of it
      {"........##", 2, 8, 0, "......##"},     // no room below: the window starts at the bottom
      {"#.........", 1, 8, 9, "#......."},     // nor above: it ends at the top
      {"..#..", 1, 8, 2, "..#.."},             // a cell not taller is left alone
  };
  for (const Case& c : cases) {
    imagefiles::ImageSet set;
    set.first_number = 5;
    set.count = 2;  // slot 6 is a gap
    set.images[5] = test::image_from_art(column(c.cell), 24, ink);
    ASSERT_TRUE(crop_font_cells(set, c.ink, c.wanted, c.bottom));
    EXPECT_EQ(test::art_from_image(set.images[5], ink), column(c.kept)) << c.cell;
    EXPECT_TRUE(imagefiles::is_empty(set.images[6]));
  }
}

TEST(Faces, FittingAndSheetsReleaseWhatTheyOpen) {
  test::CapturedContext c;
  WinFontParameters request;
  request.face_name = "DejaVu Sans";
  request.ranges = {{65, 66}, {103, 103}};
  request.size = 11;  // no height gives 11 rows of ink at once: several fonts are tried
  ASSERT_EQ(rasterise_windows_font(c.ctx->fonts, c.ctx->work_set, request), 1);
  EXPECT_TRUE(c.ctx->fonts.faces.empty());
  ASSERT_EQ(resources::export_overview_sheet(*c.ctx, c.dir.file("sheet.bmp"), c.ctx->work_set, 8, 11, 16, resources::stretch_nearest), 1);
  EXPECT_TRUE(c.ctx->fonts.faces.empty());
}

}  // namespace
}  // namespace vexa::imagefiles
