// Animations compiled in process: full and difference frames worked out byte
// by byte from the bitmap block layout, the difference algorithm itself,
// the messages, placeholders and exports.
#include <gtest/gtest.h>

#include <string>

#include "driver/dataflash.h"
#include "imagefiles/native.h"
#include "resources/animations.h"
#include "stored_resources.h"
#include "test_support.h"

namespace vexa::resources {
namespace {

using test::ByteList;
using test::CapturedContext;

constexpr Bgr W = rgb(255, 255, 255), R = rgb(255, 0, 0), B = rgb(0, 0, 255);
// The first key candidate, exact in 5-6-5 (0xAFCB).
constexpr Bgr key = rgb(0xAD, 0xFB, 0x5A);
const std::string i15(15, ' '), i17(17, ' ');

using test::Row;

TEST(Animation, FullFramesAsOneBlock) {
  CapturedContext c;
  test::write_file(c.dir.file("a1.bmp"), test::bmp24_rows({{R, R, B, B}}));
  test::write_file(c.dir.file("a2.bmp"), test::bmp24_rows({{B, B, R, R}}));
  c.compile_lines("VexaG6\nANIMATION 3 [2] <./a?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // 24-bit frames above MAXCOLORDEPTH 16 are stored as 5-6-5; rows of four
  // units code to two repeats (6 bytes of 8), which automatic coding keeps.
  const ByteList expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 16, 0, 0, 0, 0, 3, 1, 2, 4, 0, 1, 0,
                             4, 0, 1, 0, 38, 0, 0, 0x80,
                             4, 0, 1, 0, 44, 0, 0, 0x80,
                             0x81, 0x00, 0xF8, 0x81, 0x1F, 0x00,
                             0x81, 0x1F, 0x00, 0x81, 0x00, 0xF8};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_animations, 2, 3), expected);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_animations].bytes, 50);
  const std::string lines = "Import Animation <" + c.dir.file("a1.bmp") + ">\r\n" + std::string(17, ' ') + "<" +
                            c.dir.file("a2.bmp") + ">\r\n" + i17 +
                            "image number: 1..2, size: 4x1 dots, colordepth: 16-bit, 50 bytes\r\n";
  EXPECT_NE(c.console().find(lines), std::string::npos) << c.console();
}

TEST(Animation, CompressStoresDifferenceFrames) {
  CapturedContext c;
  test::write_file(c.dir.file("a1.bmp"), test::bmp24_rows({{R, R, B, B}}));
  test::write_file(c.dir.file("a2.bmp"), test::bmp24_rows({{R, R, B, B}}));
  c.compile_lines("VexaG6\nCOMPRESS 1\nANIMATION 0,<./a?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  // The second frame equals the first: all key. Red, blue and the key make
  // a 4-bit table in the order the stacked rows meet them; byte 11 is 2, byte
  // 12 the key's index. Rows of 2 bytes stay raw.
  const ByteList expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 4, 2, 2, 3, 0, 3, 1, 2, 4, 0, 1, 0,
                             0x00, 0xF8, 0x1F, 0x00, 0xCB, 0xAF,
                             4, 0, 1, 0, 44, 0, 0, 0,
                             4, 0, 1, 0, 46, 0, 0, 0,
                             0x00, 0x11, 0x22, 0x22};
  EXPECT_EQ(test::stored_resource(*c.ctx, driver::kind_animations, 0, 0), expected);
  EXPECT_NE(c.console().find(i17 + "image number: 1..2, size: 4x1 dots, colordepth: 4-bit, 48 bytes\r\n"),
            std::string::npos)
      << c.console();
}

std::vector<Bgr> colours_of(const Image& image, int y) {
  std::vector<Bgr> out;
  for (int x = 0; x < image_width(image); ++x) out.push_back(pixel_colour(image, x, y));
  return out;
}

