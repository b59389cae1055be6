#include "resources/store.h"

#include <algorithm>

#include "driver/context.h"
#include "base/bytes.h"

namespace vexa::resources {

bool resource_free(const Context& ctx, int kind, int page, int number) {
  const auto& directory = ctx.flash.directories[static_cast<std::size_t>(kind)];
  return !driver::entry_used(directory.data() + driver::resource_entry(page, number));
}

int store_resource(Context& ctx, int kind, int page, int number, const std::uint8_t* bytes, std::size_t size) {
  driver::DataFlash& flash = ctx.flash;
  // A resource that would run past the resource area is refused whole; the
  // directory entry stays free.
  int offset = flash.resource_pos;
  if (!driver::append_to_area(flash.resources, flash.resource_pos, bytes, size)) {
    driver::report_error(ctx, "DATA-FLASH memory overflow !");
    return 0;
  }
  std::uint8_t* entry = flash.directories[static_cast<std::size_t>(kind)].data() + driver::resource_entry(page, number);
  base::put_u24(entry, static_cast<std::uint32_t>(offset));
  driver::KindStats& stats = flash.resource_stats[static_cast<std::size_t>(kind)];
  ++stats.count;
  stats.bytes += static_cast<int>(size);
  return 1;
}

}  // namespace vexa::resources
