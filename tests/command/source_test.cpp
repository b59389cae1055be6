// The file list of a wildcard name, which only the resource compilers read,
// and the quoted file name reader, which no directive uses.
#include <gtest/gtest.h>

#include "command/source.h"
#include "test_support.h"

namespace vexa::driver {
namespace {

TEST(Source, WildcardSearch) {
  test::CapturedContext c;
  for (const char* name : {"frame07.bmp", "frame05.bmp", "frame06.bmp", "frameXY.bmp", "other.bmp", "frame 9.bmp"})
    test::write_file(c.dir.file(name), "x");
  c.compile_lines("", "main.txt");
  c.ctx->source.current = 0;
  c.ctx->source.levels[0].directory = c.dir.path + "/";
  auto search = [&](const std::string& pattern) {
    c.ctx->source.line = pattern;
    c.ctx->source.pos = 0;
    std::string name;
    EXPECT_EQ(read_file_name(*c.ctx, name), 1);
    return c.ctx->source.file_list;
  };
  // Names in byte order, the number at the first '?' read from the first one.
  command::FileList list = search("<./FRAME??.bmp>");
  EXPECT_EQ(list.directory, c.dir.path + "/");
  EXPECT_EQ(list.names, (std::vector<std::string>{"frame 9.bmp", "frame05.bmp", "frame06.bmp", "frame07.bmp",
                                                  "frameXY.bmp"}));
  EXPECT_EQ(list.first_number, 9);
  list = search("<./frameX?.bmp>");
  EXPECT_EQ(list.names, (std::vector<std::string>{"frameXY.bmp"}));
  EXPECT_EQ(list.first_number, -1);
  EXPECT_TRUE(search("<./none??.bmp>").names.empty());
  c.ctx->source.current = -1;
}

}  // namespace
}  // namespace vexa::driver
