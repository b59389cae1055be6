#include "command/constants.h"

#include <cctype>

#include "base/format.h"
#include "command/source.h"

namespace vexa::command {

namespace {

std::string key_of(std::string_view name) {
  std::string key(name.substr(0, base::limits::identifier_length));
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

}  // namespace

bool define_constant(Constants& table, std::string_view name, std::int32_t value) {
  std::string key = key_of(name);
  auto found = table.value_index.find(key);
  if (found != table.value_index.end()) {
    NamedValue& entry = table.values[static_cast<std::size_t>(found->second)];
    entry.value = value;
    entry.name = std::string(name.substr(0, base::limits::identifier_length));
    return true;
  }
  if (static_cast<int>(table.values.size()) >= base::limits::constants) return false;
  table.value_index.emplace(key, static_cast<int>(table.values.size()));
  table.values.push_back({std::string(name.substr(0, base::limits::identifier_length)), value});
  return true;
}

std::int32_t constant_value(Context& ctx, std::string_view name) {
  auto found = ctx.constants.value_index.find(key_of(name));
  if (found != ctx.constants.value_index.end()) return ctx.constants.values[static_cast<std::size_t>(found->second)].value;
  report_error(ctx, vexa::base::format("Constant \"%.*s\" not defined !", static_cast<int>(name.size()), name.data()));
  return 0;
}

std::int32_t assign_constant(Context& ctx, std::string_view name, std::int32_t value, char op) {
  std::int32_t old = constant_value(ctx, name);
  std::int32_t result = old;
  switch (op) {
    case '+': result = wrap(static_cast<std::int64_t>(old) + value); break;
    case '-': result = wrap(static_cast<std::int64_t>(old) - value); break;
    case '*': result = wrap(static_cast<std::int64_t>(old) * value); break;
    case '/':
      if (value == 0)
        report_error(ctx, "division by zero");
      else
        result = value == -1 ? wrap(-static_cast<std::int64_t>(old)) : old / value;
      break;
    case '&': result = old & value; break;
    case '|': result = old | value; break;
    case '^': result = old ^ value; break;
    case '<': result = static_cast<std::int32_t>(static_cast<std::uint32_t>(old) << (value & 31)); break;
    case '>': result = old >> (value & 31); break;
    default: report_error(ctx, vexa::base::format("unknown operand '%c='", op)); break;
  }
  define_constant(ctx.constants, name, result);
  return result;
}

void step_constant(Context& ctx, std::string_view name, int step) {
  std::int32_t value = constant_value(ctx, name);
  define_constant(ctx.constants, name, wrap(static_cast<std::int64_t>(value) + step));
}

bool define_string_constant(Constants& table, std::string_view name, std::string_view text) {
  std::string key = key_of(name);
  std::string stored(text.substr(0, text.find('\0')));
  auto found = table.text_index.find(key);
  if (found != table.text_index.end()) {
    table.texts[static_cast<std::size_t>(found->second)].text = std::move(stored);
    return true;
  }
  if (static_cast<int>(table.texts.size()) >= base::limits::string_constants) return false;
  table.text_index.emplace(key, static_cast<int>(table.texts.size()));
  table.texts.push_back({std::string(name.substr(0, base::limits::identifier_length)), std::move(stored)});
  return true;
}

const std::string* string_constant_text(const Constants& table, std::string_view name) {
  auto found = table.text_index.find(key_of(name));
  return found == table.text_index.end() ? nullptr : &table.texts[static_cast<std::size_t>(found->second)].text;
}

int string_constant_index(Context& ctx, std::string_view name) {
  auto found = ctx.constants.text_index.find(key_of(name));
  if (found != ctx.constants.text_index.end()) return found->second;
  report_error(ctx, vexa::base::format("string-constant !%.*s! not defined !", static_cast<int>(name.size()), name.data()));
  return -1;
}

}  // namespace vexa::command
