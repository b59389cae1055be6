// The definition lines that fill a table from a parameter list: a string
// constant and the character codes of the current code table.
#pragma once

#include "command/context.h"

namespace vexa::command {

// A string-constant definition line (first character '!').
void string_constant_line(Context& ctx);

// A code-table definition line ('a'=65 or 'abc'=$41,'BC'): the characters
// between the quotes get the codes of the byte list in the table that
// CODETABLE selected.
void define_codes(Context& ctx);

}  // namespace vexa::command
