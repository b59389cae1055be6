// The program on a terminal, as a user runs it from a shell: nothing ever
// waits for a line that nobody types, and errors are coloured.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace vexa {
namespace {

TEST(Terminal, NothingWaitsForALine) {
  test::TempDir dir;
  test::write_file(dir.file("bad.txt"), "VexaG6\r\nFOO\r\n");
  test::write_file(dir.file("sim.txt"), "VexaG6\r\nSIMULATION <missing-simulator>\r\n");
  test::write_file(dir.file("port.txt"), "VexaG6\r\nAUTOSCAN 0\r\n");

  auto errors = test::run_on_terminal({"bad.txt"}, dir.path);
  EXPECT_EQ(errors.exit_code, 1) << errors.out;
  EXPECT_NE(errors.out.find("\x1b[91m--->ERROR in file <bad.txt>"), std::string::npos) << errors.out;
  EXPECT_NE(errors.out.find("---> see File <bad.log>"), std::string::npos);
  EXPECT_EQ(errors.out.find("RETURN"), std::string::npos);

  auto simulator = test::run_on_terminal({"sim.txt"}, dir.path);
  EXPECT_EQ(simulator.exit_code, 2) << simulator.out;
  EXPECT_NE(simulator.out.find("ERROR: cannot open " + dir.file("missing-simulator")), std::string::npos) << simulator.out;

  // A port nobody answers on: the search gives up and the run ends.
  auto programming = test::run_on_terminal({"port.txt", "-c/dev/null/none"}, dir.path);
  EXPECT_EQ(programming.exit_code, 2) << programming.out;
  EXPECT_EQ(programming.out.find("RETURN"), std::string::npos);

  // The file name prompt still reads the terminal; here nobody answers it
  // and the run is still waiting when the time is up.
  auto prompt = test::run_on_terminal({}, dir.path, {}, 500);
  EXPECT_EQ(prompt.exit_code, -1);
  EXPECT_NE(prompt.out.find("Filename: "), std::string::npos);
}

}  // namespace
}  // namespace vexa
