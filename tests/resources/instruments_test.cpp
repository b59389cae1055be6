// Instrument blocks: what the encoder codes in each mode, and decoding
// blocks that are cut short or damaged anywhere. Compiled instruments, I16
// files and their messages are pinned by the golden projects.
#include <gtest/gtest.h>

#include "command/work_areas.h"
#include "imagefiles/bitmap_block.h"
#include "resources/instruments.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

using test::ByteList;

TEST(EncodeInstrument, TheBackgroundStaysRawAndPositionsAreCodedByMode) {
  imagefiles::ImageSet set;
  set.count = 3;
  ASSERT_TRUE(imagefiles::create_image(set.images[0], 4, 1, 16) && create_image(set.images[1], 4, 1, 16) &&
              create_image(set.images[2], 2, 1, 16));
  InstrumentBlock out;
  out.positions[1] = FramePosition{2, 3};
  // Mode 2 codes a row of 4 equal units (2 bytes of 8), not one of 2 units;
  // mode 1 codes every position; the background is never coded.
  for (int mode : {2, 1}) {
    ASSERT_TRUE(encode_instrument(set, out, mode));
    const std::uint8_t* e = out.block.data() + instrument_header_bytes;
    EXPECT_EQ(ByteList(e, e + 12), (ByteList{4, 0, 1, 0, 70, 0, 0, 0x00, 0, 0, 0, 0})) << mode;
    EXPECT_EQ(ByteList(e + 12, e + 24), (ByteList{4, 0, 1, 0, 78, 0, 0, 0x80, 2, 0, 3, 0})) << mode;
    EXPECT_EQ(e[24 + 7], mode == 1 ? 0x80 : 0x00) << mode;
    EXPECT_EQ(out.block_size, mode == 1 ? 84u : 85u);
  }
}

TEST(CropInstrument, TrueColourPositionsKeyTheirUnchangedPixels) {
  auto set = test::set_of({test::image_from_art({"WWWW"}), test::image_from_art({"WRWR"})}, 0);
  set->transparent = 1;
  set->transparent_colour = imagefiles::rgb(250, 140, 0);  // 'o'
  InstrumentBlock out;
  ASSERT_TRUE(crop_instrument_frames(*set, out));
  EXPECT_EQ(test::art_from_image(set->images[1]), (test::Art{"RoR"}));
}

TEST(ExpandInstrument, ShortOrDamagedBlocksAreRefusedSafely) {
  test::CapturedContext c;
  test::write_file(c.dir.file("n0.bmp"), test::bmp_from_art({"WWWWWW", "WWWWWW", "WWWWWW"}));
  test::write_file(c.dir.file("n1.bmp"), test::bmp_from_art({"WWWWWW", "WRRWBW", "WWWWWW"}));
  test::write_file(c.dir.file("n2.bmp"), test::bmp_from_art({"WWWWWW", "WWWWWW", "WWWWWW"}));
  c.compile_lines("VexaG6\nINSTRUMENT 1,<./n?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  const ByteList dial = test::stored_resource(*c.ctx, command::kind_instruments, 0, 1);

  imagefiles::ImageSet set;
  InstrumentBlock in;
  in.block = dial;
  in.block_size = static_cast<std::uint32_t>(dial.size());
  ASSERT_TRUE(expand_instrument_frames(set, in, 1));
  for (std::size_t n = 0; n < dial.size(); ++n) {
    in.block.assign(dial.begin(), dial.begin() + static_cast<std::ptrdiff_t>(n));
    in.block_size = static_cast<std::uint32_t>(n);
    EXPECT_FALSE(expand_instrument_frames(set, in, 1)) << n;
    EXPECT_EQ(set.count, 0);
  }
  // No change of a single byte makes the decoder read or write outside its
  // buffers (the sanitizers watch).
  for (std::size_t at = 0; at < dial.size(); ++at)
    for (int value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
      in.block = dial;
      in.block[at] = static_cast<std::uint8_t>(value);
      in.block_size = static_cast<std::uint32_t>(dial.size());
      expand_instrument_frames(set, in, static_cast<int>(at % 2));
    }
}

}  // namespace
}  // namespace vexa::resources
