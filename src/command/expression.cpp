#include "command/expression.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "command/constants.h"
#include "command/measure.h"
#include "command/source.h"

namespace vexa::command {

namespace {

// Brackets nested deeper than this are refused; the recursion must stay far
// from the stack's end whatever the input. A source line of 1999 characters
// holds at most 999 pairs of brackets, so no line that closes them reaches it.
constexpr int max_depth = 1000;

std::int32_t wrap(std::int64_t v) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(v)); }

// Truncating division without the one overflowing case of two's complement.
std::int32_t divide(std::int32_t a, std::int32_t b) {
  if (b == -1) return wrap(-static_cast<std::int64_t>(a));
  return a / b;
}
std::int32_t remainder(std::int32_t a, std::int32_t b) { return b == -1 ? 0 : a % b; }

bool is_identifier_start(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool is_identifier_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

void skip(Context& ctx) { command::skip_blanks(ctx.source); }

std::int32_t parse_or(Context& ctx);

// Reads digits of the given base; blanks between digits are skipped, so
// "1 2" is 12 and "$1 F" is 31.
std::int32_t read_number(Context& ctx, int base) {
  command::Source& src = ctx.source;
  std::uint32_t value = 0;
  while (true) {
    std::size_t look = src.pos;
    while (look < src.line.size() && command::is_blank(src.line[look])) ++look;
    char c = char_at(src, look);
    int digit = base == 16 ? hex_digit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (digit < 0 || digit >= base) break;
    value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(digit);
    src.pos = look + 1;
  }
  return static_cast<std::int32_t>(value);
}

struct Arguments {
  std::vector<std::int32_t> values;
  int count = 0;  // may exceed values.size() when more than the limit were written
};

// function-call -> NAME '(' [ arg { ',' arg } ] ')'      arg -> '!' NAME '!' | expression
Arguments read_arguments(Context& ctx) {
  command::Source& src = ctx.source;
  Arguments args;
  ++src.pos;  // '('
  skip(ctx);
  if (current_char(src) == ')') {
    ++src.pos;
    return args;
  }
  while (true) {
    skip(ctx);
    std::int32_t value;
    if (current_char(src) == '!') {
      ++src.pos;
      std::string name = read_identifier(ctx);
      if (current_char(src) == '!') ++src.pos;
      value = -string_constant_index(ctx, name);
    } else {
      value = parse_or(ctx);
    }
    if (args.count < base::limits::function_arguments) args.values.push_back(value);
    ++args.count;
    skip(ctx);
    if (current_char(src) == ',') {
      ++src.pos;
      continue;
    }
    if (current_char(src) == ')')
      ++src.pos;
    else
      report_error(ctx, "missing closing bracket ')'");
    break;
  }
  return args;
}

std::int32_t trig(int function, std::int32_t angle, std::int32_t radius) {
  constexpr double pi = 3.14159265358979323846;
  double radians = angle / 10.0 * pi / 180.0;
  double f = function == 0 ? std::sin(radians) : function == 1 ? std::cos(radians) : std::tan(radians);
  double v = std::trunc(f * radius);
  // A tangent near 90 degrees leaves the 32-bit range; the value saturates
  // instead of being undefined.
  if (!(v == v)) return 0;
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(v);
}

std::int32_t random_value(Context& ctx, std::int32_t low, std::int32_t high, std::int32_t step) {
  Evaluator& ev = ctx.eval;
  if (low > high) std::swap(low, high);
  std::int64_t window_low = low, window_high = high;
  if (step != 0) {
    window_low = std::max<std::int64_t>(low, static_cast<std::int64_t>(ev.last_random) - step);
    window_high = std::min<std::int64_t>(high, static_cast<std::int64_t>(ev.last_random) + step);
  }
  std::int64_t span = static_cast<std::int64_t>(high) - low + 1;
  // A window holding nothing but the last value (or nothing at all) would
  // make the draw loop endless: the draws are bounded, and afterwards the
  // first value of the window other than the last one is taken, or the last
  // value again when there is none.
  for (int attempt = 0; attempt < 10000; ++attempt) {
    double fraction = ev.random() / 4294967296.0;
    std::int64_t r = low + static_cast<std::int64_t>(static_cast<double>(span) * fraction);
    if (r != ev.last_random && r >= window_low && r <= window_high) {
      ev.last_random = static_cast<std::int32_t>(r);
      return ev.last_random;
    }
  }
  for (std::int64_t r = window_low; r <= window_high; ++r)
    if (r != ev.last_random) {
      ev.last_random = static_cast<std::int32_t>(r);
      return ev.last_random;
    }
  return ev.last_random;
}

// A call of a built-in function: the name as written and the evaluated
// arguments, their count already checked against the function's row.
struct Call {
  std::string_view name;
  std::span<const std::int32_t> a;
};

std::int32_t modulo(Context& ctx, const Call& call) {
  // The remainder by zero follows the division operator: reported, and
  // taken by 1 instead.
  if (call.a[1] == 0) {
    report_error(ctx, "division by zero");
    return 0;
  }
  return remainder(call.a[0], call.a[1]);
}

// The sum of the arguments divided by their count, truncated toward zero.
// The sum is 32-bit and wraps, as every other addition does.
std::int32_t average(Context&, const Call& call) {
  std::int32_t sum = 0;
  for (std::int32_t value : call.a) sum = wrap(static_cast<std::int64_t>(sum) + value);
  return divide(sum, static_cast<std::int32_t>(call.a.size()));
}

// The last letter of a size function's name: W for the width, any other for
// the height.
bool wants_width(const Call& call) { return std::toupper(static_cast<unsigned char>(call.name.back())) == 'W'; }

template <ResourceKind kind>
std::int32_t size_of(Context& ctx, const Call& call) {
  return resource_size(ctx, kind, call.name, wants_width(call), call.a);
}

struct Builtin {
  std::string_view name;  // a final '?' stands for any one character (the W or H of a size)
  int min_arguments;
  int max_arguments;
  std::int32_t (*evaluate)(Context& ctx, const Call& call);
  const char* wrong_count = nullptr;  // its own message for another count of arguments
};

// The built-in functions, found by name without regard to case; the first
// row that matches is taken.
constexpr Builtin builtins[] = {
    {"LO", 1, 1, [](Context&, const Call& c) { return c.a[0] & 255; }},
    {"HI", 1, 1, [](Context&, const Call& c) { return (c.a[0] >> 8) & 255; }},
    {"GET_R", 1, 1, [](Context&, const Call& c) { return (c.a[0] >> 16) & 255; }},
    {"GET_G", 1, 1, [](Context&, const Call& c) { return (c.a[0] >> 8) & 255; }},
    {"GET_B", 1, 1, [](Context&, const Call& c) { return c.a[0] & 255; }},
    {"SET_RGB", 3, 3,
     [](Context&, const Call& c) { return (c.a[0] & 255) * 65536 + (c.a[1] & 255) * 256 + (c.a[2] & 255); }},
    {"MOD", 2, 2, modulo},
    {"SIN", 2, 2, [](Context&, const Call& c) { return trig(0, c.a[0], c.a[1]); }},
    {"COS", 2, 2, [](Context&, const Call& c) { return trig(1, c.a[0], c.a[1]); }},
    {"TAN", 2, 2, [](Context&, const Call& c) { return trig(2, c.a[0], c.a[1]); }},
    {"MIN", 2, base::limits::function_arguments,
     [](Context&, const Call& c) { return *std::min_element(c.a.begin(), c.a.end()); }},
    {"MAX", 2, base::limits::function_arguments,
     [](Context&, const Call& c) { return *std::max_element(c.a.begin(), c.a.end()); }},
    {"AVG", 2, base::limits::function_arguments, average},
    {"RANDOM", 2, 3,
     [](Context& ctx, const Call& c) { return random_value(ctx, c.a[0], c.a[1], c.a.size() == 3 ? c.a[2] : 0); }},
    {"STRING_P", 6, 6, [](Context&, const Call& c) { return pack_text_parameters(c.a); },
     "wrong number of parameter! STRING_P(zoomX,zoomY,addwidth,addheight,space,stringcode)"},
    {"STRING_?", 3, 4, [](Context& ctx, const Call& c) { return text_size(ctx, wants_width(c), c.a); },
     "wrong number of parameter! STRING_W/H(str,par,font[,page])"},
    {"PICTURE_?", 1, 2, size_of<kind_pictures>},
    {"ANIMATION_?", 1, 2, size_of<kind_animations>},
    {"BUTTON_?", 1, 2, size_of<kind_buttons>},
    {"INSTRUMENT_?", 1, 2, size_of<kind_instruments>},
};

bool name_matches(std::string_view pattern, std::string_view name) {
  if (name.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (pattern[i] != '?' && pattern[i] != std::toupper(static_cast<unsigned char>(name[i]))) return false;
  return true;
}

std::int32_t call_function(Context& ctx, const std::string& name, const Arguments& args) {
  for (const Builtin& row : builtins) {
    if (!name_matches(row.name, name)) continue;
    if (args.count < row.min_arguments || args.count > row.max_arguments) {
      report_error(ctx, row.wrong_count != nullptr ? std::string(row.wrong_count)
                                                   : vexa::base::format("%s(): wrong number of parameters!", name.c_str()));
      return 0;
    }
    return row.evaluate(ctx, Call{name, args.values});
  }
  report_error(ctx, vexa::base::format("unknown function \"%s()\"!", name.c_str()));
  return 0;
}

// operand -> '(' expr ')' | '%' bits | '$' hex | digits | ('++'|'--') NAME
//          | NAME ('++'|'--') | NAME '(' args ')' | NAME
// A prefix sign (one of - + ~) may stand before any operand.
std::int32_t parse_operand_at(Context& ctx);

std::int32_t parse_operand(Context& ctx) {
  command::Source& src = ctx.source;
  if (ctx.eval.depth >= max_depth) {
    report_error(ctx, "expression nested too deeply !");
    src.pos = src.line.size();
    return 0;
  }
  ++ctx.eval.depth;
  std::int32_t value = parse_operand_at(ctx);
  --ctx.eval.depth;
  return value;
}

std::int32_t parse_operand_at(Context& ctx) {
  command::Source& src = ctx.source;
  skip(ctx);
  char prefix = 0;
  char c = current_char(src);
  if ((c == '-' || c == '+') && char_at(src, src.pos + 1) != c) {
    prefix = c;
    ++src.pos;
    skip(ctx);
  } else if (c == '~') {
    prefix = c;
    ++src.pos;
    skip(ctx);
  }
  c = current_char(src);
  std::int32_t value;
  bool step_form = (c == '+' || c == '-') && char_at(src, src.pos + 1) == c;
  if (step_form) {
    std::size_t look = src.pos + 2;
    while (look < src.line.size() && command::is_blank(src.line[look])) ++look;
    step_form = is_identifier_start(char_at(src, look));
  }
  if (c == '(') {
    ++src.pos;
    value = parse_or(ctx);
    skip(ctx);
    if (current_char(src) == ')')
      ++src.pos;
    else
      report_error(ctx, "missing closing bracket ')'");
  } else if (c == '%') {
    ++src.pos;
    value = read_number(ctx, 2);
  } else if (c == '$') {
    ++src.pos;
    value = read_number(ctx, 16);
  } else if (c >= '0' && c <= '9') {
    value = read_number(ctx, 10);
  } else if (step_form) {
    src.pos += 2;
    skip(ctx);
    std::string name = read_identifier(ctx);
    step_constant(ctx, name, c == '+' ? 1 : -1);
    value = constant_value(ctx, name);
  } else if (is_identifier_start(c)) {
    std::string name = read_identifier(ctx);
    char next = current_char(src);
    if (next == '(') {
      Arguments args = read_arguments(ctx);
      value = call_function(ctx, name, args);
    } else if ((next == '+' || next == '-') && char_at(src, src.pos + 1) == next) {
      src.pos += 2;
      value = constant_value(ctx, name);
      step_constant(ctx, name, next == '+' ? 1 : -1);
    } else {
      value = constant_value(ctx, name);
    }
  } else {
    report_error(ctx, vexa::base::format("missing number or Constant: '%s'", src.line.c_str() + std::min(src.pos, src.line.size())));
    if (!command::at_line_end(src)) ++src.pos;
    return 1;
  }
  if (prefix == '-') return wrap(-static_cast<std::int64_t>(value));
  if (prefix == '~') return ~value;
  return value;
}

// The binary operators by level, lowest first: 1 '|' '^', 2 '&', 3 '<<' '>>',
// 4 '+' '-', 5 '*' '/'. All associate to the left. Returns 0 when the
// parse position holds no binary operator; length is 2 for the shifts.
int operator_level(const command::Source& src, char& op, int& length) {
  op = current_char(src);
  length = 1;
  switch (op) {
    case '|':
    case '^': return 1;
    case '&': return 2;
    case '<':
    case '>':
      if (char_at(src, src.pos + 1) != op) return 0;  // a lone '<' starts a file name
      length = 2;
      return 3;
    case '+':
    case '-': return 4;
    case '*':
    case '/': return 5;
    default: return 0;
  }
}

std::int32_t apply(Context& ctx, char op, std::int32_t left, std::int32_t right) {
  switch (op) {
    case '|': return left | right;
    case '^': return left ^ right;
    case '&': return left & right;
    case '<': return static_cast<std::int32_t>(static_cast<std::uint32_t>(left) << (right & 31));
    case '>': return left >> (right & 31);  // arithmetic for negative values
    case '+': return wrap(static_cast<std::int64_t>(left) + right);
    case '-': return wrap(static_cast<std::int64_t>(left) - right);
    case '*': return wrap(static_cast<std::int64_t>(left) * right);
    default:
      if (right == 0) {
        report_error(ctx, "division by zero");
        right = 1;
      }
      return divide(left, right);
  }
}

// expression(level) -> operand { operator-of-level>=level expression(level+1) }
std::int32_t parse_binary(Context& ctx, int min_level) {
  command::Source& src = ctx.source;
  std::int32_t value = parse_operand(ctx);
  while (true) {
    skip(ctx);
    char op;
    int length;
    int level = operator_level(src, op, length);
    if (level == 0 || level < min_level) return value;
    src.pos += static_cast<std::size_t>(length);
    std::int32_t right = parse_binary(ctx, level + 1);
    value = apply(ctx, op, value, right);
  }
}

std::int32_t parse_or(Context& ctx) { return parse_binary(ctx, 1); }

}  // namespace

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string read_identifier(Context& ctx) {
  command::Source& src = ctx.source;
  std::string name;
  // Names are significant to their first 80 characters; the rest of a longer
  // word is read over so that it cannot be taken for something else.
  while (is_identifier_char(current_char(src))) {
    if (name.size() < base::limits::identifier_length) name += current_char(src);
    ++src.pos;
  }
  return name;
}

std::int32_t evaluate_argument(Context& ctx) { return parse_or(ctx); }

std::int32_t evaluate_expression(Context& ctx, Place place) {
  command::Source& src = ctx.source;
  std::int32_t value = parse_or(ctx);
  skip(ctx);
  char c = current_char(src);
  if (c == '{' || (c == '[' && place != Place::header))
    report_error(ctx, vexa::base::format("Unknown Character '%c'", c));
  else if (c == ')')
    report_error(ctx, "missing opening bracket '('");
  return value;
}

}  // namespace vexa::command
