// Helpers for the image reader tests: corpus listing, the independent
// reference decoder (python3-pil through decode_reference.py), comparison of
// a decoded image with reference pixels, damaged copies of files for the
// robustness runs, and small pictures written and read as text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/format.h"
#include "imagefiles/dispatch.h"
#include "resources/image.h"
#include "test_support.h"

namespace vexa::test {

using ByteList = std::vector<std::uint8_t>;
using Reader = int (*)(resources::ImageSet&, imagefiles::Bytes, const imagefiles::ReadOptions&);

inline int read_with(Reader reader, resources::ImageSet& set, const ByteList& file, int threshold = 128, int gamma = 0) {
  imagefiles::ReadOptions options;
  options.alpha_threshold = threshold;
  options.gamma = gamma;
  return reader(set, imagefiles::Bytes(file.data(), file.size()), options);
}

// A picture's rows as text: '#' for a non-zero pixel value, '.' for zero.
inline std::vector<std::string> mono_rows(const resources::Image& image) {
  std::vector<std::string> rows;
  for (int y = 0; y < resources::image_height(image); ++y) {
    std::string row;
    for (int x = 0; x < resources::image_width(image); ++x) row += resources::pixel_value(image, x, y) ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

// A 1-bit picture from rows of '#' (ink) and '.'.
inline resources::Image mono_image(const std::vector<std::string>& rows) {
  resources::Image image;
  EXPECT_TRUE(resources::create_image(image, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 1));
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x)
      if (rows[y][x] == '#') resources::row_pointer(image, static_cast<int>(y))[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  return image;
}

inline resources::Image solid_image(int w, int h, resources::Bgr c) {
  resources::Image image;
  EXPECT_TRUE(resources::create_image(image, w, h, 24));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = resources::row_pointer(image, y) + 3 * x;
      p[0] = c.blue;
      p[1] = c.green;
      p[2] = c.red;
    }
  return image;
}

// Colours and raw values of every pixel, top row first.
inline std::vector<resources::Bgr> colours_of(const resources::Image& image) {
  std::vector<resources::Bgr> v;
  for (int y = 0; y < resources::image_height(image); ++y)
    for (int x = 0; x < resources::image_width(image); ++x) v.push_back(resources::pixel_colour(image, x, y));
  return v;
}
inline std::vector<unsigned> values_of(const resources::Image& image) {
  std::vector<unsigned> v;
  for (int y = 0; y < resources::image_height(image); ++y)
    for (int x = 0; x < resources::image_width(image); ++x) v.push_back(resources::pixel_value(image, x, y));
  return v;
}

// Files under a corpus folder (recursively) whose names end in extension
// (lower case compared), sorted; empty when the corpora are absent.
inline std::vector<std::string> corpus_files(const std::string& folder, const std::string& extension) {
  std::vector<std::string> files;
  std::string root = testdata(folder);
  if (root.empty() || !std::filesystem::is_directory(root)) return files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::string name = entry.path().string();
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.size() >= extension.size() && lower.compare(lower.size() - extension.size(), extension.size(), extension) == 0)
      files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string base_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

// Pixels as the reference decoder sees them: 8-bit red, green, blue, alpha
// per pixel, top row first. ok is false when the decoder refused the file.
struct ReferencePicture {
  bool ok = false;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;
  std::uint8_t channel(int x, int y, int c) const { return rgba[(static_cast<std::size_t>(y) * width + x) * 4 + c]; }
};

inline std::vector<std::uint8_t> from_hex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) bytes.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

// Decodes every path with the reference decoder in one run.
inline std::map<std::string, ReferencePicture> decode_reference(const std::vector<std::string>& paths) {
  std::map<std::string, ReferencePicture> result;
  if (paths.empty()) return result;
  std::vector<std::string> argv = {"/usr/bin/python3", std::string(VEXA_SOURCE_DIR) + "/tests/imagefiles/decode_reference.py"};
  argv.insert(argv.end(), paths.begin(), paths.end());
  ProcessResult run = run_process(argv, ".");
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::istringstream lines(run.out);
  for (const std::string& path : paths) {
    std::string line;
    ReferencePicture picture;
    if (!std::getline(lines, line)) break;
    if (line.rfind("error", 0) != 0) {
      std::istringstream size(line);
      size >> picture.width >> picture.height;
      std::string hex;
      std::getline(lines, hex);
      picture.rgba = from_hex(hex);
      picture.ok = picture.rgba.size() == static_cast<std::size_t>(picture.width) * picture.height * 4;
    }
    result[path] = picture;
  }
  return result;
}

// Compares slot 1 of a decoded set with reference pixels. Pixels the
// reference calls transparent (alpha below threshold) must show the set's key
// colour; all others must show expected(reference colour) and, when the set
// has a key, must not show the key. Returns the number of mismatches (the
// first few are reported).
inline int compare_with_reference(const resources::ImageSet& set, const ReferencePicture& reference, int threshold,
                                  const std::function<resources::Bgr(resources::Bgr)>& expected,
                                  const std::string& label) {
  const resources::Image& image = set.images[1];
  EXPECT_EQ(resources::image_width(image), reference.width) << label;
  EXPECT_EQ(resources::image_height(image), reference.height) << label;
  if (resources::image_width(image) != reference.width || resources::image_height(image) != reference.height) return 1;
  auto text = [](resources::Bgr c) { return format("%d,%d,%d", c.red, c.green, c.blue); };
  const bool keyed = set.transparent == 1;
  int mismatches = 0;
  for (int y = 0; y < reference.height; ++y)
    for (int x = 0; x < reference.width; ++x) {
      resources::Bgr ours = resources::pixel_colour(image, x, y);
      resources::Bgr want = resources::rgb(reference.channel(x, y, 0), reference.channel(x, y, 1), reference.channel(x, y, 2));
      bool clear = reference.channel(x, y, 3) < threshold;
      bool good = clear ? keyed && ours == set.transparent_colour
                        : ours == (want = expected(want)) && !(keyed && ours == set.transparent_colour);
      if (!good && ++mismatches <= 3)
        ADD_FAILURE() << label << " pixel (" << x << "," << y << ")" << (clear ? " transparent" : "") << ": ours "
                      << text(ours) << " expected " << text(want) << " key " << text(set.transparent_colour)
                      << " transparent " << set.transparent;
    }
  return mismatches;
}

inline resources::Bgr same_colour(resources::Bgr c) { return c; }

// Deterministic damaged copies of a file: truncations at fixed fractions and
// near both ends, and copies with one byte XOR-ed at pseudo-random places
// (the same places on every run).
inline std::vector<std::vector<std::uint8_t>> damaged_copies(const std::vector<std::uint8_t>& bytes, int flips) {
  std::vector<std::vector<std::uint8_t>> copies;
  std::size_t n = bytes.size();
  for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{8}, std::size_t{18}, std::size_t{33}, n / 4, n / 2,
                          n - std::min<std::size_t>(n, 16), n - std::min<std::size_t>(n, 1)})
    if (cut < n) copies.emplace_back(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
  std::uint32_t state = static_cast<std::uint32_t>(n) * 2654435761u + 12345u;
  for (int i = 0; i < flips && n > 0; ++i) {
    state = state * 1664525u + 1013904223u;
    std::vector<std::uint8_t> copy = bytes;
    copy[(state >> 8) % n] ^= static_cast<std::uint8_t>(1u << ((state >> 4) & 7) | ((state & 1) ? 0x80 : 0));
    copies.push_back(std::move(copy));
  }
  return copies;
}

// After a successful read the image must be internally consistent.
inline void expect_consistent(const resources::ImageSet& set, const std::string& label) {
  resources::Image copy = set.images[1];
  ASSERT_FALSE(resources::is_empty(copy)) << label;
  std::uint32_t size = copy.dib_size;
  EXPECT_TRUE(resources::refresh_layout(copy)) << label;
  EXPECT_EQ(copy.dib_size, size) << label;
  EXPECT_EQ(copy.dib.size(), size) << label;
}

// A damaged file either loads into a consistent image or leaves the set
// empty; never half of each. Returns whether it loaded.
inline bool check_damaged_read(int result, const resources::ImageSet& set, const std::string& label) {
  if (result != 1) {
    EXPECT_TRUE(resources::is_empty(set.images[1])) << label;
    return false;
  }
  expect_consistent(set, label);
  return true;
}

}  // namespace vexa::test
