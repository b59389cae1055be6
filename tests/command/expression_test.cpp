#include <gtest/gtest.h>

#include "command/encoder.h"
#include "command/expression.h"
#include "test_support.h"

namespace vexa::command {
namespace {

using test::CapturedContext;

// Evaluates text as one expression; leaves the parse position where it stopped.
std::int32_t eval(CapturedContext& c, const std::string& text) {
  c.ctx->source.line = text;
  c.ctx->source.pos = 0;
  return evaluate_expression(*c.ctx);
}

std::vector<int> buffer_of(const Context& ctx) {
  return std::vector<int>(ctx.command.bytes.begin(), ctx.command.bytes.begin() + ctx.command.length);
}

TEST(Expression, PrecedenceAndAssociativity) {
  CapturedContext c;
  EXPECT_EQ(eval(c, "2+3*4"), 14);
  EXPECT_EQ(eval(c, "(2+3)*4"), 20);
  EXPECT_EQ(eval(c, "1|2&3"), 3);
  EXPECT_EQ(eval(c, "-(2+3)*2"), -10);
  EXPECT_EQ(eval(c, "10-4-3"), 3);
  EXPECT_EQ(eval(c, "100/10/5"), 2);
  EXPECT_EQ(eval(c, "1+2<<3"), 24);  // shift binds weaker than +
  EXPECT_EQ(eval(c, "6^3|8"), 13);   // | and ^ on one level, left to right
  EXPECT_EQ(eval(c, "~0"), -1);
  EXPECT_EQ(eval(c, "+5"), 5);
  EXPECT_EQ(c.errors(), 0);
}

TEST(Expression, NumberFormsSkipBlanksInsideDigits) {
  CapturedContext c;
  EXPECT_EQ(eval(c, "%1010"), 10);
  EXPECT_EQ(eval(c, "$ff"), 255);
  EXPECT_EQ(eval(c, "$1 F"), 31);
  EXPECT_EQ(eval(c, "1 0"), 10);
  EXPECT_EQ(eval(c, "1 2"), 12);
  EXPECT_EQ(eval(c, "4294967295"), -1);  // 32-bit wrap-around
}

TEST(Expression, DivisionShiftsAndWrapAround) {
  CapturedContext c;
  EXPECT_EQ(eval(c, "-7/2"), -3);
  EXPECT_EQ(eval(c, "MOD(-7,2)"), -1);
  EXPECT_EQ(eval(c, "-8>>1"), -4);
  EXPECT_EQ(eval(c, "1<<33"), 2);  // the count uses its low 5 bits
  EXPECT_EQ(eval(c, "2147483647+1"), -2147483647 - 1);
  EXPECT_EQ(eval(c, "-2147483648/-1"), -2147483647 - 1);
  EXPECT_EQ(eval(c, "65536*65536"), 0);
}

TEST(Expression, BuiltInFunctions) {
  CapturedContext c;
  EXPECT_EQ(eval(c, "SIN(900,100)"), 100);
  EXPECT_EQ(eval(c, "COS(600,100)"), 50);  // 0.5000000000000001 * 100, truncated
  EXPECT_EQ(eval(c, "SIN(-300,10)"), -4);
  EXPECT_EQ(eval(c, "tan(450,10)"), 9);    // 0.9999999999999999 * 10
  EXPECT_EQ(eval(c, "AVG(1,2)"), 1);
  EXPECT_EQ(eval(c, "AVG(-1,-2)"), -1);
  EXPECT_EQ(eval(c, "MIN(5,-3,7)"), -3);
  EXPECT_EQ(eval(c, "max(5,-3,7)"), 7);
  EXPECT_EQ(eval(c, "HI($1234)"), 18);
  EXPECT_EQ(eval(c, "LO($1234)"), 0x34);
  EXPECT_EQ(eval(c, "SET_RGB(1,2,3)"), 66051);
  EXPECT_EQ(eval(c, "GET_R($123456)"), 0x12);
  EXPECT_EQ(eval(c, "GET_G($123456)"), 0x34);
  EXPECT_EQ(eval(c, "GET_B($123456)"), 0x56);
  EXPECT_EQ(eval(c, "STRING_P(1,1,0,0,0,0)"), 0);
  EXPECT_EQ(eval(c, "STRING_P(2,3,4,5,6,7)"), 1 + 2 * 16 + 4 * 256 + 5 * 4096 + 6 * 65536 + 7 * 16777216);
  EXPECT_EQ(c.errors(), 0);
}

TEST(Expression, RandomStaysInItsWindowAndNeverRepeats) {
  CapturedContext c;
  std::int32_t last = eval(c, "RANDOM(1,6)");
  for (int i = 0; i < 200; ++i) {
    std::int32_t r = eval(c, "RANDOM(6,1)");
    EXPECT_GE(r, 1);
    EXPECT_LE(r, 6);
    EXPECT_NE(r, last);
    last = r;
  }
  // With a step the draw stays within step of the last value.
  for (int i = 0; i < 200; ++i) {
    std::int32_t r = eval(c, "RANDOM(0,100,2)");
    EXPECT_LE(std::abs(r - last), 2);
    last = r;
  }
  // A window with only the last value in it must still end.
  EXPECT_EQ(eval(c, "RANDOM(3,3)"), 3);
  EXPECT_EQ(eval(c, "RANDOM(3,3)"), 3);
}

TEST(Expression, IncrementFormsChangeTheConstant) {
  CapturedContext c;
  c.compile_lines("X = 5\nINFO X++\nINFO X\nINFO ++X\nINFO --X\nINFO X--,X\n");
  EXPECT_NE(c.console().find("5\r\n6\r\n7\r\n6\r\n6 5\r\n"), std::string::npos) << c.console();
  EXPECT_EQ(c.errors(), 0);
}

TEST(Expression, ErrorsAreReportedWithTheirSubstituteValues) {
  CapturedContext c;
  c.compile_lines(
      "INFO 7/0\n"          // divide by 1 instead
      "INFO (1+2\n"         // value so far
      "INFO 4)\n"
      "INFO 3+@\n"          // operand counts as 1
      "INFO NOPE\n"
      "INFO FOO(1)\n"
      "INFO LO(1,2)\n"
      "INFO 5{\n"
      "INFO MOD(7,0)\n");
  std::string out = c.console();
  EXPECT_NE(out.find("--->LINE 1: division by zero\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\n7\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 2: missing closing bracket ')'\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 3: missing opening bracket '('\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 4: missing number or Constant: '@'\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\n4\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 5: Constant \"NOPE\" not defined !\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 6: unknown function \"FOO()\"!\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 7: LO(): wrong number of parameters!\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 8: Unknown Character '{'\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 9: division by zero\r\n"), std::string::npos);
  // INFO goes on after a stray ')' or '{' and reads it as the next item.
  EXPECT_NE(out.find("--->LINE 3: missing number or Constant: ')'\r\n"), std::string::npos);
  EXPECT_NE(out.find("--->LINE 8: missing number or Constant: '{'\r\n"), std::string::npos);
  EXPECT_EQ(c.errors(), 11);
}

TEST(Expression, DeepNestingIsRefusedNotCrashed) {
  CapturedContext c;
  std::string deep(5000, '(');
  eval(c, deep + "1");
  eval(c, std::string(3000, '-') + "1");
  std::string calls;
  for (int i = 0; i < 3000; ++i) calls += "LO(";
  eval(c, calls + "1");
  SUCCEED();
}

TEST(ParameterLists, ByteListForms) {
  CapturedContext c;
  c.ctx->source.line = "\"AB\",{7C},300;";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_byte_list(*c.ctx, limits::list_unlimited), 5);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{65, 66, 92, 124, 255}));
  EXPECT_NE(c.console().find("parameter exceeds bytesize (0..255)"), std::string::npos);

  c.ctx->command.length = 0;
  c.ctx->source.line = "'x\"y',{5c 4},{0a1}, 2";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_byte_list(*c.ctx, limits::list_unlimited), 7);
  // {5c 4}: "5c" is 92 and escaped, " 4" is not a pair; {0a1}: 10, the single 1 gives nothing
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{'x', '"', 'y', 92, 92, 10, 2}));
}

