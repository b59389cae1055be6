// The bitmap block module where golden projects cannot reach: rows of every
// shape survive run-length coding and decoding, whole-block checks refuse
// kinds and depths no writer makes, and the one-line description of a
// block. Whole blocks, their chunks and coding decisions are pinned by the
// golden projects; damaged G16 files and instruments by native_test and
// instruments_test.
#include <gtest/gtest.h>

#include <random>

#include "imagefiles/bitmap_block.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using test::ByteList;

base::Bytes bytes_of(const ByteList& b) { return base::Bytes(b.data(), b.size()); }

// Fills the stored rows of image with runs of a few values, so that literal
// and repeat chunks both occur, some longer than one chunk holds.
void fill_rows(Image& image, std::mt19937& random, int shape) {
  const int unit = bit_count(image) <= 8 ? 1 : bit_count(image) / 8;
  const std::size_t row = (static_cast<std::size_t>(image_width(image)) * static_cast<std::size_t>(bit_count(image)) + 7) / 8;
  for (int y = 0; y < image_height(image); ++y) {
    std::uint8_t* out = row_pointer(image, y);
    std::vector<std::uint8_t> value(static_cast<std::size_t>(unit));
    for (std::size_t at = 0; at < row;) {
      for (auto& b : value) b = static_cast<std::uint8_t>(shape == 0 ? random() : random() % 3);
      const std::size_t run = shape == 2 ? 1 + random() % 400 : 1 + random() % 3;
      for (std::size_t i = 0; i < run && at < row; ++i)
        for (std::uint8_t b : value)
          if (at < row) out[at++] = b;
    }
  }
}

TEST(BitmapBlock, CodedRowsDecodeBackToEveryRow) {
  // shape 0: noise (long literal chunks), 1: short runs, 2: long runs.
  std::mt19937 random(2024);
  for (int depth : {1, 4, 8, 16, 24})
    for (int shape : {0, 1, 2})
      for (int width : {1, 2, 3, 127, 128, 129, 300, 700}) {
        const std::string name = std::to_string(depth) + " bits, shape " + std::to_string(shape) + ", width " + std::to_string(width);
        Image image;
        ASSERT_TRUE(create_image(image, width, 3, depth));
        fill_rows(image, random, shape);
        BlockHeader h;
        h.depth = depth;
        std::vector<std::uint8_t> block(block_layout(h).image_data, 0);
        ASSERT_TRUE(append_frame(block, h, 0, image, FrameEntry{}, 1)) << name;
        FrameEntry f;
        ASSERT_TRUE(read_frame_entry(bytes_of(block), h, 0, f) && f.coded) << name;
        Image back;
        ASSERT_TRUE(create_image(back, width, 3, depth));
        ASSERT_TRUE(decode_frame(bytes_of(block), h, f, &back)) << name;
        EXPECT_EQ(test::values_of(back), test::values_of(image)) << name;
        // Every byte of the code is used: one byte less ends the last row early.
        block.pop_back();
        EXPECT_FALSE(decode_frame(bytes_of(block), h, f, nullptr)) << name;
      }
}

TEST(BitmapBlock, ChecksRefuseKindsAndDepthsNoWriterMakes) {
  const ByteList good = test::fixture("img-g16-8bit/pic.g16");
  BlockSummary s;
  ASSERT_TRUE(validate_block(bytes_of(good), s));
  EXPECT_EQ(describe_block(s), "G16 bitmap block, 62 bytes, 8-bit, 2 colours, numbers 3..5, 2 images (1 run-length coded), "
                               "largest 6x2 dots, transparent");
  const ByteList i16 = test::fixture("inst-sequence/dial.I16");
  const ByteList dial(i16.begin() + 4, i16.end() - 2);  // the block between size and CRC
  ASSERT_TRUE(validate_block(bytes_of(dial), s));
  EXPECT_EQ(describe_block(s), "I16 instrument, 117 bytes, 16-bit, numbers 0..2, 3 images (2 run-length coded), "
                               "largest 6x3 dots");

  struct Change { const ByteList& block; std::size_t at; std::uint8_t value; const char* what; };
  for (const Change& c : {Change{good, 7, 'X', "kind"}, Change{good, 10, 32, "depth 32"},
                          Change{dial, 10, 1, "instrument of 1 bit"}}) {
    ByteList b = c.block;
    b[c.at] = c.value;
    EXPECT_FALSE(validate_block(bytes_of(b), s)) << c.what;
  }
}

}  // namespace
}  // namespace vexa::imagefiles
