// Compiled font blocks that the compiler never makes itself: placeholder
// glyphs with flag bytes of their own, and frame tables that run past the end
// of the block (neither read nor rewritten beyond it).
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "command/work_areas.h"
#include "resources/fonts.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

using Bytes = std::vector<std::uint8_t>;

TEST(CompiledFontBytes, SharedGlyphsTakeTheOffsetAndTheFlagByte) {
  // Codes 32 to 38: widths 4, 4, 6, 4, a gap, 6, 5; glyph i has i + 1 bytes
  // of data and the flag byte 0x10 + i.
  const int widths[7] = {4, 4, 6, 4, 0, 6, 5};
  BitmapBlock block;
  block.block.assign(22 + 7 * 8, 0);
  block.block[16] = 32;
  block.block[17] = 38;
  for (int i = 0; i < 7; ++i) {
    std::uint8_t* e = block.block.data() + 22 + 8 * i;
    e[0] = static_cast<std::uint8_t>(widths[i]);
    if (widths[i] == 0) continue;
    base::put_u24(e + 4, static_cast<std::uint32_t>(block.block.size()));
    e[7] = static_cast<std::uint8_t>(0x10 + i);
    block.block.insert(block.block.end(), static_cast<std::size_t>(i + 1), static_cast<std::uint8_t>(0xA0 + i));
  }
  block.block_size = static_cast<std::uint32_t>(block.block.size());
  share_dummy_glyphs(block);
  // 35 takes 33's data and flag byte, 37 takes 34's, 38 moves down.
  Bytes entries;
  for (int i = 0; i < 7; ++i)
    for (int k : {4, 7}) entries.push_back(block.block[static_cast<std::size_t>(22 + 8 * i + k)]);
  EXPECT_EQ(entries, (Bytes{78, 0x10, 79, 0x11, 81, 0x12, 79, 0x11, 0, 0, 81, 0x12, 84, 0x16}));
  ASSERT_EQ(block.block_size, 91u);
  EXPECT_EQ(Bytes(block.block.begin() + 78, block.block.begin() + 91),
            (Bytes{0xA0, 0xA1, 0xA1, 0xA2, 0xA2, 0xA2, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6, 0xA6}));
}

TEST(CompiledFontBytes, TruncatedFrameTables) {
  // Codes 32 to 40 are claimed, room is left for two entries of width 4.
  BitmapBlock block;
  block.block.assign(22 + 2 * 8, 0);
  block.block[16] = 32;
  block.block[17] = 40;
  block.block[22] = block.block[30] = 4;
  block.block_size = static_cast<std::uint32_t>(block.block.size());
  EXPECT_EQ(width_listing(block, 4), "             width: 32:' '=  4   33:'!'=  4  \r\n");
  const Bytes before = block.block;
  share_dummy_glyphs(block);
  EXPECT_EQ(block.block, before);
  EXPECT_EQ(block.block_size, before.size());
  block.block_size = 10;  // shorter than the header
  EXPECT_EQ(width_listing(block, 4), "");
  share_dummy_glyphs(block);
  EXPECT_EQ(block.block_size, 10u);
}

}  // namespace
}  // namespace vexa::resources
