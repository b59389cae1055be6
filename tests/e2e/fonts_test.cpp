// A project with a font from an FXT file and a font rasterised from an
// installed face, compiled by the program: the block in the object file, the
// lines on the console and in the log, the memory overview and the exports.
#include <gtest/gtest.h>

#include <filesystem>

#include "imagefiles/glyphs.h"
#include "project_files.h"
#include "test_support.h"

namespace vexa {
namespace {

using test::ByteList;
using test::contains;
using test::run_vexac;
using test::TempDir;

TEST(FontsProject, FxtFontAndInstalledFace) {
  {
    imagefiles::FontLibrary fonts;
    std::string error;
    imagefiles::Face* face = imagefiles::open_face(fonts, "DejaVu Sans", "", imagefiles::weight_normal, 16, error);
    if (face == nullptr || face->family != "DejaVu Sans") GTEST_SKIP() << "DejaVu Sans is not installed";
  }
  TempDir root;
  const std::string src = root.file("src");
  std::filesystem::create_directory(src);
  test::write_file(src + "/digits.fxt", "; two digits\n48\n###\n#.#\n###\n49\n.#\n##\n.#\n");
  test::write_file(src + "/demo.txt",
                   "VexaG6 <Fonts>\r\n"
                   "LOGFONTWIDTH 3\r\n"
                   "EXPORTWINFONT 1\r\n"
                   "FONT 1,<.\\digits.fxt>\r\n"
                   "WINFONT 2,\"DejaVu Sans\",0,0,48-57,10\r\n");
  auto r = run_vexac({"src/demo.txt", "-o"}, root.path);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string i12(12, ' ');
  const std::string font_lines =
      "Import Font <src/digits.fxt>\r\n" + i12 + "height: 3 dots, used codes: 48..49, 44 bytes\r\n";
  // The face's digits share one width: a monospaced font.
  EXPECT_NE(r.out.find(font_lines + "Import WinFont \"DejaVu Sans\", ANSI\r\n" + i12 + "size: "), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("x10 dots, used codes: 48..57, "), std::string::npos) << r.out;
  // Exports go beside the macro file.
  const std::string fxt = "src/Font2_DejaVu Sans_10_ANSI_N_48-57.fxt";
  EXPECT_NE(r.out.find("Export FXT-Font <" + fxt + ">\r\n\r\n"), std::string::npos) << r.out;
  EXPECT_TRUE(test::file_exists(root.file(fxt)));
  EXPECT_NE(r.out.find("   2 Fonts:"), std::string::npos) << r.out;

  // The width listing goes to the log only.
  EXPECT_EQ(r.out.find("width:"), std::string::npos);
  const std::string log = test::read_file(src + "/demo.log");
  EXPECT_NE(log.find(font_lines + "             width: 48:'0'=  3   49:'1'=  2  \r\n"), std::string::npos) << log;

  // Codes 48 and 49, 3 and 2 pixels wide, 3 high, rows raw.
  const ByteList image = test::read_bytes(src + "/demo.DFO");
  EXPECT_TRUE(contains(image, {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 1, 0, 0, 0, 0, 2, 48, 49, 3, 0, 3, 0,
                               3, 0, 3, 0, 38, 0, 0, 0, 2, 0, 3, 0, 41, 0, 0, 0,
                               0xE0, 0xA0, 0xE0, 0x40, 0xC0, 0x40}));
}

}  // namespace
}  // namespace vexa
