// A project with an animation and an instrument compiled by the program:
// their blocks in the object file, the size functions that read them, the
// overview lines, and where the exports land.
#include <gtest/gtest.h>

#include <filesystem>

#include "project_files.h"
#include "test_support.h"

namespace vexa {
namespace {

using test::ByteList;
using test::contains;
using test::run_vexac;
using test::TempDir;

TEST(AnimationsProject, BlocksSizesAndExports) {
  TempDir root;
  const std::string src = root.file("src");
  std::filesystem::create_directory(src);
  test::write_file(src + "/a1.bmp", test::letter_bmp({"RRBB"}));
  test::write_file(src + "/a2.bmp", test::letter_bmp({"BBRR"}));
  test::write_file(src + "/n0.bmp", test::letter_bmp({"WWWWWW", "WWWWWW", "WWWWWW"}));
  test::write_file(src + "/n1.bmp", test::letter_bmp({"WWWWWW", "WRRWBW", "WWWWWW"}));
  test::write_file(src + "/n2.bmp", test::letter_bmp({"WWWWWW", "WWWWWW", "WWWWWW"}));
  test::write_file(src + "/demo.txt",
                   "VexaG6 <Dials>\r\n"
                   "EXPORTOVERVIEW 6\r\n"
                   "ANIMATION 2,<.\\a?.bmp>\r\n"
                   "INSTRUMENT 1,<.\\n?.bmp>\r\n"
                   "Macro 1\r\n"
                   "#TP ANIMATION_W(2),INSTRUMENT_H(1);\r\n");
  auto r = run_vexac({"src/demo.txt", "-o"}, root.path);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  const std::string i14(14, ' '), i17(17, ' ');
  EXPECT_NE(r.out.find(i17 + "image number: 1..2, size: 4x1 dots, colordepth: 16-bit, 50 bytes\r\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(i14 + "2 images, size: 6x3 dots, 117 bytes\r\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("   1 Animations:        50 bytes\r\n   1 Instruments:      117 bytes\r\n"),
            std::string::npos)
      << r.out;

  ByteList image = test::read_bytes(src + "/demo.DFO");
  // The animation's frames and the instrument's frame table and coded
  // positions, as the in-process tests work them out.
  EXPECT_TRUE(contains(image, {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 16, 0, 0, 0, 0, 3, 1, 2, 4, 0, 1, 0, 4, 0,
                               1, 0, 38, 0, 0, 0x80, 4, 0, 1, 0, 44, 0, 0, 0x80, 0x81, 0x00, 0xF8, 0x81, 0x1F, 0x00}));
  EXPECT_TRUE(contains(image, {0x1B, 'U', 'L', 0, 0, 0, 0, 'I', '1', '6', 16, 0, 0xCB, 0xAF, 0, 0, 0, 2, 6, 0, 3, 0,
                               3, 0, 1, 0, 0x0E, 0x01, 0x0E, 0x01, 0, 0, 0, 0, 6, 0, 3, 0, 70, 0, 0, 0}));
  EXPECT_TRUE(contains(image, {0x81, 0x00, 0xF8, 0x01, 0xCB, 0xAF, 0x1F, 0x00, 0x00, 0xCB, 0xAF}));
  // The size functions read the stored blocks: width 4, height 3.
  EXPECT_TRUE(contains(image, {0x1B, 'T', 'P', 4, 3}));

  // Animation exports go beside the macro file, the instrument's to the
  // directory the program runs in.
  EXPECT_TRUE(test::file_exists(src + "/Animation2_a1_bmp_1-2.bmp"));
  EXPECT_TRUE(test::file_exists(root.file("Instrument1_2x.bmp")));
  EXPECT_FALSE(test::file_exists(src + "/Instrument1_2x.bmp"));
  EXPECT_NE(r.out.find("Export Overview <Instrument1_2x.bmp>\r\n\r\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vexa
