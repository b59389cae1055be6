// The STRING directive: a numbered text stored as a resource.
#include <string>

#include "base/format.h"
#include "command/context.h"
#include "command/macros.h"
#include "command/parameters.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "resources/compilers.h"
#include "resources/store.h"

namespace vexa::resources {

// string -> STRING number [ '[' page ']' ] byte-list
int compile_string(command::Context& ctx) {
  command::CommandBuffer& buffer = ctx.command;
  int number = 0;
  const int count = command::parse_header_number(ctx, 1, number);
  int page = command::parse_page_number(ctx);
  ctx.page = page;
  if (count == 0) {
    command::report_error(ctx, "no Stringnumber !");
    return 0;
  }
  if (number < 1 || number > 255 || number == 10 || number == 13) {
    command::report_error(
        ctx, vexa::base::format("Stringnumber %d is wrong, (allowed: 1..255, without 10+13 because end of string code) !",
                            number));
    return 0;
  }
  if (!resource_free(ctx, command::kind_strings, page, number)) {
    command::report_error(ctx, vexa::base::format("Stringnumber %d already exists !", number));
    return 0;
  }
  command::parse_string_param(ctx, base::limits::list_unlimited);
  // The record ends at its first byte 0, whatever followed it in the text.
  std::size_t length = 0;
  while (length < static_cast<std::size_t>(buffer.length) && buffer.bytes[length] != 0) ++length;
  std::string record(reinterpret_cast<const char*>(buffer.bytes.data()), length);
  record += '\0';
  buffer.length = 0;
  return store_resource(ctx, command::kind_strings, page, number,
                        reinterpret_cast<const std::uint8_t*>(record.data()), record.size());
}

}  // namespace vexa::resources
