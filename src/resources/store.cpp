#include "resources/store.h"

#include <algorithm>

#include "base/bytes.h"
#include "command/context.h"
#include "command/work_areas.h"

namespace vexa::resources {

bool resource_free(const command::Context& ctx, int kind, int page, int number) {
  const auto& directory = ctx.flash.directories[static_cast<std::size_t>(kind)];
  return !command::entry_used(command::table_entry(directory, command::resource_entry(page, number)));
}

int store_resource(command::Context& ctx, int kind, int page, int number, const std::uint8_t* bytes, std::size_t size) {
  command::DataFlash& flash = ctx.flash;
  // A resource that would run past the resource area is refused whole; the
  // directory entry stays free.
  int offset = flash.resource_pos;
  if (!command::append_to_area(ctx, flash.resources, flash.resource_pos, bytes, size)) return 0;
  std::uint8_t* entry = command::made_table(flash.directories[static_cast<std::size_t>(kind)], command::directory_bytes).data() +
                        command::resource_entry(page, number);
  base::put_u24(entry, static_cast<std::uint32_t>(offset));
  command::KindStats& stats = flash.resource_stats[static_cast<std::size_t>(kind)];
  ++stats.count;
  stats.bytes += static_cast<int>(size);
  return 1;
}

}  // namespace vexa::resources
