#include "command/constants.h"

#include <cctype>
#include <strings.h>

#include "base/format.h"
#include "command/codetable.h"
#include "command/context.h"
#include "command/encoder.h"
#include "command/expression.h"

namespace vexa::command {

namespace {

using command::current_char;
using command::report_error;

std::string key_of(std::string_view name) {
  std::string key(name.substr(0, base::limits::identifier_length));
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Formats value for !STR()!, !HEXSTR()! and !BINSTR()!, padded on the left to
// the width's magnitude (zeros for a positive width, blanks for a negative one).
std::string format_function(int kind, std::int32_t value, std::int32_t width) {
  std::string digits;
  if (kind == 0) {
    digits = vexa::base::format("%d", value);
  } else if (kind == 1) {
    digits = vexa::base::format("%X", static_cast<unsigned>(value));
  } else {
    std::uint32_t v = static_cast<std::uint32_t>(value);
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + (v & 1)));
      v >>= 1;
    } while (v != 0);
  }
  // The padded text is inserted through a 512-byte buffer; wider requests are
  // held to what that buffer can carry.
  std::int64_t magnitude = width < 0 ? -static_cast<std::int64_t>(width) : width;
  std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(magnitude, base::limits::expansion_buffer - 1));
  if (digits.size() < wanted) digits.insert(0, wanted - digits.size(), width > 0 ? '0' : ' ');
  return digits;
}

}  // namespace

Constants::Constants() {
  // The letters A to Z stand for their character codes until redefined.
  for (char c = 'A'; c <= 'Z'; ++c) {
    value_index[std::string(1, c)] = static_cast<int>(values.size());
    values.push_back({std::string(1, c), c});
  }
}

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

// reference -> '!' NAME '!' | '!' FUNCTION '(' value sep width ')' '!'
bool expand_string_constant(Context& ctx, std::string& text) {
  command::Source& src = ctx.source;
  text.clear();
  ++src.pos;  // '!'
  std::string name = read_identifier(ctx);
  char c = current_char(src);
  if (c == '!') {
    ++src.pos;
    const std::string* value = string_constant_text(ctx.constants, name);
    if (value == nullptr) {
      report_error(ctx, vexa::base::format("string-constant !%s! not defined !", name.c_str()));
      return false;
    }
    for (char v : *value) {
      if (text.size() >= base::limits::expansion_buffer - 1) break;
      text += static_cast<char>(command::translate(ctx, static_cast<std::uint8_t>(v)));
    }
    return !text.empty();
  }
  if (c != '(') {
    report_error(ctx, "string-constant syntax error e.g. !NAME!");
    return false;
  }
  ++src.pos;
  std::int32_t value = evaluate_argument(ctx);
  command::skip_blanks(src);
  if (!command::at_line_end(src)) ++src.pos;  // one separator character
  std::int32_t width = evaluate_argument(ctx);
  command::skip_blanks(src);
  if (current_char(src) != ')') {
    report_error(ctx, "missing closing bracket ')'");
  } else {
    ++src.pos;
  }
  if (current_char(src) != '!') {
    report_error(ctx, "string constant function syntax error e.g. !NAME(...)!");
    return false;
  }
  ++src.pos;
  int kind;
  if (::strcasecmp(name.c_str(), "STR") == 0) kind = 0;
  else if (::strcasecmp(name.c_str(), "HEXSTR") == 0) kind = 1;
  else if (::strcasecmp(name.c_str(), "BINSTR") == 0) kind = 2;
  else {
    report_error(ctx, vexa::base::format("unknown string constant function '%s()' !", name.c_str()));
    return false;
  }
  text = format_function(kind, value, width);
  return true;
}

// string-constant-line -> '!' NAME '!' ... '=' string-parameter
void string_constant_line(Context& ctx) {
  command::Source& src = ctx.source;
  ++src.pos;  // '!'
  std::string name = read_identifier(ctx);
  if (current_char(src) != '!') {
    report_error(ctx, "Wrong string-constant name (!NAME!)");
    return;
  }
  std::size_t equals = src.line.find('=', src.pos);
  if (equals == std::string::npos) {
    report_error(ctx, "Wrong string-constant definition !");
    return;
  }
  src.pos = equals + 1;
  ctx.command.length = 0;
  ctx.command.overflow = false;
  ctx.code_tables.enabled = false;
  int length = parse_string_param(ctx, base::limits::list_unlimited);
  ctx.code_tables.enabled = true;
  std::string text(reinterpret_cast<const char*>(ctx.command.bytes.data()), static_cast<std::size_t>(length - 1));
  ctx.command.length = 0;
  define_string_constant(ctx.constants, name, text);
}

}  // namespace vexa::command
