// The directive dispatcher: classifies every source line and executes it
// (display commands, constants, string constants, code-table lines, INFO,
// settings, file and path directives, resource directives, macro headers and
// the module link directives).
#pragma once

namespace vexa::command {
struct Context;
}

namespace vexa::driver {

// Handles the line in ctx.source.line. Problems are reported and the line is
// then abandoned.
void dispatch_line(command::Context& ctx);

}  // namespace vexa::driver
