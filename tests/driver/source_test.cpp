#include <gtest/gtest.h>

#include <filesystem>

#include "driver/paths.h"
#include "driver/source.h"
#include "test_support.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;

// Puts a line to read from position pos.
void read_at(CapturedContext& c, const std::string& line, std::size_t pos = 0) {
  c.ctx->source.line = line;
  c.ctx->source.pos = pos;
}

TEST(Source, IncludeRepeatsAndLineNumbers) {
  CapturedContext c;
  test::write_file(c.dir.file("a.txt"), "INFO \"a1\"\nUNKNOWNA\n");
  c.compile_lines("INCLUDE <./a.txt>,3\nUNKNOWNMAIN\nINCLUDE <./a.txt>,0\n", "main.txt");
  std::string out = c.console();
  std::string a = c.dir.file("a.txt");
  // Each pass numbers the lines from 1; the including file goes on with its next line.
  std::size_t first = out.find("--->ERROR in file <" + a + ">\r\n--->LINE 2: Unknown Command !");
  ASSERT_NE(first, std::string::npos);
  std::size_t count = 0;
  for (std::size_t at = out.find("a1\r\n"); at != std::string::npos; at = out.find("a1\r\n", at + 1)) ++count;
  EXPECT_EQ(count, 4u);  // three passes, then one pass for the repeat count 0
  EXPECT_NE(out.find("--->ERROR in file <" + c.dir.file("main.txt") + ">\r\n--->LINE 2: Unknown Command !\r\n"
                     "--->'UNKNOWNMAIN'\r\n"),
            std::string::npos);
  EXPECT_EQ(c.errors(), 5);
  EXPECT_EQ(c.ctx->source.current, -1);
}

TEST(Source, OpenFileLinesMissingIncludesAndSelfInclusion) {
  CapturedContext c;
  test::write_file(c.dir.file("b.txt"), "\n");
  c.compile_lines("INCLUDE <./b.txt>\nINCLUDE <./nothing.txt>\nINCLUDE nothing\n", "main.txt");
  std::string out = c.console();
  EXPECT_NE(out.find("Open File <" + c.dir.file("main.txt") + ">\r\n"), std::string::npos);
  EXPECT_NE(out.find("Open File <" + c.dir.file("b.txt") + ">\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 2: Cannot Open File <" + c.dir.file("nothing.txt") + "> !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 3: Cannot found a Filename !\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 2);

  CapturedContext self;
  self.compile_lines("INCLUDE <./self.txt>\n", "self.txt");
  EXPECT_NE(self.console().find("more than 10 nested files"), std::string::npos);
  EXPECT_EQ(self.errors(), 1);
  EXPECT_EQ(self.ctx->source.current, -1);
}

TEST(Source, PathAppliesToItsOwnFileOnly) {
  CapturedContext c;
  test::write_file(c.dir.file("inc.txt"), "SB_TEST = 1\nMacro 2\n#SB <x.bin>\n");
  std::string pics = c.dir.path + "/pics";
  c.compile_lines("VexaG6\nPATH <" + pics + ">\nINCLUDE <./inc.txt>\nMacro 1\n#SB <x.bin>\n", "main.txt");
  std::string out = c.console();
  // Inside the included file the name is taken from the start directory, in
  // the macro file the PATH applies again afterwards.
  EXPECT_NE(out.find("Cannot Open File <" + current_directory() + "x.bin> !"), std::string::npos);
  EXPECT_NE(out.find("Cannot Open File <" + pics + "/x.bin> !"), std::string::npos);
}

TEST(Source, FullPathRules) {
  CapturedContext c;
  std::string name;
  c.compile_lines("PATH <C:\\pics>\n", "main.txt");
  // Keep the level open to read names against it.
  c.ctx->source.current = 0;
  c.ctx->source.levels[0].path = "C:/pics/";
  c.ctx->source.levels[0].directory = "/work/src/";
  c.ctx->source.levels[0].name = "main.txt";
  auto read = [&](const std::string& line) {
    read_at(c, line);
    read_file_name(*c.ctx, name);
    return name;
  };
  EXPECT_EQ(read("<logo.bmp>"), "C:/pics/logo.bmp");
  EXPECT_EQ(read("<C:\\other\\logo.bmp>"), "C:/other/logo.bmp");
  EXPECT_EQ(read("<.\\logo.bmp>"), "/work/src/logo.bmp");
  EXPECT_EQ(read("<..\\img\\.\\logo.bmp>"), "/work/img/logo.bmp");
  EXPECT_EQ(read("<\\abs\\x.bmp"), "/abs/x.bmp");  // a missing '>' is no error
  c.ctx->source.levels[0].path.clear();
  EXPECT_EQ(read("<plain.bmp>"), current_directory() + "plain.bmp");
  c.ctx->source.current = -1;
}

TEST(Source, LongLinesAndTrailingControlCharacters) {
  CapturedContext c;
  std::string text = "INFO \"" + std::string(2494, 'x') + "\"\n" + "   \r\n" + "INFO 1\t\r\n";
  std::string path = c.dir.file("long.txt");
  test::write_file(path, text);
  ASSERT_EQ(open_source(*c.ctx, path, 1), 1);
  ASSERT_EQ(read_source_line(*c.ctx), 1);
  EXPECT_EQ(c.ctx->source.line.size(), 1999u);
  ASSERT_EQ(read_source_line(*c.ctx), 1);
  EXPECT_EQ(c.ctx->source.line, std::string(501, 'x') + "\"");
  ASSERT_EQ(read_source_line(*c.ctx), 1);
  EXPECT_EQ(c.ctx->source.line, "   ");  // spaces stay, only control characters go
  ASSERT_EQ(read_source_line(*c.ctx), 1);
  EXPECT_EQ(c.ctx->source.line, "INFO 1");
  EXPECT_EQ(c.ctx->source.levels[0].line_number, 4);
  EXPECT_EQ(read_source_line(*c.ctx), 0);
  EXPECT_EQ(end_of_source(*c.ctx), 0);
}

TEST(Source, WildcardSearch) {
  CapturedContext c;
  for (const char* name : {"frame07.bmp", "frame05.bmp", "frame06.bmp", "frameXY.bmp", "other.bmp"})
    test::write_file(c.dir.file(name), "x");
  c.compile_lines("", "main.txt");
  c.ctx->source.current = 0;
  c.ctx->source.levels[0].directory = c.dir.path + "/";
  read_at(c, "<./FRAME??.bmp>");
  std::string name;
  ASSERT_EQ(read_file_name(*c.ctx, name), 1);
  const FileList& list = c.ctx->source.file_list;
  EXPECT_EQ(list.directory, c.dir.path + "/");
  EXPECT_EQ(list.names, (std::vector<std::string>{"frame05.bmp", "frame06.bmp", "frame07.bmp", "frameXY.bmp"}));
  EXPECT_EQ(list.first_number, 5);
  c.ctx->source.current = -1;
}

TEST(Source, CaseInsensitiveFallback) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.path + "/Pics/Sub");
  test::write_file(dir.path + "/Pics/Sub/Logo.BMP", "data");
  std::string bytes;
  EXPECT_TRUE(read_whole_file(dir.path + "/pics/SUB/logo.bmp", bytes));
  EXPECT_EQ(bytes, "data");
  EXPECT_FALSE(read_whole_file(dir.path + "/pics/none.bmp", bytes));
}

