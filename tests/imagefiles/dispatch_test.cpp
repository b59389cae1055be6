#include <gtest/gtest.h>

#include "bmp_files.h"
#include "imagefiles/dispatch.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using test::ByteList;

ByteList small_bmp() { return test::bmp_file({.width = 2, .pixels = {1, 2, 3, 4, 5, 6, 0, 0}}); }

TEST(LoadImageFile, ChoosesTheReaderByTheLastExtensionAndClearsTheSet) {
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
  ByteList broken = small_bmp();
  broken.pop_back();
  test::write_file(captured.dir.file("broken.bmp"), broken);
  for (const char* name : {"picture.bmp", "PICTURE2.BMP", "a.b.Bmp", "picture", "picture.jpeg", "picture.bmp.txt"})
    test::write_file(captured.dir.file(name), small_bmp());
  // The set is cleared first, whether the file loads or not; a name written
  // in other letter case finds the file.
  for (const char* name : {"picture.bmp", "PICTURE2.BMP", "a.b.Bmp", "Picture.BMP"}) {
    fill();
    EXPECT_EQ(load_image_file(ctx, set, captured.dir.file(name)), 1) << name;
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.first_number, 1);
    EXPECT_EQ(resources::image_width(set.images[1]), 2);
    EXPECT_TRUE(resources::is_empty(set.images[5]));
    EXPECT_EQ(set.delays[5], 0);
    EXPECT_EQ(set.transparent, 0);
  }
  // No dot, an extension no reader claims, a missing or a broken file.
  for (const char* name : {"picture", "picture.jpeg", "picture.bmp.txt", "missing.bmp", "broken.bmp"}) {
    fill();
    EXPECT_EQ(load_image_file(ctx, set, captured.dir.file(name)), 0) << name;
    EXPECT_EQ(set.count, 0);
    EXPECT_TRUE(resources::is_empty(set.images[5]));
    EXPECT_TRUE(resources::is_empty(set.images[1]));
  }
  EXPECT_EQ(captured.console(), "");  // readers and the dispatcher print nothing
}

TEST(LoadImageFile, ReachesThePngTgaAndJpegReadersWithTheSettings) {
  std::string png = test::testdata("pngsuite/g04n2c08.png");  // gAMA 0.45
  if (png.empty()) GTEST_SKIP() << "corpora not present";
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  test::write_file(captured.dir.file("gamma.Png"), test::read_bytes(png));
  test::write_file(captured.dir.file("alpha.tga"), test::read_bytes(test::testdata("tga-pillow/common/200x32_rgba_bl_raw.tga")));
  test::write_file(captured.dir.file("photo.JPG"), test::read_bytes(test::testdata("jpeg/testorig.jpg")));
  resources::ImageSet& set = ctx.work_set;

  ASSERT_EQ(load_image_file(ctx, set, captured.dir.file("gamma.Png")), 1);
  EXPECT_EQ(set.count, 1);
  resources::Bgr plain = resources::pixel_colour(set.images[1], 5, 5);
  ctx.settings.gamma = 1;
  ASSERT_EQ(load_image_file(ctx, set, captured.dir.file("gamma.Png")), 1);
  EXPECT_NE(resources::pixel_colour(set.images[1], 5, 5), plain);

  // More pixels are keyed at a higher threshold.
  auto keyed = [&] {
    int n = 0;
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 200; ++x) n += resources::pixel_colour(set.images[1], x, y) == set.transparent_colour;
    return n;
  };
  ASSERT_EQ(load_image_file(ctx, set, captured.dir.file("alpha.tga")), 1);
  int at_128 = keyed();
  ctx.settings.alpha_threshold = 250;
  ASSERT_EQ(load_image_file(ctx, set, captured.dir.file("alpha.tga")), 1);
  EXPECT_GT(keyed(), at_128);
  EXPECT_GT(at_128, 0);

  ASSERT_EQ(load_image_file(ctx, set, captured.dir.file("photo.JPG")), 1);
  EXPECT_EQ(resources::image_width(set.images[1]), 227);
  EXPECT_EQ(captured.console(), "");
}

}  // namespace
}  // namespace vexa::imagefiles
