// Fuzz target for the macro language: the bytes are a macro file, read
// through the dispatcher line by line and laid out; nothing is written.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "command/context.h"
#include "command/macros.h"
#include "command/source.h"
#include "driver/dataflash.h"
#include "driver/dispatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/vexa-macro-fuzz-" + std::to_string(::getpid()) + ".txt";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  // Exported macros go to a folder of their own, never into the working folder.
  static const std::string export_folder = [] {
    std::string folder = "/tmp/vexa-macro-fuzz-" + std::to_string(::getpid()) + "-exports/";
    ::mkdir(folder.c_str(), 0700);
    return folder;
  }();
  auto ctx = std::make_unique<vexa::command::Context>();
  ctx->settings.macro_directory = export_folder;
  ctx->out.console = std::fopen("/dev/null", "wb");
  ctx->out.input = nullptr;
  ctx->eval.random.seed(1);
  if (vexa::command::open_source(*ctx, path, 1)) {
    // A file that includes itself is read ten levels deep; a cap on the lines
    // keeps one input from running for long.
    for (int lines = 0; ctx->source.current >= 0 && lines < 100000; ++lines) {
      if (vexa::command::read_source_line(*ctx))
        vexa::driver::dispatch_line(*ctx);
      else if (!vexa::command::end_of_source(*ctx))
        break;
    }
    vexa::command::close_all_sources(*ctx);
  }
  vexa::command::close_macro(*ctx);
  vexa::driver::layout_image(*ctx);
  std::fclose(ctx->out.console);
  return 0;
}
