// UL and CL when the image is nearly full: the command and its picture are
// taken together or not at all. What they append and report otherwise is
// pinned by the golden projects.
#include <gtest/gtest.h>

#include "command/work_areas.h"
#include "pictures.h"
#include "test_support.h"

namespace vexa::resources {
namespace {

TEST(InlinePicture, ANearlyFullImageTakesNeitherCommandNorPicture) {
  test::CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), test::bmp_from_art({"RRBB"}));
  std::vector<std::uint8_t> filler(base::limits::work_area - 45, 0);
  ASSERT_TRUE(command::append_to_area(*c.ctx, c.ctx->flash.image, c.ctx->flash.image_pos, filler.data(), filler.size()));
  // 7 command bytes and 31 block bytes fit into 45; the second command
  // alone would fit into the 7 bytes left, but not with its picture.
  c.compile_lines("VexaG6\nMacro 1\n#UL 1,2,<./p.bmp>\n#UL 1,2,<./p.bmp>\n");
  EXPECT_NE(c.console().find("--->LINE 4: DATA-FLASH memory overflow !\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 1);
  EXPECT_EQ(c.ctx->flash.image_pos, static_cast<int>(base::limits::work_area) - 7);
  EXPECT_EQ(c.ctx->macro.bytes, 38);
  EXPECT_EQ(c.ctx->macro.commands, 0);
}

}  // namespace
}  // namespace vexa::resources
