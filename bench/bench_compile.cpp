// Compile throughput: a generated macro file of 100,000 display command lines
// in 2,000 macros is compiled by the vexac program; reports lines per second
// and the program's peak memory.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "compile_runs.h"

namespace {

constexpr int macros = 2000;
constexpr int lines_per_macro = 50;

std::string generate() {
  std::string text = "VexaG6 <Bench>\nX = 10\nY = 20\n!T! = \"bench\"\n";
  const char* commands[] = {"#TP X+1,Y*2;", "#ZL 10,20,\"Hello world\";", "#RR 0,0,479,271;",
                            "#DL;", "#AT 10,40,150,80,1,0,!T!;", "#FZ 2,1;", "#GD 1,2,3,4;",
                            "#%A 1,2,3,4,5,6,7,8;", "#TC X&1;", "#BR 1,10,20,200,30,0,100,1;"};
  for (int m = 0; m < macros; ++m) {
    text += "Macro " + std::to_string(m % 256) + " [" + std::to_string(m / 256) + "]\n";
    for (int i = 0; i < lines_per_macro; ++i) {
      text += commands[(m + i) % 10];
      text += '\n';
    }
  }
  return text;
}

}  // namespace

int main() {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("vexa-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string text = generate();
  std::ofstream(dir / "bench.txt", std::ios::binary) << text;
  const int lines = 4 + macros * (lines_per_macro + 1);

  vexa::bench::CompileRuns r;
  const bool ok = vexa::bench::time_compiles(dir, "bench.txt", 5, r);
  std::filesystem::remove_all(dir);
  if (!ok) return 1;
  std::printf("compile: %d lines in %d macros, best of 5: %.3f s wall (%.2f million lines/s), %.3f s cpu "
              "(%.2f million lines/s), peak memory %.1f MB, upload %ju bytes\n",
              lines, macros, r.wall_seconds, lines / r.wall_seconds / 1e6, r.cpu_seconds, lines / r.cpu_seconds / 1e6,
              r.peak_mb, r.upload_bytes);
  std::printf("targets: >= 2 million lines/s, < 40 MB\n");
  return 0;
}
