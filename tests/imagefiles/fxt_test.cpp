// The FXT reader and the listing writer where the compiler's runs do not
// reach: rows longer than a line is read, and listings of sets that no font
// import makes (a gap in the first slot, sizes that differ, colour pictures).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "imagefiles/fxt.h"
#include "pictures.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

const test::Legend ink = {{'#', imagefiles::rgb(0, 0, 0)}, {'.', imagefiles::rgb(255, 255, 255)}};

TEST(ReadFxtFont, ColumnsBeyondTheLineLimitAreDropped) {
  // Read as a line of its own, the rest of the long row would be a row of
  // another width.
  auto set = std::make_unique<imagefiles::ImageSet>();
  const std::string text = "1\n" + std::string(6000, '#') + "\n" + std::string(5000, '.') + "\n";
  std::vector<LineFault> faults;
  ASSERT_EQ(read_fxt_font(*set, Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), faults), 1);
  EXPECT_TRUE(faults.empty());
  EXPECT_EQ(imagefiles::image_width(set->images[1]), 5000);
  EXPECT_EQ(imagefiles::image_height(set->images[1]), 2);
}

TEST(WriteFontListing, GapFirstControlCodesSizesThatDifferAndColourPictures) {
  test::TempDir dir;
  auto set = std::make_unique<imagefiles::ImageSet>();
  set->first_number = 30;  // a gap: sizes are compared from 31 on
  set->count = 3;
  set->images[31] = test::image_from_art({"#.", ".#", "##"}, 24, ink);
  set->images[32] = test::image_from_art({"..", "..", "#."}, 24, ink);
  ASSERT_EQ(write_font_listing(*set, dir.file("mono.fxt")), 1);
  EXPECT_EQ(test::read_file(dir.file("mono.fxt")),
            "; First Nr    :  30\n; Last  Nr    :  32\n; Typ         : monospaced\n; width       :   2\n"
            "; height      :   3\n\n31  $1F\n#.\n.#\n##\n\n32  $20  ' '\n..\n..\n#.\n\n");

  set->images[32] = test::image_from_art({"#.#"}, 24, ink);
  ASSERT_EQ(write_font_listing(*set, dir.file("various.fxt")), 1);
  EXPECT_EQ(test::read_file(dir.file("various.fxt")),
            "; First Nr    :  30\n; Last  Nr    :  32\n; Typ         : various size\n; max width   :   3\n"
            "; max height  :   3\n\n31  $1F\n#.\n.#\n##\n\n32  $20  ' '\n#.#\n\n");
  EXPECT_EQ(write_font_listing(*set, dir.file("missing/font.fxt")), 0);
}

}  // namespace
}  // namespace vexa::imagefiles
