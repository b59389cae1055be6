#include "command/definitions.h"

#include <string>
#include <string_view>

#include "command/constants.h"
#include "command/expression.h"
#include "command/parameters.h"
#include "command/source.h"

namespace vexa::command {

// string-constant-line -> '!' NAME '!' ... '=' string-parameter
void string_constant_line(Context& ctx) {
  Source& src = ctx.source;
  ++src.pos;  // '!'
  std::string name = read_identifier(ctx);
  if (current_char(src) != '!') {
    report_error(ctx, "Wrong string-constant name (!NAME!)");
    return;
  }
  std::size_t equals = src.line.find('=', src.pos);
  if (equals == std::string::npos) {
    report_error(ctx, "Wrong string-constant definition !");
    return;
  }
  src.pos = equals + 1;
  ctx.command.length = 0;
  ctx.command.overflow = false;
  int length = parse_string_param(ctx, base::limits::list_unlimited, Translation::off);
  std::string text(reinterpret_cast<const char*>(ctx.command.bytes.data()), static_cast<std::size_t>(length - 1));
  ctx.command.length = 0;
  define_string_constant(ctx.constants, name, text);
}

// definition -> q chars q '=' byte-list      (q is ' or ")
void define_codes(Context& ctx) {
  Source& src = ctx.source;
  const std::string& line = src.line;
  std::size_t open = src.pos;
  char quote = char_at(src, open);
  std::size_t close = line.find(quote, open + 1);
  std::size_t equals = line.find('=', open + 1);
  bool ok = close != std::string::npos && equals != std::string::npos;
  std::string sources = ok ? text_bytes(ctx, std::string_view(line).substr(open + 1, close - open - 1)) : std::string();
  if (ok) {
    src.pos = equals + 1;
    CommandBuffer& buffer = ctx.command;
    buffer.length = 0;
    buffer.overflow = false;
    int values = parse_byte_list(ctx, base::limits::list_unlimited, Translation::off);
    ok = values == static_cast<int>(sources.size()) && !buffer.overflow;
    if (ok) {
      auto& table = ctx.code_tables.tables[static_cast<std::size_t>(ctx.settings.code_table)];
      for (std::size_t i = 0; i < sources.size(); ++i)
        table[static_cast<unsigned char>(sources[i])] = buffer.bytes[i];
    }
    buffer.length = 0;
  }
  if (!ok)
    report_error(ctx, "valid syntax to define new character codes write e.g. 'a'=65  or  'abc'=$41,'BC'");
}

}  // namespace vexa::command