TEST(Source, ProjectNames) {
  CapturedContext c;
  std::string name = "unchanged";
  read_at(c, "VexaG6 'x<y' <A#B> \"q\"", 6);
  ASSERT_EQ(read_project_name(*c.ctx, name), 1);
  EXPECT_EQ(name, "y' <A##B");  // a '<' anywhere wins over the quotes before it
  read_at(c, "VexaG6 'My Demo'", 6);
  read_project_name(*c.ctx, name);
  EXPECT_EQ(name, "My Demo");
  read_at(c, "VexaG6 \"" + std::string(50, 'n') + "\"", 6);
  read_project_name(*c.ctx, name);
  EXPECT_EQ(name, std::string(40, 'n'));
  name = "kept";
  read_at(c, "VexaG6", 6);
  EXPECT_EQ(read_project_name(*c.ctx, name), 0);
  EXPECT_EQ(name, "kept");
  EXPECT_EQ(project_name_from_path("C:\\work\\demo.DF"), "demo.DF");
  EXPECT_EQ(project_name_from_path("/a/b#c.DF"), "b##c.DF");
}

TEST(Source, QuotedReaders) {
  CapturedContext c;
  std::string text;
  read_at(c, "USB \"Programmer X\" rest", 3);
  ASSERT_EQ(read_quoted_text(*c.ctx, text), 1);
  EXPECT_EQ(text, "Programmer X");
  EXPECT_EQ(c.ctx->source.line.substr(c.ctx->source.pos), " rest");
  read_at(c, "x \"only one");
  EXPECT_EQ(read_quoted_text(*c.ctx, text), 0);
  EXPECT_EQ(c.ctx->source.pos, 0u);
  EXPECT_EQ(read_quoted_file_name(*c.ctx, text), 1);
  EXPECT_EQ(text, "only one");
}

}  // namespace
}  // namespace vexa::driver
