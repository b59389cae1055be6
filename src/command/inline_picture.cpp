#include "command/inline_picture.h"

#include <string>

#include "command/encoder.h"
#include "command/expression.h"
#include "driver/context.h"
#include "driver/format.h"

namespace vexa::command {

// inline-picture -> ('CL' | 'UL') x ',' y '<' file '>'
int inline_picture(Context& ctx, char first) {
  if (parse_word_list(ctx, limits::list_unlimited) != 2) {
    driver::report_error(ctx, "wrong number of parameters");
    return 0;
  }
  std::string name;
  if (!driver::read_file_name(ctx, name)) {
    if (first == 'C') driver::report_error(ctx, "wrong number of parameters");
    return 0;
  }
  // Pictures are not converted by this build yet: the file is reported as
  // not loadable and nothing is appended.
  driver::report_error(ctx, vexa::format("cannot load picture <%s> !", name.c_str()));
  return 0;
}

}  // namespace vexa::command
