#include "resources/codetable.h"

#include <numeric>
#include <string>
#include <string_view>

#include "command/expression.h"
#include "driver/context.h"

namespace vexa::resources {

// Every table starts as the identity: one built, the others copied from it
// (a context is made for every test and fuzz input, so this is kept cheap).
CodeTables::CodeTables() {
  std::array<std::uint8_t, 256> identity;
  std::iota(identity.begin(), identity.end(), std::uint8_t{0});
  tables.fill(identity);
}

std::uint8_t translate(const Context& ctx, std::uint8_t c) {
  if (!ctx.code_tables.enabled) return c;
  int t = ctx.settings.code_table;
  if (t < 0 || t >= limits::code_tables) return c;
  return ctx.code_tables.tables[static_cast<std::size_t>(t)][c];
}

// definition -> q chars q '=' byte-list      (q is ' or ")
void define_codes(Context& ctx) {
  driver::Source& src = ctx.source;
  const std::string& line = src.line;
  std::size_t open = src.pos;
  char quote = driver::char_at(src, open);
  std::size_t close = line.find(quote, open + 1);
  std::size_t equals = line.find('=', open + 1);
  bool ok = close != std::string::npos && equals != std::string::npos;
  std::string sources = ok ? driver::text_bytes(ctx, std::string_view(line).substr(open + 1, close - open - 1)) : std::string();
  if (ok) {
    src.pos = equals + 1;
    command::CommandBuffer& buffer = ctx.command;
    buffer.length = 0;
    buffer.overflow = false;
    int values = command::parse_byte_list(ctx, limits::list_unlimited);
    ok = values == static_cast<int>(sources.size()) && !buffer.overflow;
    if (ok) {
      auto& table = ctx.code_tables.tables[static_cast<std::size_t>(ctx.settings.code_table)];
      for (std::size_t i = 0; i < sources.size(); ++i)
        table[static_cast<unsigned char>(sources[i])] = buffer.bytes[i];
    }
    buffer.length = 0;
  }
  if (!ok)
    driver::report_error(ctx,
                         "valid syntax to define new character codes write e.g. 'a'=65  or  'abc'=$41,'BC'");
}

}  // namespace vexa::resources
