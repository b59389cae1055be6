// Functions of the expression language that measure resources compiled
// earlier in the run: the size of a picture, animation, button or instrument,
// and the size of a text drawn in a compiled font.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexa::command {

struct Context;

// When name is one of the measuring functions, computes it into result and
// returns true; count is the number of arguments written (values holds them).
bool measure_function(Context& ctx, const std::string& name, const std::vector<std::int32_t>& values, int count,
                      std::int32_t& result);

}  // namespace vexa::command
