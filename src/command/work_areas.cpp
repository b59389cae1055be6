#include "command/work_areas.h"

#include <cstring>

#include "command/context.h"

namespace vexa::command {

DataFlash::DataFlash() : system_macros(macro_table_bytes / base::limits::pages, 255) {
  for (auto& table : macro_tables) table.assign(macro_table_bytes, 255);
  for (auto& directory : directories) directory.assign(directory_bytes, 255);
}

void report_flash_overflow(Context& ctx) { report_error(ctx, "DATA-FLASH memory overflow !"); }

bool append_to_area(Context& ctx, std::vector<std::uint8_t>& area, int& position, const std::uint8_t* bytes,
                    std::size_t count) {
  if (static_cast<std::size_t>(position) + count > base::limits::work_area) {
    report_flash_overflow(ctx);
    return false;
  }
  std::size_t at = area.size();
  area.resize(at + count);
  std::memcpy(area.data() + at, bytes, count);
  position += static_cast<int>(count);
  return true;
}

}  // namespace vexa::command