TEST(DifferenceFrames, EachFrameAgainstTheScreenBeforeIt) {
  // Slot 3 is a gap; frame 4 is compared with the screen frame 2 left
  // (R B B B), not with frame 1.
  auto set = test::set_of({test::picture({{R, R, B, B}}), test::picture({{R, B, B, B}}), Image{},
                           test::picture({{R, R, B, B}})});
  ASSERT_TRUE(make_difference_frames(*set));
  EXPECT_EQ(set->transparent, 1);
  EXPECT_EQ(set->transparent_colour, key);
  EXPECT_EQ(colours_of(set->images[1], 0), (Row{R, R, B, B}));
  EXPECT_EQ(colours_of(set->images[2], 0), (Row{key, B, key, key}));
  EXPECT_EQ(colours_of(set->images[4], 0), (Row{key, R, key, key}));

  // A set with transparency keeps its colour as key; a transparent pixel
  // leaves the screen as it was.
  const Bgr t = rgb(0, 255, 0);
  auto clear = test::set_of({test::picture({{R, B}}), test::picture({{t, R}}), test::picture({{R, B}})}, 0);
  clear->transparent = 1;
  clear->transparent_colour = t;
  ASSERT_TRUE(make_difference_frames(*clear));
  EXPECT_EQ(clear->transparent_colour, t);
  EXPECT_EQ(colours_of(clear->images[1], 0), (Row{t, R}));
  EXPECT_EQ(colours_of(clear->images[2], 0), (Row{t, B}));

  // Frames of other sizes are laid from the top-left corner; pixels where
  // no earlier frame has drawn are kept.
  auto sizes = test::set_of({test::picture({{R, B}}), test::picture({{R, B, B}, {R, R, R}}), test::picture({{R}})});
  ASSERT_TRUE(make_difference_frames(*sizes));
  EXPECT_EQ(colours_of(sizes->images[2], 0), (Row{key, key, B}));
  EXPECT_EQ(colours_of(sizes->images[2], 1), (Row{R, R, R}));
  EXPECT_EQ(colours_of(sizes->images[3], 0), (Row{key}));
}

TEST(Animation, MessagesAndRefusals) {
  CapturedContext c;
  test::write_file(c.dir.file("one1.bmp"), test::bmp24_plain(4, 2, W));
  test::write_file(c.dir.file("a1.bmp"), test::bmp24_plain(4, 2, W));
  test::write_file(c.dir.file("a2.bmp"), test::bmp24_plain(4, 2, R));
  c.compile_lines(
      "VexaG6\n"
      "ANIMATION 1,<./one?.bmp>\n"     // 2
      "ANIMATION 2,<./a1.bmp>\n"       // 3
      "ANIMATION <./a?.bmp>\n"         // 4
      "ANIMATION 256,<./a?.bmp>\n"     // 5
      "ANIMATION 7,<./a1.bmp><./a2.bmp>\n"  // 6: two names make two frames
      "ANIMATION 7,<./a?.bmp>\n"       // 7
      "ANIMATION 8,<./none?.bmp>\n");  // 8
  const std::pair<int, std::string> errors[] = {
      {2, "an animation is only possible with 2 or more pictures !"},
      {3, "an animation is only possible with 2 or more pictures !"},
      {4, "no Animationnumber !"},
      {5, "Animationnumber 256 is wrong, (allowed: 0..255) !"},
      {7, "Animationnumber 7 already exists !"},
      {8, "cannot load Animation <" + c.dir.file("none?.bmp") + "> !"}};
  for (const auto& [line, message] : errors) EXPECT_TRUE(test::has_error(c, line, message)) << line << c.console();
  EXPECT_EQ(c.errors(), 6);
  EXPECT_EQ(c.ctx->flash.resource_stats[driver::kind_animations].count, 1);
  // Nothing of a failed directive stays in the sets.
  EXPECT_EQ(c.ctx->work_set.count, 0);
  EXPECT_EQ(c.ctx->second_set.count, 0);
}

TEST(Animation, GifFramesKeepTheirDelays) {
  const std::string gif = test::testdata("gif-generated/delays_15_16_100_0.gif");
  if (gif.empty()) GTEST_SKIP() << "corpus not present";
  CapturedContext c;
  c.compile_lines("VexaG6\nANIMATION 4,<" + gif + ">\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList b = test::stored_resource(*c.ctx, driver::kind_animations, 0, 4);
  ASSERT_GT(b.size(), 22u);
  EXPECT_EQ(b[16], 1);
  EXPECT_EQ(b[17], 4);
  const std::size_t table = 22 + (b[10] == 4 || b[10] == 8 ? 2 * (b[13] == 0 ? 256 : b[13]) : 0);
  ASSERT_GE(b.size(), table + 32);
  const int delays[4] = {1, 2, 10, 1};  // hundredths 15, 16, 100, 0 in tenths
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(b[table + 8 * i] | b[table + 8 * i + 1] << 8, 2) << i;
    EXPECT_EQ(b[table + 8 * i + 7] & 0x7F, delays[i]) << i;
  }
}

