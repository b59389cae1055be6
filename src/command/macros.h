// Macros and pages: the macro headers open numbered macros of twelve kinds,
// closing records them in the macro tables and may export their bytes.
#pragma once

#include <string>
#include <string_view>

namespace vexa::command {

struct Context;

// Macro kinds: the fixed macros (PowerOnMacro, ResetMacro, WatchdogMacro,
// BrownOutMacro), entries 0 to 3 of their shared table, then the numbered
// kinds in the order of their macro tables (MacroKind).
inline constexpr int fixed_macros = 4;
// The keyword of a macro kind, in that order.
std::string_view macro_kind_name(int kind);

struct OpenMacro {
  int number = -1;       // -1: no macro open
  int kind = 0;          // index into the macro kind table
  int page = 0;          // current page, also read by the resource compilers
  int start = 0;         // image write position when opened
  int commands = 0;
  int bytes = 0;
};

// Reads "[page]" at the parse position; 0 when there is none.
int parse_page_number(Context& ctx);
void open_macro_header(Context& ctx, int kind, int max_number);
void open_macro(Context& ctx, int kind, int number);
void close_macro(Context& ctx);
void export_macro_directive(Context& ctx);

}  // namespace vexa::command
