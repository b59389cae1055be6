// What the project corpus cannot reach: the small panel models (no model line
// names them) with their shorter strings, and expressions nested deeper than
// the evaluator allows.
#include <gtest/gtest.h>

#include "test_support.h"

namespace vexa::command {
namespace {

TEST(Encoder, PanelModelsHaveShorterStrings) {
  // Panel03 allows strings of 31 bytes with their terminator.
  const std::string thirty(30, 'x');
  const struct {
    std::string line;
    bool accepted;
  } cases[] = {
      {"#ZL 0,0,\"" + thirty + "\";", true},
      {"#ZL 0,0,\"" + thirty + "x\";", false},
      {"#ZB 0,0,10,10,1,\"" + thirty + "x\";", false},
  };
  for (const auto& k : cases) {
    test::CapturedContext c;
    c.ctx->settings.model = 2;
    c.compile_lines("Macro 1\n" + k.line + "\n");
    EXPECT_EQ(test::macro_bytes(*c.ctx).empty(), !k.accepted) << k.line;
  }
}

TEST(Expression, DeepNestingIsRefusedNotCrashed) {
  test::CapturedContext c;
  std::string calls;
  for (int i = 0; i < 1000; ++i) calls += "LO(";
  c.compile_lines("INFO " + std::string(1990, '(') + "\nINFO " + calls + "1\n");
  EXPECT_NE(c.console().find("--->LINE 1: expression nested too deeply !"), std::string::npos);
  EXPECT_NE(c.console().find("--->LINE 2: expression nested too deeply !"), std::string::npos);
}

}  // namespace
}  // namespace vexa::command
