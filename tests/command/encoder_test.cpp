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

TEST(Expression, AnyNestingALineCanCloseIsEvaluatedDeeperIsRefused) {
  test::CapturedContext c;
  // 995 pairs of brackets fill a line of 1998 characters.
  c.compile_lines("Macro 1\n#TP " + std::string(995, '(') + "1" + std::string(995, ')') + ",2;\nINFO " +
                  std::string(1990, '(') + "\n");
  EXPECT_EQ(test::macro_bytes(*c.ctx), (std::vector<std::uint8_t>{27, 'T', 'P', 1, 2}));
  EXPECT_EQ(c.console().find("--->LINE 2:"), std::string::npos);
  EXPECT_NE(c.console().find("--->LINE 3: expression nested too deeply !"), std::string::npos);
}

}  // namespace
}  // namespace vexa::command
