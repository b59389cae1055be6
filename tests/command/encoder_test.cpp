#include <gtest/gtest.h>

#include "link/models.h"
#include "test_support.h"

namespace vexa::command {
namespace {

using test::CapturedContext;
using test::macro_bytes;
using Bytes = std::vector<std::uint8_t>;

// Compiles one command line inside macro 1 for a model; returns the bytes the
// command added (empty when it was refused).
struct Encoded {
  Bytes bytes;
  std::string console;
  int errors;
  int commands;
};

// Panel models cannot be named by a model line; the row is set directly.
Encoded encode(const std::string& line, int model = link::model_vexag6) {
  CapturedContext c;
  c.ctx->settings.model = model;
  c.compile_lines("\nMacro 1\n" + line + "\n");
  return {macro_bytes(*c.ctx), c.console(), c.errors(), c.ctx->macro.commands};
}

Bytes cmd(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

// The bytes of every row of the command table are checked in
// command_table_test.cpp; these are the forms of writing them.
TEST(Encoder, CommandLettersAndParameterKinds) {
  EXPECT_EQ(encode("#tp 1,2;").bytes, cmd({27, 'T', 'P', 1, 2}));
  EXPECT_EQ(encode("#T P 1,2").bytes, cmd({27, 'T', 'P', 1, 2}));  // blanks between the letters
  EXPECT_EQ(encode("#ZL 0,0,\"A\",{0D0A};").bytes, cmd({27, 'Z', 'L', 0, 0, 0, 0, 'A', 0}));
  EXPECT_EQ(encode("#TP 1,2;").commands, 1);
}

TEST(Encoder, OneCharacterCommandsKeepTheirNextCharacter) {
  EXPECT_EQ(encode("#X2;").bytes, cmd({27, 'X', 2}));
  EXPECT_EQ(encode("#!5").bytes, cmd({27, '!', 5}));
  EXPECT_EQ(encode("#+ 7;").bytes, cmd({27, '+', 7}));
  EXPECT_EQ(encode("#@;").bytes, cmd({27, '@'}));
  EXPECT_EQ(encode("#?").bytes, cmd({27, '?'}));
}

TEST(Encoder, SegmentCountsAndStringLimits) {
  Encoded surplus = encode("#TP 1,2,3;");
  EXPECT_TRUE(surplus.bytes.empty());
  EXPECT_NE(surplus.console.find("--->LINE 3: wrong number of parameters\r\n"), std::string::npos);
  EXPECT_TRUE(encode("#TP 1;").bytes.empty());
  EXPECT_TRUE(encode("#AD 1,2,3,4,5;").bytes.empty());

  Encoded big = encode("#TP 300,2;");
  EXPECT_EQ(big.bytes, cmd({27, 'T', 'P', 255, 2}));
  EXPECT_NE(big.console.find("parameter exceeds bytesize (0..255)"), std::string::npos);
  EXPECT_EQ(big.errors, 1);

  // Panel03 allows strings of 31 bytes with the terminator.
  std::string thirty(30, 'x');
  EXPECT_FALSE(encode("#ZL 0,0,\"" + thirty + "\";", 2).bytes.empty());
  EXPECT_TRUE(encode("#ZL 0,0,\"" + thirty + "x\";", 2).bytes.empty());
  EXPECT_TRUE(encode("#ZB 0,0,10,10,1,\"" + thirty + "x\";", 2).bytes.empty());
}

TEST(Encoder, UnknownCommands) {
  for (const char* line : {"#TB;", "#TD;", "#TF;", "#TG;", "#TH;", "##;", "#>A;", "#HA;", "#JA;", "#LA;", "#OA;",
                           "#PA;", "#QA;", "#\"A;", "#,;", "#5;", "#<;", "#[;", "#a9;", "#&X 1,2,3,4,5,6,7;", "#"}) {
    Encoded e = encode(line);
    EXPECT_TRUE(e.bytes.empty()) << line;
    EXPECT_NE(e.console.find("--->LINE 3: not a valid command !\r\n"), std::string::npos) << line;
  }
  // Without a model every gated command fails, the others still encode.
  EXPECT_TRUE(encode("#DO 1;", -1).bytes.empty());
  EXPECT_FALSE(encode("#TP 1,1;", -1).bytes.empty());
}

TEST(Encoder, SelfAppendingCommandsDoNotCount) {
  Encoded dollar = encode("#$A 1,2,3;");
  EXPECT_EQ(dollar.bytes, cmd({27, '$', 'A', 3, 1, 2, 3}));
  EXPECT_EQ(dollar.commands, 0);
  EXPECT_EQ(encode("#$a 1;").bytes, cmd({27, '$', 'a', 1, 1}));  // second character as written
  EXPECT_TRUE(encode("#$A;").bytes.empty());
  Encoded gx = encode("#GX 5,300,2;");
  EXPECT_EQ(gx.bytes, cmd({27, 'G', 'X', 5, 2, 44, 1, 2, 0}));
  EXPECT_EQ(gx.commands, 0);
  EXPECT_TRUE(encode("#GY 5;").bytes.empty());
  EXPECT_EQ(encode("#SB 1,2;").bytes, cmd({27, 'S', 'B', 2, 1, 2}));
  EXPECT_TRUE(encode("#SB;").bytes.empty());
}

TEST(Encoder, SendBytesFromAFile) {
  CapturedContext c;
  std::string data(600, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  test::write_file(c.dir.file("blob.bin"), data);
  c.compile_lines("VexaG6\nMacro 1\n#SB 9 <./blob.bin>\n#SB <./missing.bin>\n");
  Bytes bytes = macro_bytes(*c.ctx);
  ASSERT_EQ(bytes.size(), 5u + 3 * 4 + 600);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 5), cmd({27, 'S', 'B', 1, 9}));
  std::size_t at = 5;
  for (int count : {255, 255, 90}) {
    EXPECT_EQ(Bytes(bytes.begin() + at, bytes.begin() + at + 4), cmd({27, 'S', 'B', count}));
    at += 4 + static_cast<std::size_t>(count);
  }
  EXPECT_EQ(bytes[5 + 4 + 254], 254);
  EXPECT_EQ(bytes.back(), static_cast<std::uint8_t>(599 & 255));
  EXPECT_NE(c.console().find("Cannot Open File <" + c.dir.path + "/missing.bin> !"), std::string::npos);
}

TEST(Encoder, SpecialByteForms) {
  EXPECT_EQ(encode("#%A;").bytes, cmd({27, '%', 'A'}));
  EXPECT_EQ(encode("#%b 1,2,3;").bytes, cmd({27, '%', 'b', 1, 2, 3}));
  EXPECT_EQ(encode("#ZT;").bytes, cmd({27, 'Z', 'T'}));
  EXPECT_EQ(encode("#&D 1,2,3,4,5,6,7;").bytes, cmd({27, '&', 'D', 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_TRUE(encode("#&D 1,2,3,4,5,6;").bytes.empty());
  EXPECT_EQ(encode("#&i 1,2,3,4,5;").bytes, cmd({27, '&', 'I', 1, 2, 3, 4, 5}));
  EXPECT_EQ(encode("#YQ \"abc\";", link::model_vexag7).bytes, cmd({27, 'Y', 'Q', 'a', 'b', 'c', 0}));
  EXPECT_EQ(encode("#YQ \"abc\",0;", link::model_vexag7).bytes, cmd({27, 'Y', 'Q', 'a', 'b', 'c', 0}));
  EXPECT_FALSE(encode("#YQ \"" + std::string(42, 'q') + "\";", link::model_vexag7).bytes.empty());
  Encoded long_yq = encode("#YQ \"" + std::string(43, 'q') + "\";", link::model_vexag7);
  EXPECT_TRUE(long_yq.bytes.empty());
  EXPECT_NE(long_yq.console.find("not a valid command !"), std::string::npos);
}

TEST(Encoder, CommandLongerThanTheBufferIsRefused) {
  // 600 words are 1200 bytes: more than the command buffer holds.
  std::string words;
  for (int i = 0; i < 600; ++i) words += "1,";
  Encoded e = encode("#RC " + words + "1;");
  EXPECT_TRUE(e.bytes.empty());
  EXPECT_NE(e.console.find("command too long (more than 1024 bytes) !"), std::string::npos);
  // A byte list ends after 999 values: the rest of a long string is read over.
  EXPECT_EQ(encode("#%A \"" + std::string(1500, 'x') + "\";").bytes.size(), 3u + 999u);
}

TEST(Encoder, CommandsNeedAnOpenMacro) {
  CapturedContext c;
  c.compile_lines("VexaG6\n#TP 1,2;\n");
  EXPECT_NE(c.console().find("--->LINE 2: No Macronumber defined !\r\n"), std::string::npos);
  EXPECT_EQ(c.ctx->flash.image_pos, 0);
}

TEST(Encoder, ImageOverflowIsRefused) {
  CapturedContext c;
  c.ctx->flash.image.assign(limits::work_area - 4, 0);
  c.ctx->flash.image_pos = static_cast<int>(limits::work_area) - 4;
  c.compile_lines("VexaG6\nMacro 1\n#TP 1,2;\n#DL;\n");
  EXPECT_NE(c.console().find("--->LINE 3: DATA-FLASH memory overflow !\r\n"), std::string::npos);
  EXPECT_EQ(c.ctx->flash.image_pos, static_cast<int>(limits::work_area) - 1);  // #DL still fits
}

}  // namespace
}  // namespace vexa::command
