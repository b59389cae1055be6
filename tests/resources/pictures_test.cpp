// Storing a resource when the resource area is nearly full: what only a test
// that fills the area first can reach. Everything else PICTURE, BUTTON,
// BORDER and PATTERN store and report is pinned by the golden projects.
#include <gtest/gtest.h>

#include "command/work_areas.h"
#include "resources/store.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

TEST(StoreResource, AResourceThatNoLongerFitsIsRefused) {
  test::CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), test::bmp_from_art({"RRRRRRRR", "BBBBWWWW"}));
  // Earlier resources have filled the area up to 60 bytes before its end:
  // the 42-byte picture fits once, not twice.
  std::vector<std::uint8_t> filler(base::limits::work_area - 60, 0);
  ASSERT_TRUE(command::append_to_area(*c.ctx, c.ctx->flash.resources, c.ctx->flash.resource_pos, filler.data(), filler.size()));
  c.compile_lines("VexaG6\nPICTURE 1,<./p.bmp>\nPICTURE 2,<./p.bmp>\nSTRING 1,\"ok\"\n");
  EXPECT_TRUE(test::has_error(c, 3, "DATA-FLASH memory overflow !")) << c.console();
  EXPECT_EQ(c.errors(), 1);
  EXPECT_EQ(test::stored_resource(*c.ctx, command::kind_pictures, 0, 1).size(), 42u);
  EXPECT_TRUE(resource_free(*c.ctx, command::kind_pictures, 0, 2));
  EXPECT_EQ(c.ctx->flash.resource_pos, static_cast<int>(base::limits::work_area) - 60 + 42 + 3);
}

}  // namespace
}  // namespace vexa::resources
