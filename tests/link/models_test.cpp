#include <gtest/gtest.h>

#include "link/models.h"

namespace vexa::link {
namespace {

TEST(ModelTable, SelectsTheLastRowWhoseWholeNameStartsTheText) {
  EXPECT_EQ(find_model("VexaG6 <demo>"), model_vexag6);
  EXPECT_EQ(find_model("vexag6"), model_vexag6);
  EXPECT_EQ(find_model("VEXAG8XYZ"), model_vexag8);
  EXPECT_EQ(find_model("Panel0"), -1);     // shorter than every name
  EXPECT_EQ(find_model("Panel10"), 9);
  EXPECT_EQ(find_model("VexaG"), -1);
  EXPECT_EQ(select_model(3, "nothing"), 3);  // no match keeps the selection
  EXPECT_EQ(select_model(-1, "Panel03 x"), 2);
}

TEST(ModelTable, BaudIndexIsThePositionInTheTable) {
  EXPECT_EQ(baud_index(1200), 0);
  EXPECT_EQ(baud_index(115200), 7);
  EXPECT_EQ(baud_index(460800), 9);
  EXPECT_EQ(baud_index(1000), -1);
  EXPECT_EQ(baud_index(0), -1);
}

}  // namespace
}  // namespace vexa::link