TEST(ParameterLists, StringLimitAndTerminator) {
  CapturedContext c;
  c.ctx->source.line = "\"AB\",{0D0A}";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_string_param(*c.ctx, limits::list_unlimited), 3);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{65, 66, 0}));

  c.ctx->command.length = 0;
  c.ctx->source.line = "\"ABCDEF\",7";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_byte_list(*c.ctx, 3), 3);  // characters beyond the limit are read over
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{'A', 'B', 'C'}));
  EXPECT_EQ(c.ctx->source.line.substr(c.ctx->source.pos), ",7");
}

TEST(ParameterLists, WordListStopsAtItsLimit) {
  CapturedContext c;
  c.ctx->source.line = "300,-1,5";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_word_list(*c.ctx, 2), 2);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{44, 1, 255, 255}));
  EXPECT_EQ(c.ctx->source.line.substr(c.ctx->source.pos), ",5");
  // A word list ends before a quote or a file name.
  c.ctx->command.length = 0;
  c.ctx->source.line = "1,2 <pic.bmp>";
  c.ctx->source.pos = 0;
  EXPECT_EQ(parse_word_list(*c.ctx, limits::list_unlimited), 2);
  EXPECT_EQ(c.ctx->source.line[c.ctx->source.pos], '<');
}

}  // namespace
}  // namespace vexa::command
