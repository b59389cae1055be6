// The dispatcher clears the set before every load, whether the file loads or
// not. Which reader an extension reaches, and what each gives, is pinned by
// the img-* projects (run through --dump-image) and the corpus runs.
#include <gtest/gtest.h>

#include "reader_test_support.h"
#include "resources/import.h"

namespace vexa::imagefiles {
namespace {

TEST(LoadImageFile, ClearsTheSetFirst) {
  test::CapturedContext captured;
  imagefiles::ImageSet& set = captured.ctx->second_set;
  test::ByteList bmp = test::fixture("img-dump-base/pic.bmp");
  test::write_file(captured.dir.file("a.b.Bmp"), bmp);
  bmp.pop_back();
  test::write_file(captured.dir.file("broken.bmp"), bmp);
  for (const char* name : {"a.b.Bmp", "broken.bmp", "missing.bmp"}) {
    set.first_number = set.count = set.transparent = 4;
    set.delays[5] = 9;
    ASSERT_TRUE(imagefiles::create_image(set.images[5], 1, 1, 24));
    const int loads = name[0] == 'a';
    EXPECT_EQ(resources::load_image_file(*captured.ctx, set, captured.dir.file(name)), loads) << name;
    EXPECT_EQ(set.count + set.first_number, 2 * loads) << name;
    EXPECT_NE(imagefiles::is_empty(set.images[1]), loads) << name;
    EXPECT_TRUE(imagefiles::is_empty(set.images[5]) && set.delays[5] == 0 && set.transparent == 0) << name;
  }
  EXPECT_EQ(captured.console(), "");  // readers and the dispatcher print nothing
}

}  // namespace
}  // namespace vexa::imagefiles
