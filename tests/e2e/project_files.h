// Helpers of the end-to-end tests: a search for a block inside an object file.
#pragma once

#include <algorithm>

#include "pictures.h"

namespace vexa::test {

inline bool contains(const ByteList& haystack, const ByteList& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

}  // namespace vexa::test
