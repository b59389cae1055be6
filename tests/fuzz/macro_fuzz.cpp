// Fuzz target for the macro language: the bytes are a macro file, read
// through the dispatcher line by line and laid out; no upload file is
// written. The run is confined to a folder of the process's own: the macro
// file lies there (so that it can include itself), relative names are taken
// there, exports go there, and a name leading out of it is refused. The
// folder is emptied after every input, so that no input sees what an
// earlier one left, and removed at exit.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/paths.h"
#include "command/context.h"
#include "command/macros.h"
#include "command/source.h"
#include "driver/dataflash.h"
#include "driver/dispatch.h"

namespace {

// In TMPDIR, else in memory (/dev/shm) where the system has it: a file
// rewritten on every input would otherwise be written out to disk each time.
// Its name carries the process id: a process that ended on a finding (the
// fuzzing engine then leaves at once) left its folder behind, and the next
// one removes it.
struct Folder {
  std::string path;  // full, ending in '/'
  Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::error_code ec;
    const std::string base = tmp != nullptr && *tmp != '\0'                  ? tmp
                             : std::filesystem::is_directory("/dev/shm", ec) ? "/dev/shm"
                                                                             : "/tmp";
    const std::string prefix = "vexa-macro-fuzz-";
    for (const auto& entry : std::filesystem::directory_iterator(base, ec)) {
      const std::string name = entry.path().filename().string();
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const long owner = std::atol(name.c_str() + prefix.size());
      if (owner > 0 && ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH)
        std::filesystem::remove_all(entry.path(), ec);
    }
    std::string pattern = base + "/" + prefix + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path = vexa::base::full_path(pattern, vexa::base::current_directory()) + "/";
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  // Removes everything but the macro file, which the next input overwrites.
  void clear(const std::string& keep) const {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(path, ignored))
      if (entry.path() != keep) std::filesystem::remove_all(entry.path(), ignored);
  }
};

// Fontconfig's configuration is loaded once per process, and the font files
// are opened once: they and the rest of the font cache are lent to every
// input's context and taken back.
vexa::imagefiles::FontLibrary& shared_fonts() {
  static vexa::imagefiles::FontLibrary fonts;
  static const bool started = [] {
    std::string error;
    return vexa::imagefiles::start_font_library(fonts, error);
  }();
  (void)started;
  return fonts;
}

}  // namespace

// Fontconfig keeps what it builds while matching in the configuration, which
// here lives for the whole process, partly behind encoded pointers that the
// leak checker cannot follow: its blocks would be reported as leaked.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  static const Folder folder;
  const std::string path = folder.path + "fuzz.txt";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();

  auto ctx = std::make_unique<command::Context>();
  ctx->settings.root_folder = folder.path;
  ctx->settings.macro_directory = folder.path;
  // A file that includes itself is read ten levels deep, and a repeat count
  // reads a file again and again: the bound keeps an input to milliseconds.
  ctx->settings.max_source_lines = 5000;
  ctx->fonts.max_cell_height = 24;
  ctx->fonts.glyph_budget = 64;
  ctx->out.console = nullptr;
  ctx->out.input = nullptr;
  ctx->eval.random.seed(1);
  imagefiles::FontLibrary& fonts = shared_fonts();
  ctx->fonts.library = fonts.library;
  ctx->fonts.config = fonts.config;
  ctx->fonts.borrowed = true;
  ctx->fonts.cache = std::move(fonts.cache);

  if (command::open_source(*ctx, path, 1)) {
    while (ctx->source.current >= 0) {
      if (command::read_source_line(*ctx))
        driver::dispatch_line(*ctx);
      else if (!command::end_of_source(*ctx))
        break;
    }
    command::close_all_sources(*ctx);
  }
  command::close_macro(*ctx);
  driver::layout_image(*ctx);
  fonts.cache = std::move(ctx->fonts.cache);
  ctx.reset();
  folder.clear(path);
  return 0;
}
