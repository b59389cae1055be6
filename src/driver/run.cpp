#include "driver/run.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "driver/context.h"
#include "imagefiles/dump.h"

namespace vexa::driver {

int run(Context&, const std::vector<std::string>&) { return 0; }

int run_program(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("vexac %s\n", VEXAC_VERSION);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--dump-image") == 0)
    return imagefiles::dump_image_command(std::vector<std::string>(argv + 2, argv + argc));
  auto ctx = std::make_unique<Context>();
  std::vector<std::string> args(argv + 1, argv + argc);
  return run(*ctx, args);
}

}  // namespace vexa::driver
