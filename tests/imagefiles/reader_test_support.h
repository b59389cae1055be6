// Helpers for the image reader tests: reading bytes with a reader, corpus
// listing, the consistency of a loaded image, and small 1-bit pictures
// written and read as text.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefiles/dispatch.h"
#include "pictures.h"
#include "resources/image.h"
#include "test_support.h"

namespace vexa::test {

using ByteList = std::vector<std::uint8_t>;
using Reader = int (*)(resources::ImageSet&, imagefiles::Bytes, const imagefiles::ReadOptions&);

inline int read_with(Reader reader, resources::ImageSet& set, const ByteList& file, int threshold = 128, int gamma = 0) {
  return reader(set, imagefiles::Bytes(file.data(), file.size()), imagefiles::ReadOptions{threshold, gamma});
}

// An input file of a golden project case (tests/projects/CASE/FILE).
inline ByteList fixture(const std::string& relative) {
  return read_bytes(std::string(VEXA_SOURCE_DIR) + "/tests/projects/" + relative);
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
  return image_from_art(Art(static_cast<std::size_t>(h), std::string(static_cast<std::size_t>(w), 'c')), 24, Legend{{'c', c}});
}

// Raw values of every pixel, top row first.
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
    std::string name = entry.path().string(), lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (entry.is_regular_file() && lower.ends_with(extension)) files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// A loaded image's derived fields agree with its block.
inline void expect_consistent(const resources::Image& image, const std::string& label) {
  resources::Image copy = image;
  ASSERT_FALSE(resources::is_empty(copy)) << label;
  EXPECT_TRUE(resources::refresh_layout(copy)) << label;
  EXPECT_EQ(copy.dib_size, image.dib_size) << label;
  EXPECT_EQ(copy.dib.size(), image.dib_size) << label;
}

}  // namespace vexa::test
