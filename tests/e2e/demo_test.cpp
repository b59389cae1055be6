// The bundled demo project is what `make run` compiles for a new user: it
// must keep compiling without a single error on every change.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/format.h"
#include "test_support.h"

namespace vexa {
namespace {

TEST(DemoProject, CompilesWithoutErrors) {
  test::TempDir root;
  std::filesystem::copy(std::string(VEXA_SOURCE_DIR) + "/examples/demo", root.path,
                        std::filesystem::copy_options::recursive);
  auto r = test::run_vexac({"demo.txt"}, root.path);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Write DATA-FLASH Upload File demo.DF\r\n"), std::string::npos) << r.out;
  EXPECT_TRUE(test::file_exists(root.file("demo.DF")));
  // Every kind of resource the demo shows off is stored.
  for (const char* kind : {"Strings", "Fonts", "Pattern", "Border", "Buttons", "Pictures", "Animations", "Instruments"})
    EXPECT_EQ(r.out.find(vexa::base::format("   0 %s:", kind)), std::string::npos) << kind;
}

}  // namespace
}  // namespace vexa
