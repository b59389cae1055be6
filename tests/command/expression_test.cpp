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

// Sets the line to parse and empties the command buffer.
void parse_from(CapturedContext& c, const std::string& text) {
  c.ctx->source.line = text;
  c.ctx->source.pos = 0;
  c.ctx->command.length = 0;
}

std::vector<int> buffer_of(const Context& ctx) {
  return std::vector<int>(ctx.command.bytes.begin(), ctx.command.bytes.begin() + ctx.command.length);
}

struct Case {
  const char* text;
  std::int32_t value;
};

// Values worked out by hand: precedence, number forms, 32-bit arithmetic and
// the built-in functions (the trigonometry in tenths of a degree, truncated).
constexpr Case cases[] = {
    {"2+3*4", 14}, {"(2+3)*4", 20}, {"1|2&3", 3}, {"-(2+3)*2", -10}, {"10-4-3", 3}, {"100/10/5", 2},
    {"1+2<<3", 24},  // shift binds weaker than +
    {"6^3|8", 13},   // | and ^ on one level, left to right
    {"~0", -1}, {"+5", 5},
    {"%1010", 10}, {"$ff", 255}, {"$1 F", 31}, {"1 0", 10}, {"1 2", 12},  // blanks inside digits are skipped
    {"4294967295", -1}, {"-7/2", -3}, {"MOD(-7,2)", -1}, {"-8>>1", -4},
    {"1<<33", 2},  // the count uses its low 5 bits
    {"2147483647+1", -2147483647 - 1}, {"-2147483648/-1", -2147483647 - 1}, {"65536*65536", 0},
    {"SIN(900,100)", 100}, {"COS(600,100)", 50}, {"SIN(-300,10)", -4}, {"tan(450,10)", 9},
    {"AVG(1,2)", 1}, {"AVG(-1,-2)", -1}, {"MIN(5,-3,7)", -3}, {"max(5,-3,7)", 7},
    {"HI($1234)", 18}, {"LO($1234)", 0x34}, {"SET_RGB(1,2,3)", 66051},
    {"GET_R($123456)", 0x12}, {"GET_G($123456)", 0x34}, {"GET_B($123456)", 0x56},
    {"STRING_P(1,1,0,0,0,0)", 0}, {"STRING_P(2,3,4,5,6,7)", 1 + 2 * 16 + 4 * 256 + 5 * 4096 + 6 * 65536 + 7 * 16777216},
};

TEST(Expression, ValuesOfWellFormedExpressions) {
  CapturedContext c;
  for (const Case& k : cases) EXPECT_EQ(eval(c, k.text), k.value) << k.text;
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
  parse_from(c, "\"AB\",{7C},300;");
  EXPECT_EQ(parse_byte_list(*c.ctx, limits::list_unlimited), 5);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{65, 66, 92, 124, 255}));
  EXPECT_NE(c.console().find("parameter exceeds bytesize (0..255)"), std::string::npos);

  parse_from(c, "'x\"y',{5c 4},{0a1}, 2");
  EXPECT_EQ(parse_byte_list(*c.ctx, limits::list_unlimited), 7);
  // {5c 4}: "5c" is 92 and escaped, " 4" is not a pair; {0a1}: 10, the single 1 gives nothing
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{'x', '"', 'y', 92, 92, 10, 2}));
}

TEST(ParameterLists, StringLimitAndTerminator) {
  CapturedContext c;
  parse_from(c, "\"AB\",{0D0A}");
  EXPECT_EQ(parse_string_param(*c.ctx, limits::list_unlimited), 3);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{65, 66, 0}));

  parse_from(c, "\"ABCDEF\",7");
  EXPECT_EQ(parse_byte_list(*c.ctx, 3), 3);  // characters beyond the limit are read over
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{'A', 'B', 'C'}));
  EXPECT_EQ(c.ctx->source.line.substr(c.ctx->source.pos), ",7");
}

TEST(ParameterLists, WordListStopsAtItsLimit) {
  CapturedContext c;
  parse_from(c, "300,-1,5");
  EXPECT_EQ(parse_word_list(*c.ctx, 2), 2);
  EXPECT_EQ(buffer_of(*c.ctx), (std::vector<int>{44, 1, 255, 255}));
  EXPECT_EQ(c.ctx->source.line.substr(c.ctx->source.pos), ",5");
  // A word list ends before a quote or a file name.
  parse_from(c, "1,2 <pic.bmp>");
  EXPECT_EQ(parse_word_list(*c.ctx, limits::list_unlimited), 2);
  EXPECT_EQ(c.ctx->source.line[c.ctx->source.pos], '<');
}

}  // namespace
}  // namespace vexa::command
