// The constant tables hold at most 5000 entries; a full table still takes
// new values for the names it has. (5000 definition lines are no case for
// the project corpus.)
#include <gtest/gtest.h>

#include "command/constants.h"

namespace vexa::command {
namespace {

TEST(Constants, TablesHoldAtMost5000Entries) {
  Constants table;  // A to Z are already there
  for (int i = 0; i < 4974; ++i) ASSERT_TRUE(define_constant(table, "C" + std::to_string(i), i));
  EXPECT_FALSE(define_constant(table, "ONE_TOO_MANY", 1));
  EXPECT_TRUE(define_constant(table, "c17", 99));
  EXPECT_EQ(table.values[static_cast<std::size_t>(table.value_index["C17"])].value, 99);

  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(define_string_constant(table, "S" + std::to_string(i), "x"));
  EXPECT_FALSE(define_string_constant(table, "ONE_TOO_MANY", "y"));
  EXPECT_TRUE(define_string_constant(table, "s9", "new"));
  EXPECT_EQ(*string_constant_text(table, "S9"), "new");
}

}  // namespace
}  // namespace vexa::command
