// Resource directives whose compilers are not part of this build yet: each
// reports one clear error naming the directive, and the rest of the macro
// file compiles on.
#include "driver/context.h"
#include "resources/compilers.h"

namespace vexa::resources {

namespace {

int not_available(Context& ctx, const char* directive) {
  driver::report_error(ctx, std::string(directive) + " resources cannot be compiled by this version !");
  return 0;
}

}  // namespace

int compile_font(Context& ctx) { return not_available(ctx, "FONT"); }
int compile_winfont(Context& ctx) { return not_available(ctx, "WINFONT"); }

}  // namespace vexa::resources
