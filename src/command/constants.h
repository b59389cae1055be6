// Named integer constants and string constants of the macro language: the
// two tables and the operations that define, read and change their entries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "command/context.h"

namespace vexa::command {

// Updates or appends; false when the table is full (nothing stored).
bool define_constant(Constants& table, std::string_view name, std::int32_t value);
// The value; an unknown name reports "Constant "%s" not defined !" and gives 0.
std::int32_t constant_value(Context& ctx, std::string_view name);
// Compound assignment by operator character (the one before '='); returns and
// stores the new value.
std::int32_t assign_constant(Context& ctx, std::string_view name, std::int32_t value, char op);
// Adds step to the constant (++NAME, NAME--, ...).
void step_constant(Context& ctx, std::string_view name, int step);

bool define_string_constant(Constants& table, std::string_view name, std::string_view text);
const std::string* string_constant_text(const Constants& table, std::string_view name);
// Position of the string constant, or -1 after reporting it unknown.
int string_constant_index(Context& ctx, std::string_view name);

}  // namespace vexa::command
