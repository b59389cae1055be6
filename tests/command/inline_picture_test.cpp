// UL and CL: a display command followed in the macro by a whole bitmap block.
#include <gtest/gtest.h>

#include "../imagefiles/bmp_files.h"
#include "driver/dataflash.h"
#include "test_support.h"

namespace vexa::command {
namespace {

using test::ByteList;
using test::CapturedContext;

// A 4 x 1 24-bit BMP: red, red, blue, blue.
ByteList two_colour_bmp() {
  test::BmpSpec spec;
  spec.width = 4;
  spec.height = 1;
  spec.pixels = {0, 0, 255, 0, 0, 255, 255, 0, 0, 255, 0, 0};
  return test::bmp_file(spec);
}

// Its block: two colours without transparency become 1 bit with the colours
// red (0 bits) and blue (1 bits) stored in the header; a row of 1 byte is
// stored raw.
const ByteList two_colour_block = {0x1B, 'U', 'L', 0x00, 0xF8, 0x1F, 0x00, 'G', '1', '6', 1, 0, 1, 0, 0, 3, 1, 1, 4, 0, 1, 0,
                                   4, 0, 1, 0, 30, 0, 0, 0, 0x30};

TEST(InlinePicture, CommandThenBlockCountedAsMacroBytes) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), two_colour_bmp());
  c.compile_lines("VexaG6\nMacro 1\n#TP 1,2;\n#UL 300,4,<./p.bmp>\n");
  ASSERT_EQ(c.errors(), 0) << c.console();
  ByteList expected = {27, 'T', 'P', 1, 2, 27, 'U', 'L', 44, 1, 4, 0};
  expected.insert(expected.end(), two_colour_block.begin(), two_colour_block.end());
  EXPECT_EQ(test::macro_bytes(*c.ctx), expected);
  EXPECT_EQ(c.ctx->macro.commands, 1);  // UL appends itself and is not counted
  EXPECT_EQ(c.ctx->macro.bytes, static_cast<int>(expected.size()));
  EXPECT_EQ(c.ctx->flash.resource_pos, 0);
  EXPECT_EQ(c.ctx->work_set.count, 0);
}

TEST(InlinePicture, FailuresAppendNothing) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), two_colour_bmp());
  c.compile_lines(
      "VexaG6\nMacro 1\n"
      "#UL 1,2,<./missing.bmp>\n"  // 3
      "#UL 1,2\n"                  // 4: only the file-name error
      "#UL 1,<./p.bmp>\n"          // 5
      "#CL 1,2,<./p.bmp>\n"        // 6: not on this model
      "VexaG7\n"
      "#CL 1,2\n");                // 8: file-name error and the count
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 3: cannot load picture <" + c.dir.file("missing.bmp") + "> !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 4: Cannot found a Filename !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 5: wrong number of parameters\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 6: not a valid command !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 8: Cannot found a Filename !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 8: wrong number of parameters\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 6);
  EXPECT_EQ(c.ctx->flash.image_pos, 0);

  // With VexaG7, CL carries the picture like UL.
  c.compile_lines("#CL 1,2,<./p.bmp>\n", "more.txt");
  ByteList expected = {27, 'C', 'L', 1, 0, 2, 0};
  expected.insert(expected.end(), two_colour_block.begin(), two_colour_block.end());
  EXPECT_EQ(test::macro_bytes(*c.ctx), expected);
}

TEST(InlinePicture, ANearlyFullImageTakesNeitherCommandNorPicture) {
  CapturedContext c;
  test::write_file(c.dir.file("p.bmp"), two_colour_bmp());
  std::vector<std::uint8_t> filler(limits::work_area - 40, 0);
  ASSERT_TRUE(driver::append_to_area(c.ctx->flash.image, c.ctx->flash.image_pos, filler.data(), filler.size()));
  // 7 command bytes and 31 block bytes fit into 40; twice they do not.
  c.compile_lines("VexaG6\nMacro 1\n#UL 1,2,<./p.bmp>\n#UL 1,2,<./p.bmp>\n");
  EXPECT_NE(c.console().find("--->LINE 4: DATA-FLASH memory overflow !\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 1);
  EXPECT_EQ(c.ctx->flash.image_pos, static_cast<int>(limits::work_area) - 2);
  EXPECT_EQ(c.ctx->macro.bytes, 38);
}

}  // namespace
}  // namespace vexa::command
