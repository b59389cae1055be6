// Shared helpers of the test programs: temporary folders, files, running the
// compiler, and a context whose console output is captured.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "command/context.h"

namespace vexa::test {

// A fresh folder under the system's temporary directory, removed afterwards.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path;  // ends without '/'
  std::string file(const std::string& name) const { return path + "/" + name; }
};

void write_file(const std::string& path, const std::string& bytes);
void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string read_file(const std::string& path);
std::vector<std::uint8_t> read_bytes(const std::string& path);
bool file_exists(const std::string& path);

// Path of a corpus file (VEXA_TESTDATA/relative), or empty when the corpora
// are not present; an absolute path stays as it is.
std::string testdata(const std::string& relative);

// A context whose console goes to a memory buffer and whose console input is
// empty, with a temporary folder for the files a test compiles.
struct CapturedContext {
  CapturedContext();
  ~CapturedContext();
  CapturedContext(const CapturedContext&) = delete;
  CapturedContext& operator=(const CapturedContext&) = delete;
  std::string console();  // everything written so far
  // Writes text as dir/name and reads it through the dispatcher, line by
  // line, like the run's line loop (nothing is closed or laid out).
  void compile_lines(const std::string& text, const std::string& name = "test.txt");
  // Errors counted so far.
  int errors() const { return ctx->out.error_count; }
  TempDir dir;
  std::unique_ptr<command::Context> ctx;
  char* buffer = nullptr;
  std::size_t size = 0;
};

// The bytes of the macro work area written so far.
std::vector<std::uint8_t> macro_bytes(const command::Context& ctx);

struct ProcessResult {
  int exit_code = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs a program with arguments in a working directory; standard input is the
// file stdin_path, or empty.
ProcessResult run_process(const std::vector<std::string>& argv, const std::string& directory,
                          const std::vector<std::string>& extra_env = {}, const std::string& stdin_path = {});
// Runs build/vexac.
ProcessResult run_vexac(const std::vector<std::string>& args, const std::string& directory,
                        const std::vector<std::string>& extra_env = {}, const std::string& stdin_path = {});

// Runs build/vexac with a pseudo-terminal as standard input and output and
// reads what it prints until it ends. A run still going after the time limit
// is killed and reported as exit code -1: it was waiting.
ProcessResult run_on_terminal(const std::vector<std::string>& args, const std::string& directory,
                              const std::vector<std::string>& env = {}, int limit_ms = 20000);

}  // namespace vexa::test
