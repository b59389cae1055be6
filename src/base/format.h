// printf-style formatting into a std::string. The program's message texts are
// printf formats; keeping them in that form lets each text be read exactly as
// the user sees it.
#pragma once

#include <string>

namespace vexa::base {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vexa::base
