// Integer expressions of the macro language. They read from the parse
// position of the source line and leave it on the first character that does
// not belong to the expression.
#pragma once

#include <cstdint>
#include <string>

#include "command/context.h"

namespace vexa::command {

// Where an expression stands. In the header of a macro or resource a '['
// after the number opens its page; anywhere else a '[' there is reported.
enum class Place { line, header };

// Evaluates one expression at the parse position. An unmatched ')' is
// reported as "missing opening bracket '('", a '{' (or a '[' outside a
// header) after it as an unknown character.
std::int32_t evaluate_expression(Context& ctx, Place place = Place::line);

// Evaluates an expression that stands inside brackets (a function's
// argument): a ')' after it is not reported.
std::int32_t evaluate_argument(Context& ctx);

// Reads an identifier (letters, digits, '_') at the parse position.
std::string read_identifier(Context& ctx);

// Value of a hexadecimal digit, or -1.
int hex_digit(char c);

}  // namespace vexa::command
