// The dispatcher clears the set and the notes before every load, whether the
// file loads or not. Which reader an extension reaches, and what each gives,
// is pinned by the img-* projects (run through --dump-image) and the corpus
// runs; the notes a reader hands back are what the compiler reports or does
// with them, and are pinned here before it does.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

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

TEST(LoadImageFile, NotesOfTheReadersOneRecordForAll) {
  struct Row {
    const char* file;  // input file of a golden case
    int result;
    int colour_depth;
    int first_bits;  // of the set's first image
    std::vector<int> fault_lines;
  };
  const Row rows[] = {
      {"font-fxt-damaged/fonts/rows.fxt", 0, 0, 0, {1, 8, 10, 12}},
      // Screens composed in 24 bits, their colours left to be counted.
      {"img-gif-delays/delays.gif", 1, 4, 24, {}},
      {"font-fxt-damaged/fonts/range.fxt", 0, 0, 0, {3}},
      // A still picture stays as its frame was read.
      {"img-gif-still/still.gif", 1, 1, 1, {}},
      {"img-dump-base/pic.bmp", 1, 0, 8, {}},
      {"font-fxt-forms/forms.fxt", 1, 0, 1, {}},
      {"img-gif-signature/sig.gif", 0, 0, 0, {}},
  };
  auto set = std::make_unique<ImageSet>();
  ReadNotes notes;
  for (const Row& row : rows) {
    const std::string path = std::string(VEXA_SOURCE_DIR) + "/tests/projects/" + row.file;
    EXPECT_EQ(load_image_file(ReadOptions{}, *set, path, notes), row.result) << row.file;
    EXPECT_EQ(notes.colour_depth, row.colour_depth) << row.file;
    EXPECT_EQ(bit_count(set->images[set->first_number]), row.first_bits) << row.file;
    std::vector<int> lines;
    for (const LineFault& fault : notes.faults) lines.push_back(fault.line_number);
    EXPECT_EQ(lines, row.fault_lines) << row.file;
  }
}

}  // namespace
}  // namespace vexa::imagefiles
