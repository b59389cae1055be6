// Macros and pages: the macro headers open numbered macros of twelve kinds,
// closing records them in the macro tables and may export their bytes.
#pragma once

#include <string_view>

#include "command/context.h"

namespace vexa::command {

// Reads the "[page]" that may follow the number of a macro or resource
// header; 0 when there is none, or after reporting a wrong one.
int parse_page_number(Context& ctx);
// The keyword of a macro type, as messages and file names spell it.
std::string_view macro_kind_name(MacroType type);
// macro-header -> KEYWORD separator number [ '[' page ']' ]: makes the page
// current and opens the macro, or reports why not.
void open_macro_header(Context& ctx, MacroType type, int max_number);
// Opens macro number of a type on the current page (a fixed macro on page 0).
void open_macro(Context& ctx, MacroType type, int number);
// Records the open macro, when it holds any bytes, and makes page 0 current.
void close_macro(Context& ctx);
void export_macro_directive(Context& ctx);

}  // namespace vexa::command
