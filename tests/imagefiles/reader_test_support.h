// Helpers for the image reader tests: reading bytes with a reader, the
// input files of golden cases, corpus listing, and the consistency of a
// loaded image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imagefiles/dispatch.h"
#include "imagefiles/image.h"
#include "pictures.h"
#include "test_support.h"

namespace vexa::test {

using ByteList = std::vector<std::uint8_t>;
using Reader = int (*)(imagefiles::ImageSet&, imagefiles::Bytes, const imagefiles::ReadOptions&);

inline int read_with(Reader reader, imagefiles::ImageSet& set, const ByteList& file, int threshold = 128, int gamma = 0) {
  return reader(set, imagefiles::Bytes(file.data(), file.size()), imagefiles::ReadOptions{threshold, gamma});
}

// An input file of a golden project case (tests/projects/CASE/FILE).
inline ByteList fixture(const std::string& relative) {
  return read_bytes(std::string(VEXA_SOURCE_DIR) + "/tests/projects/" + relative);
}

// Raw values of every pixel, top row first.
inline std::vector<unsigned> values_of(const imagefiles::Image& image) {
  std::vector<unsigned> v;
  for (int y = 0; y < imagefiles::image_height(image); ++y)
    for (int x = 0; x < imagefiles::image_width(image); ++x) v.push_back(imagefiles::pixel_value(image, x, y));
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
inline void expect_consistent(const imagefiles::Image& image, const std::string& label) {
  imagefiles::Image copy = image;
  ASSERT_FALSE(imagefiles::is_empty(copy)) << label;
  EXPECT_TRUE(imagefiles::refresh_layout(copy)) << label;
  EXPECT_EQ(copy.dib_size, image.dib_size) << label;
  EXPECT_EQ(copy.dib.size(), image.dib_size) << label;
}

}  // namespace vexa::test
