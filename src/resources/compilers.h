// Entry points of the resource directives. Each is called by the directive
// dispatcher, after the open macro was closed, with the parse position behind
// the keyword; each returns 1 when the resource was stored, 0 after reporting.
#pragma once

namespace vexa {
struct Context;
}

namespace vexa::resources {

int compile_picture(Context& ctx);
int compile_button(Context& ctx);
int compile_border(Context& ctx);
int compile_pattern(Context& ctx);
int compile_animation(Context& ctx);
int compile_instrument(Context& ctx);
int compile_font(Context& ctx);
int compile_winfont(Context& ctx);
int compile_string(Context& ctx);

}  // namespace vexa::resources
