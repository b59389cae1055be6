#include "base/format.h"

#include <cstdarg>
#include <cstdio>

namespace vexa::base {

// Most texts are a line or less: they are formatted once into a buffer on the
// stack, and only a longer one is measured and formatted a second time.
std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  char line[256];
  const int needed = std::vsnprintf(line, sizeof line, fmt, args);
  va_end(args);
  std::string text;
  if (needed > 0 && static_cast<std::size_t>(needed) < sizeof line) {
    text.assign(line, static_cast<std::size_t>(needed));
  } else if (needed > 0) {
    text.resize(static_cast<std::size_t>(needed));
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
  }
  va_end(again);
  return text;
}

}  // namespace vexa::base
