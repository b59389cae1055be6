// The file list of a wildcard name, which only the resource compilers read,
// and a run confined to a folder, which only the fuzz targets make.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/paths.h"
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

// Relative names are taken in the run's folder, and no name the macro file
// gives leads out of it, to read or to write.
TEST(Source, ConfinedRunStaysInItsFolder) {
  EXPECT_EQ(base::confined_path("", "../x"), "../x");
  EXPECT_EQ(base::confined_path("/r/", "a/./b"), "/r/a/b");
  EXPECT_EQ(base::confined_path("/r/", "/r/a/../b"), "/r/b");
  EXPECT_EQ(base::confined_path("/r/", "a/../../x"), "");
  EXPECT_EQ(base::confined_path("/r/", "/rx/y"), "");
  EXPECT_EQ(base::confined_path("/r/", "C:x"), "");

  test::CapturedContext c;
  const std::string root = c.dir.path + "/run/";
  std::filesystem::create_directory(root);
  test::write_file(root + "inc.txt", "A=1\n");
  test::write_file(c.dir.file("out.txt"), "B=1\n");
  c.ctx->settings.root_folder = root;
  c.ctx->settings.macro_directory = root;
  c.compile_lines("VexaG6\nINCLUDE <inc.txt>\nINCLUDE <../out.txt>\nINCLUDE <" + c.dir.file("out.txt") +
                      ">\nEXPORTMACRO 2 <../escaped.x>\nMacro 1\n#TP 1,2;\nEXPORTMACRO 2 <kept>\nMacro 2\n#TP 1,2;\n"
                      "Macro 3\n",
                  "run/main.txt");
  const std::string console = c.console();
  EXPECT_NE(console.find("Open File <" + root + "inc.txt>"), std::string::npos) << console;
  EXPECT_NE(console.find("<" + c.dir.file("out.txt") + "> lies outside the folder of the run !"), std::string::npos);
  EXPECT_EQ(console.find("Open File <" + c.dir.file("out.txt")), std::string::npos);
  EXPECT_NE(console.find("Cannot write File " + root + "../escaped.bin !"), std::string::npos);
  EXPECT_FALSE(test::file_exists(c.dir.file("escaped.bin")));
  EXPECT_TRUE(test::file_exists(root + "kept.bin"));
  EXPECT_EQ(c.errors(), 3);
}

}  // namespace
}  // namespace vexa::driver
