// Named integer constants and string constants of the macro language.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vexa::command {

struct Context;

struct NamedValue {
  std::string name;  // spelling of the last definition
  std::int32_t value = 0;
};

struct NamedText {
  std::string name;
  std::string text;  // ends at its first byte 0
};

// Both tables keep definition order (the first match wins, indexes are
// positions); the maps find an entry by its upper-case name in constant time.
struct Constants {
  Constants();
  std::vector<NamedValue> values;
  std::unordered_map<std::string, int> value_index;
  std::vector<NamedText> texts;
  std::unordered_map<std::string, int> text_index;
};

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

// At a '!' in a byte list: reads the reference (a name or a function such as
// !STR(v,w)!) and returns its bytes in text. Returns false when there is
// nothing to insert (the reason is reported).
bool expand_string_constant(Context& ctx, std::string& text);

// A string-constant definition line (first character '!').
void string_constant_line(Context& ctx);

// Reads an identifier (letters, digits, '_') at the parse position.
std::string read_identifier(Context& ctx);

}  // namespace vexa::command
