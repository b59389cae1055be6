// Replay driver for the fuzz targets: runs LLVMFuzzerTestOneInput over every
// file named on the command line (folders are walked), so that saved inputs
// run as ordinary tests in every build, sanitizers included.
//
// With --damage first, every input is also run as damaged copies: cut at
// fixed points (inside the first headers, at quarters of the file, just
// before its end; a small input at every length) and with single bytes
// changed at pseudo-random places.
// The places depend only on the input's length, so every run tries the same
// copies; their number is fixed, so a large corpus stays quick.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

constexpr int changed_copies = 12;
constexpr std::size_t small_input = 64;  // cut at every length

// An empty input still gets a valid pointer, as the fuzzing engine gives it.
void run(const std::vector<std::uint8_t>& bytes) {
  static const std::uint8_t none = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
}

int replay_file(const std::filesystem::path& path, bool damage) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  run(bytes);
  if (!damage) return 1;
  const std::size_t n = bytes.size();
  std::vector<std::size_t> cuts = {0, 1, 8, 18, 33, n / 4, n / 2, n * 3 / 4, n - std::min<std::size_t>(n, 16), n - 1};
  for (std::size_t cut = 0; n <= small_input && cut < n; ++cut) cuts.push_back(cut);
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  int copies = 1;
  for (std::size_t cut : cuts)
    if (cut < n) {
      run(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
      ++copies;
    }
  std::uint32_t state = static_cast<std::uint32_t>(n) * 2654435761u + 12345u;
  for (int i = 0; i < changed_copies && n > 0; ++i, ++copies) {
    state = state * 1664525u + 1013904223u;
    std::vector<std::uint8_t> copy = bytes;
    // One bit, or the top bit too, so that lengths and counts also jump far.
    copy[(state >> 8) % n] ^= static_cast<std::uint8_t>(1u << ((state >> 4) & 7) | ((state & 1) ? 0x80 : 0));
    run(copy);
  }
  return copies;
}

}  // namespace

int main(int argc, char** argv) {
  int count = 0;
  const bool damage = argc > 1 && std::strcmp(argv[1], "--damage") == 0;
  for (int i = damage ? 2 : 1; i < argc; ++i) {
    // FOLDER/*.EXT takes the files of the folder whose names end in .EXT.
    std::filesystem::path path = argv[i];
    std::string ending;
    if (path.filename().string().starts_with("*")) {
      ending = path.filename().string().substr(1);
      path = path.parent_path();
    }
    if (std::filesystem::is_directory(path)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        if (entry.is_regular_file() && entry.path().string().ends_with(ending)) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) count += replay_file(f, damage);
    } else if (std::filesystem::exists(path)) {
      count += replay_file(path, damage);
    }
  }
  std::printf("replayed %d inputs\n", count);
  return 0;
}