TEST(Animation, BigAnimationBecomesPlaceholders) {
  CapturedContext c;
  test::write_file(c.dir.file("a1.bmp"), test::bmp24_plain(40, 20, R));
  test::write_file(c.dir.file("a2.bmp"), test::bmp24_plain(40, 20, B));
  c.compile_lines("VexaG6\nCOMPRESS 1\nDISABLEBIGIMAGES 0 \"A\"\nANIMATION 6,<./a?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList b = test::stored_resource(*c.ctx, driver::kind_animations, 0, 6);
  ASSERT_GT(b.size(), 38u);
  EXPECT_NE(c.console().find(i15 + "Animation > 0kB, replace with small dummy images, " + std::to_string(b.size()) +
                             " bytes\r\n"),
            std::string::npos)
      << c.console();
  // 1-bit placeholders in the animation colours (0,100,0) and (0,255,0);
  // they are full frames, so byte 11 carries no difference flag.
  EXPECT_EQ(ByteList(b.begin(), b.begin() + 22),
            (ByteList{0x1B, 'U', 'L', 0x20, 0x03, 0xE0, 0x07, 'G', '1', '6', 1, 0, 1, 0, 0, 3, 1, 2, 40, 0, 20, 0}));
}

TEST(Animation, ExportsInTheMacroDirectory) {
  CapturedContext c;
  // Three colours: the full frames stay a palette picture that a G16 file
  // keeps (two would make them 1-bit, which G16 files hold in black and white).
  test::write_file(c.dir.file("a1.bmp"), test::bmp24_rows({{R, R, B, W}}));
  test::write_file(c.dir.file("a2.bmp"), test::bmp24_rows({{R, B, B, W}}));
  test::TempDir out;
  c.ctx->settings.macro_directory = out.path + "/";
  c.compile_lines("VexaG6\nCOMPRESS 1\nEXPORTOVERVIEW 1794\nANIMATION 3,<./a?.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  for (const char* name : {"Animation3_a1_bmp_1-2.G16", "Animation3_a1_bmp_001.bmp", "Animation3_a1_bmp_002.bmp",
                           "Animation3_a1_bmp_1-2_difference.G16", "Animation3_a1_bmp_1-2_difference.bmp",
                           "Animation3_a1_bmp_1-2.bmp"})
    EXPECT_TRUE(test::file_exists(out.file(name))) << name;
  const std::string d = out.path + "/Animation3_a1_bmp_1-2";
  EXPECT_NE(c.console().find("Export Overview <" + d + "_difference.bmp>\r\n\r\nExport Overview <" + d + ".bmp>\r\n\r\n"),
            std::string::npos)
      << c.console();
  // The full frames and the difference frames, read back.
  ImageSet full, difference;
  ByteList g = test::read_bytes(out.file("Animation3_a1_bmp_1-2.G16"));
  ASSERT_EQ(imagefiles::read_g16(full, imagefiles::Bytes(g.data(), g.size())), 1);
  EXPECT_EQ(colours_of(full.images[2], 0), (Row{R, B, B, W}));
  g = test::read_bytes(out.file("Animation3_a1_bmp_1-2_difference.G16"));
  ASSERT_EQ(imagefiles::read_g16(difference, imagefiles::Bytes(g.data(), g.size())), 1);
  EXPECT_EQ(colours_of(difference.images[2], 0), (Row{key, B, key, key}));

  // Without COMPRESS the extra bit writes no difference files; without
  // bit 1 nothing at all.
  c.compile_lines("COMPRESS 0\nANIMATION 4,<./a?.bmp>\nEXPORTOVERVIEW 1792\nANIMATION 5,<./a?.bmp>\n", "more.txt");
  ASSERT_EQ(c.errors(), 0) << c.console();
  EXPECT_TRUE(test::file_exists(out.file("Animation4_a1_bmp_1-2.bmp")));
  EXPECT_FALSE(test::file_exists(out.file("Animation4_a1_bmp_1-2_difference.G16")));
  EXPECT_FALSE(test::file_exists(out.file("Animation5_a1_bmp_1-2.bmp")));
}

}  // namespace
}  // namespace vexa::resources
