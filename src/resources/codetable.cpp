#include "resources/codetable.h"

#include "driver/context.h"

namespace vexa::resources {

CodeTables::CodeTables() {
  for (auto& table : tables)
    for (int c = 0; c < 256; ++c) table[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(c);
}

std::uint8_t translate(const Context& ctx, std::uint8_t c) {
  if (!ctx.code_tables.enabled) return c;
  int t = ctx.settings.code_table;
  if (t < 0 || t >= limits::code_tables) return c;
  return ctx.code_tables.tables[static_cast<std::size_t>(t)][c];
}

}  // namespace vexa::resources
