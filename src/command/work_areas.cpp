#include "command/work_areas.h"

#include <cstring>

#include "command/source.h"

namespace vexa::command {

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
