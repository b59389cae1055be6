// One run of the compiler, from the command line to the exit code.
#pragma once

#include <string>
#include <vector>

namespace vexa::command {
struct Context;
}

namespace vexa::driver {

// The process entry: --help, --version, --dump-image, or a compile or
// programming run. Returns the exit code.
int run_program(int argc, char** argv);

// A compile or programming run with the classic command line (arguments
// without the program name). Returns the exit code.
int run(command::Context& ctx, const std::vector<std::string>& args);

}  // namespace vexa::driver
