#include <gtest/gtest.h>

#include <filesystem>

#include "bmp_files.h"
#include "imagefiles/dispatch.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using test::BmpSpec;
using test::ByteList;

ByteList read_back(const std::string& path) {
  resources::ImageSet set;
  ByteList file = test::read_bytes(path);
  EXPECT_EQ(read_bmp(set, Bytes(file.data(), file.size()), ReadOptions{}), 1) << path;
  return set.images[1].dib;
}

TEST(DumpImage, PrintsOneLinePerImageAndWritesItAsBmp) {
  test::TempDir dir;
  ByteList file = test::bmp_file({.width = 3, .height = 2, .bits = 8, .table = {resources::rgb(0, 0, 0), resources::rgb(9, 9, 9)},
                                   .pixels = {0, 1, 0, 0, 1, 1, 0, 0}});
  test::write_file(dir.file("pic.bmp"), file);
  test::ProcessResult run = test::run_vexac({"--dump-image", "pic.bmp"}, dir.path);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "image 001: 3 x 2, 8 bit, 2 colors, delay 0, transparent 0, RGB=0,0,0\r\n");
  EXPECT_EQ(test::read_bytes(dir.file("pic_001.bmp")), file);  // written back unchanged
  // Another base name; a name in other letter case finds the file.
  std::filesystem::create_directory(dir.file("out"));
  run = test::run_vexac({"--dump-image", "PIC.BMP", "out/x"}, dir.path);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(test::file_exists(dir.file("out/x_001.bmp")));

  // A 32-bit file with alpha (first, red in the top byte, as its masks say):
  // converted to 24 bits with the key colour.
  test::write_file(dir.file("alpha.bmp"),
                   test::bmp_file({.width = 2, .bits = 32, .compression = 3, .header_size = 124,
                                   .masks = {0xFF000000, 0xFF0000, 0xFF00}, .alpha_mask = 0xFF,
                                   .pixels = {0, 1, 2, 3, 255, 4, 5, 6}}));
  run = test::run_vexac({"--dump-image", dir.file("alpha.bmp")}, dir.path);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "image 001: 2 x 1, 24 bit, 16777216 colors, delay 0, transparent 1, RGB=173,251,90\r\n");
  ByteList dib = read_back(dir.file("alpha_001.bmp"));
  ASSERT_EQ(dib.size(), 40u + 8u);
  EXPECT_EQ(ByteList(dib.begin() + 40, dib.begin() + 46), (ByteList{0x5A, 0xFB, 0xAD, 4, 5, 6}));
}

TEST(DumpImage, FailuresExitWithOneAndAMessage) {
  test::TempDir dir;
  test::write_file(dir.file("pic.jpeg"), test::bmp_file(BmpSpec{}));
  test::write_file(dir.file("pic.bmp"), test::bmp_file({.pixels = {1, 2, 3, 0}}));
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"--dump-image", "missing.bmp"}, "\r\ncannot load image <missing.bmp> !\r\n"},
      {{"--dump-image", "pic.jpeg"}, "\r\ncannot load image <pic.jpeg> !\r\n"},
      {{"--dump-image", "pic.bmp", "nowhere/pic"}, "\r\ncannot write image files <nowhere/pic_nnn.bmp> !\r\n"},
      {{"--dump-image"}, "\r\nusage: vexac --dump-image FILE [BASE]\r\n"},
      {{"--dump-image", "a", "b", "c"}, "\r\nusage: vexac --dump-image FILE [BASE]\r\n"},
  };
  for (const auto& [args, message] : cases) {
    test::ProcessResult run = test::run_vexac(args, dir.path);
    EXPECT_EQ(run.exit_code, 1) << message;
    EXPECT_EQ(run.out, message);
  }
}

TEST(DumpImage, CorpusFilesAreShownUncompressed) {
  std::string folder = test::testdata("bmpsuite/g");
  if (folder.empty()) GTEST_SKIP() << "no corpus";
  test::TempDir dir;
  test::ProcessResult run = test::run_vexac({"--dump-image", folder + "/pal4rle.bmp", dir.file("rle")}, dir.path);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "image 001: 127 x 64, 4 bit, 12 colors, delay 0, transparent 0, RGB=0,0,0\r\n");
  // The dump is uncompressed: same rows as the plain twin of the file.
  ByteList rle = read_back(dir.file("rle_001.bmp"));
  ByteList plain = test::read_bytes(folder + "/pal4.bmp");
  ASSERT_EQ(rle.size(), plain.size() - 14);
  EXPECT_TRUE(std::equal(rle.begin() + 40 + 48, rle.end(), plain.begin() + 14 + 40 + 48));
  run = test::run_vexac({"--dump-image", folder + "/rgb16.bmp", dir.file("rgb16")}, dir.path);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, "image 001: 127 x 64, 16 bit, 65536 colors, delay 0, transparent 0, RGB=0,0,0\r\n");
}

}  // namespace
}  // namespace vexa::imagefiles
