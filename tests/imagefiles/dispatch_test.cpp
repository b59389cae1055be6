#include <gtest/gtest.h>

#include "bmp_files.h"
#include "imagefiles/dispatch.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using test::BmpSpec;
using test::ByteList;

ByteList small_bmp() {
  BmpSpec s;
  s.width = 2;
  s.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
  return test::bmp_file(s);
}

TEST(LoadImageFile, ChoosesTheReaderByTheLastExtension) {
  test::TempDir dir;
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  for (const char* name : {"picture.bmp", "PICTURE2.BMP", "a.b.Bmp", "picture", "picture.jpeg", "picture.bmp.txt"})
    test::write_file(dir.file(name), small_bmp());

  for (const char* name : {"picture.bmp", "PICTURE2.BMP", "a.b.Bmp"}) {
    resources::ImageSet& set = ctx.work_set;
    EXPECT_EQ(load_image_file(ctx, set, dir.file(name)), 1) << name;
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.first_number, 1);
    EXPECT_EQ(resources::image_width(set.images[1]), 2);
  }
  // No dot, or an extension no reader claims: nothing is read.
  for (const char* name : {"picture", "picture.jpeg", "picture.bmp.txt", "missing.bmp"}) {
    EXPECT_EQ(load_image_file(ctx, ctx.work_set, dir.file(name)), 0) << name;
    EXPECT_EQ(ctx.work_set.count, 0);
  }
  // A name written in other letter case finds the file.
  EXPECT_EQ(load_image_file(ctx, ctx.work_set, dir.file("Picture.BMP")), 1);
  EXPECT_EQ(captured.console(), "");  // readers and the dispatcher print nothing
}

TEST(LoadImageFile, ClearsTheSetFirst) {
  test::TempDir dir;
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  resources::ImageSet& set = ctx.second_set;
  auto fill = [&] {
    set.first_number = 4;
    set.count = 2;
    set.transparent = 1;
    set.delays[5] = 9;
    ASSERT_TRUE(resources::create_image(set.images[5], 1, 1, 24));
  };
  fill();
  test::write_file(dir.file("ok.bmp"), small_bmp());
  ASSERT_EQ(load_image_file(ctx, set, dir.file("ok.bmp")), 1);
  EXPECT_TRUE(resources::is_empty(set.images[5]));
  EXPECT_EQ(set.delays[5], 0);
  EXPECT_EQ(set.transparent, 0);

  fill();
  ByteList broken = small_bmp();
  broken.pop_back();
  test::write_file(dir.file("broken.bmp"), broken);
  EXPECT_EQ(load_image_file(ctx, set, dir.file("broken.bmp")), 0);
  EXPECT_EQ(set.count, 0);
  EXPECT_TRUE(resources::is_empty(set.images[5]));
  EXPECT_TRUE(resources::is_empty(set.images[1]));
}

TEST(LoadImageFile, PassesTheAlphaThreshold) {
  test::TempDir dir;
  BmpSpec s;
  s.width = 2;
  s.bits = 32;
  s.header_size = 124;
  s.alpha_mask = 0xFF;
  s.pixels = {150, 1, 2, 3, 250, 4, 5, 6};
  test::write_file(dir.file("alpha.bmp"), test::bmp_file(s));
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  ASSERT_EQ(load_image_file(ctx, ctx.work_set, dir.file("alpha.bmp")), 1);
  EXPECT_EQ(resources::pixel_colour(ctx.work_set.images[1], 0, 0), resources::rgb(3, 2, 1));  // 150 >= 128
  ctx.settings.alpha_threshold = 200;
  ASSERT_EQ(load_image_file(ctx, ctx.work_set, dir.file("alpha.bmp")), 1);
  EXPECT_EQ(ctx.work_set.transparent, 1);
  EXPECT_EQ(resources::pixel_colour(ctx.work_set.images[1], 0, 0), ctx.work_set.transparent_colour);
  EXPECT_EQ(resources::pixel_colour(ctx.work_set.images[1], 1, 0), resources::rgb(6, 5, 4));
}

TEST(LoadImageFile, ReachesThePngTgaAndJpegReadersWithTheSettings) {
  std::string png = test::testdata("pngsuite/g04n2c08.png");  // gAMA 0.45
  if (png.empty()) GTEST_SKIP() << "corpora not present";
  test::TempDir dir;
  test::write_file(dir.file("gamma.Png"), test::read_bytes(png));
  test::write_file(dir.file("alpha.tga"), test::read_bytes(test::testdata("tga-pillow/common/200x32_rgba_bl_raw.tga")));
  test::write_file(dir.file("photo.JPG"), test::read_bytes(test::testdata("jpeg/testorig.jpg")));
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  resources::ImageSet& set = ctx.work_set;

  ASSERT_EQ(load_image_file(ctx, set, dir.file("gamma.Png")), 1);
  EXPECT_EQ(set.count, 1);
  EXPECT_EQ(set.first_number, 1);
  resources::Bgr plain = resources::pixel_colour(set.images[1], 5, 5);
  ctx.settings.gamma = 1;
  ASSERT_EQ(load_image_file(ctx, set, dir.file("gamma.Png")), 1);
  EXPECT_NE(resources::pixel_colour(set.images[1], 5, 5), plain);

  // More pixels are keyed at a higher threshold.
  auto keyed = [&] {
    int n = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 200; ++x) n += resources::pixel_colour(set.images[1], x, y) == set.transparent_colour;
    return n;
  };
  ASSERT_EQ(load_image_file(ctx, set, dir.file("alpha.tga")), 1);
  EXPECT_EQ(set.count, 1);
  int at_128 = keyed();
  ctx.settings.alpha_threshold = 250;
  ASSERT_EQ(load_image_file(ctx, set, dir.file("alpha.tga")), 1);
  EXPECT_GT(keyed(), at_128);
  EXPECT_GT(at_128, 0);

  ASSERT_EQ(load_image_file(ctx, set, dir.file("photo.JPG")), 1);
  EXPECT_EQ(set.count, 1);
  EXPECT_EQ(resources::image_width(set.images[1]), 227);
  EXPECT_EQ(captured.console(), "");
}

}  // namespace
}  // namespace vexa::imagefiles
