// Integer expressions of the macro language and the parameter-list parsers
// that turn display command parameters into bytes. Both read from the shared
// parse position of the source line and leave it on the first character that
// does not belong to what they parsed.
#pragma once

#include <cstdint>
#include <random>

namespace vexa::command {

struct Context;

struct Evaluator {
  std::mt19937 random;          // seeded from the clock or VEXA_RANDOM_SEED
  std::int32_t last_random = 0;
  int depth = 0;                // bracket nesting, bounded against runaway input
};

// Evaluates one expression at the parse position. An unmatched ')' is
// reported as "missing opening bracket '('".
std::int32_t evaluate_expression(Context& ctx);

// Evaluates an expression that stands inside brackets (a function's
// argument): a ')' after it is not reported.
std::int32_t evaluate_argument(Context& ctx);

// Parse up to max values into the command buffer; return how many.
int parse_byte_list(Context& ctx, int max);
int parse_word_list(Context& ctx, int max);
// Like parse_byte_list, then drops trailing bytes 0, 13, 10 and adds one 0;
// returns the bytes kept plus one.
int parse_string_param(Context& ctx, int max);

// The numbers of a resource header: expressions separated by ',', up to max,
// ending at ';', the end of the line, '<' or '['. Unlike a byte list the
// values keep their full range, so that a number out of range is reported
// with its own value.
int parse_header_numbers(Context& ctx, int max, std::int32_t* values);

// Value of a hexadecimal digit, or -1.
int hex_digit(char c);

}  // namespace vexa::command
