// Entry points of the resource directives. Each is called by the directive
// dispatcher, after the open macro was closed, with the parse position behind
// the keyword; each returns 1 when the resource was stored, 0 after reporting.
#pragma once

namespace vexa::command {
struct Context;
}

namespace vexa::resources {

int compile_picture(command::Context& ctx);
int compile_button(command::Context& ctx);
int compile_border(command::Context& ctx);
int compile_pattern(command::Context& ctx);
int compile_animation(command::Context& ctx);
int compile_instrument(command::Context& ctx);
int compile_font(command::Context& ctx);
int compile_winfont(command::Context& ctx);
int compile_string(command::Context& ctx);

}  // namespace vexa::resources
