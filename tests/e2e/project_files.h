// Helpers of the end-to-end tests: small pictures for the projects they
// compile, and a search for a block inside an object file.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "../imagefiles/bmp_files.h"

namespace vexa::test {

// A 24-bit BMP of rows given top first, one letter a pixel: R red, B blue,
// W white.
inline ByteList letter_bmp(const std::vector<std::string>& rows) {
  BmpSpec spec;
  spec.width = static_cast<int>(rows[0].size());
  spec.height = static_cast<int>(rows.size());
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    ByteList bytes;
    for (char c : *row) {
      if (c == 'R') bytes.insert(bytes.end(), {0, 0, 255});
      if (c == 'B') bytes.insert(bytes.end(), {255, 0, 0});
      if (c == 'W') bytes.insert(bytes.end(), {255, 255, 255});
    }
    bytes.resize((bytes.size() + 3) / 4 * 4, 0);
    spec.pixels.insert(spec.pixels.end(), bytes.begin(), bytes.end());
  }
  return bmp_file(spec);
}

inline bool contains(const ByteList& haystack, const ByteList& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

}  // namespace vexa::test
