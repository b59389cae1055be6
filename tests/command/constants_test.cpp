#include <gtest/gtest.h>

#include "command/constants.h"
#include "test_support.h"

namespace vexa::command {
namespace {

using test::CapturedContext;
using test::macro_bytes;

std::int32_t value(CapturedContext& c, const char* name) {
  auto it = c.ctx->constants.value_index.find(name);
  return it == c.ctx->constants.value_index.end() ? -999999 : c.ctx->constants.values[static_cast<std::size_t>(it->second)].value;
}

TEST(Constants, AssignmentsAndCompoundOperators) {
  CapturedContext c;
  c.compile_lines(
      "N = 5\nN += 3\n"  // 8
      "M=N\nM <<= 2\n"   // 32
      "M /= 0\n"         // division by zero, stays 32
      "K=100\nK-=1\nK*=2\nK/=4\nK&=$FE\nK|=1\nK^=3\nK>>=1\n"
      "X = 3 ; comment = 4\n"
      "A = 5\nA += 2\nA++\n++A\n--A\n"
      "QQ != 3\n");
  EXPECT_EQ(value(c, "N"), 8);
  EXPECT_EQ(value(c, "M"), 32);
  // ((100-1)*2/4 = 49) & 254 = 48, | 1 = 49, ^ 3 = 50, >> 1 = 25
  EXPECT_EQ(value(c, "K"), 25);
  EXPECT_EQ(value(c, "X"), 3);
  EXPECT_EQ(value(c, "A"), 8);
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 5: division by zero\r\n"), std::string::npos);
  // QQ is unknown: reported, taken as 0, and the operator '!' is unknown too.
  EXPECT_NE(out.find("Constant \"QQ\" not defined !"), std::string::npos);
  EXPECT_NE(out.find("unknown operand '!='"), std::string::npos);
  EXPECT_EQ(value(c, "QQ"), 0);
  EXPECT_EQ(c.errors(), 3);
}

TEST(Constants, PredefinedLettersAndCaseInsensitiveNames) {
  CapturedContext c;
  c.compile_lines("Macro 1\n#TP A,0;\n#TP z,0;\nn = 1\nN++\n#TP n,0;\nA = 7\n#TP a,0;\n");
  EXPECT_EQ(macro_bytes(*c.ctx), (std::vector<std::uint8_t>{27, 'T', 'P', 65, 0, 27, 'T', 'P', 90, 0, 27, 'T',
                                                             'P', 2, 0, 27, 'T', 'P', 7, 0}));
  EXPECT_EQ(c.errors(), 0);
}

TEST(Constants, TableHoldsAtMost5000Entries) {
  Constants table;
  for (int i = 0; i < 4974; ++i) ASSERT_TRUE(define_constant(table, "C" + std::to_string(i), i));
  EXPECT_EQ(table.values.size(), 5000u);
  EXPECT_FALSE(define_constant(table, "ONE_TOO_MANY", 1));
  EXPECT_TRUE(define_constant(table, "c17", 99));  // redefining still works
  EXPECT_EQ(table.values[static_cast<std::size_t>(table.value_index["C17"])].value, 99);
}

TEST(StringConstants, DefinitionExpansionAndFunctions) {
  CapturedContext c;
  c.compile_lines(
      "!T! = \"AB\",{43}\n"
      "Macro 1\n"
      "#ZL 0,0,!T!;\n"
      "!T! = \"XY\"\n"
      "#ZL 0,0,!T!;\n"
      "#ZL 0,0,!STR(7,3)!,!STR(7,-3)!,!HEXSTR(255,0)!,!BINSTR(5,4)!,!STR(1234,2)!,!STR(-5,0)!;\n");
  std::string expected_text = "007  7FF01011234-5";
  std::vector<std::uint8_t> expected = {27, 'Z', 'L', 0, 0, 0, 0, 'A', 'B', 'C', 0,
                                        27, 'Z', 'L', 0, 0, 0, 0, 'X', 'Y', 0,
                                        27, 'Z', 'L', 0, 0, 0, 0};
  expected.insert(expected.end(), expected_text.begin(), expected_text.end());
  expected.push_back(0);
  EXPECT_EQ(macro_bytes(*c.ctx), expected);
  EXPECT_EQ(c.errors(), 0);
}

TEST(StringConstants, MalformedLinesAndReferences) {
  CapturedContext c;
  c.compile_lines(
      "!BAD( = 1\n"
      "!NOEQ! \"x\"\n"
      "Macro 1\n"
      "#ZL 0,0,!MISSING!;\n"
      "#ZL 0,0,!X;\n"
      "#ZL 0,0,!FOO(1,2)!;\n"
      "#ZL 0,0,!STR(1,2);\n");
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 1: Wrong string-constant name (!NAME!)\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 2: Wrong string-constant definition !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 4: string-constant !MISSING! not defined !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 5: string-constant syntax error e.g. !NAME!\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 6: unknown string constant function 'FOO()' !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 7: string constant function syntax error e.g. !NAME(...)!\r\n"), std::string::npos);
}

TEST(StringConstants, DefinitionIsNotTranslatedButInsertionIs) {
  CapturedContext c;
  c.compile_lines(
      "'A'=66\n"            // code table 1: A -> B
      "!T! = \"AA\"\n"      // stored untranslated
      "Macro 1\n"
      "#ZL 0,0,!T!,\"A\",!STR(1,0)!;\n");
  EXPECT_EQ(macro_bytes(*c.ctx), (std::vector<std::uint8_t>{27, 'Z', 'L', 0, 0, 0, 0, 'B', 'B', 'B', '1', 0}));
  EXPECT_EQ(*string_constant_text(c.ctx->constants, "t"), "AA");
}

}  // namespace
}  // namespace vexa::command
