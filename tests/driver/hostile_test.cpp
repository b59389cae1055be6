// Hostile macro files: whatever the text, the compiler reports and goes on;
// it never reads or writes outside a buffer (the sanitizer build runs these).
#include <gtest/gtest.h>

#include "test_support.h"

namespace vexa::driver {
namespace {

using test::CapturedContext;

TEST(HostileInput, LongNamesAreRefusedWithAMessage) {
  CapturedContext c;
  std::string long_name(300, 'n');
  c.compile_lines("INCLUDE <" + long_name + ".txt>\nPATH <" + long_name + ">\nDESTINATION <" + long_name + ">\n");
  for (const char* line : {"1", "2", "3"})
    EXPECT_NE(c.console().find("--->LINE " + std::string(line) + ": File name too long (max. 255 characters) !"),
              std::string::npos);
  EXPECT_EQ(c.errors(), 3);
}

TEST(HostileInput, IdentifiersAreSignificantToEightyCharacters) {
  CapturedContext c;
  std::string a = std::string(80, 'A') + "X";
  std::string b = std::string(80, 'A') + "Y";  // the same constant: the first 80 characters agree
  c.compile_lines(a + " = 7\nINFO " + b + "\n" + std::string(5000, 'Q') + " = 1\n");
  EXPECT_NE(c.console().find("\r\n7\r\n"), std::string::npos);
  // The 5000-character word is read as lines of 1999 characters: two words
  // without '=' (unknown commands), then the assignment to the rest.
  EXPECT_NE(c.console().find("--->LINE 3: Unknown Command !"), std::string::npos);
  EXPECT_NE(c.console().find("--->LINE 4: Unknown Command !"), std::string::npos);
  EXPECT_EQ(c.errors(), 2);
}

TEST(HostileInput, TooManyFunctionArguments) {
  CapturedContext c;
  std::string args;
  for (int i = 0; i < 250; ++i) args += (i ? "," : "") + std::to_string(i);
  c.compile_lines("INFO MAX(" + args + ")\nINFO MIN(" + args.substr(0, args.find(",199,") + 4) + ")\n");
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 1: MAX(): wrong number of parameters!"), std::string::npos);
  EXPECT_NE(out.find("\r\n0\r\n"), std::string::npos);  // 200 arguments still work
  EXPECT_EQ(c.errors(), 1);
}

TEST(HostileInput, UnterminatedQuotesBracketsAndBlocks) {
  CapturedContext c;
  c.compile_lines(
      "VexaG6\nMacro 1\n"
      "#ZL 1,2,\"never closed\n"
      "#TP (1+(2\n"
      "#%A {0102\n"
      "#ZL 1,2,!NAME\n"
      "#ZL 1,2,!STR(1,2\n"
      "INFO \"open\n"
      "!S! = \"x\n"
      "'ab=\n"
      "X = (((\n"
      "Macro 2 [3\n"
      "STRING 5,\"abc\n");
  EXPECT_GT(c.errors(), 5);
  // The unterminated string still ends at the line end.
  std::vector<std::uint8_t> bytes = test::macro_bytes(*c.ctx);
  std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("never closed"), std::string::npos);
}

TEST(HostileInput, ControlAndHighBytesInLines) {
  CapturedContext c;
  std::string line = "VexaG6\nMacro 1\n#ZL 1,2,\"";
  for (int b = 128; b < 256; ++b) line += static_cast<char>(b);
  line += "\";\n#ZL 1,2,\"a";
  line += '\0';
  line += "b\";\nINFO \"\x01\x02\x7f\"\n\x80\xff = 3\n#\xfe\n";
  c.compile_lines(line);
  std::vector<std::uint8_t> bytes = test::macro_bytes(*c.ctx);
  // 128 high bytes kept as they are, plus the terminator.
  ASSERT_GE(bytes.size(), 7u + 128u + 1u);
  EXPECT_EQ(bytes[7], 128);
  EXPECT_EQ(bytes[7 + 127], 255);
  // A byte 0 ends the line: the second command is cut there, its quote never closes.
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.end() - 9, bytes.end()),
            (std::vector<std::uint8_t>{27, 'Z', 'L', 1, 0, 2, 0, 'a', 0}));
  EXPECT_NE(c.console().find("not a valid command !"), std::string::npos);
}

}  // namespace
}  // namespace vexa::driver
