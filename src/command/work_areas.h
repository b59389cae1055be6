// The DATA-FLASH work areas of a compilation (the record is in context.h):
// appending to them, and finding the entries of the macro tables and resource
// directories that point into them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/limits.h"
#include "command/context.h"

namespace vexa::command {

// ORDER: the index of a resource kind is its place in the image's directory.
enum ResourceKind { kind_fonts, kind_patterns, kind_borders, kind_buttons, kind_animations,
                    kind_pictures, kind_instruments, kind_strings };
// ORDER: the index of a macro kind is its place in the image's macro tables.
enum MacroKind { kind_macro, kind_touch, kind_menu, kind_port, kind_bit, kind_matrix,
                 kind_analogue, kind_process };

// An entry whose first three bytes are all 255 is free.
inline bool entry_used(const std::uint8_t* p) { return !(p[0] == 255 && p[1] == 255 && p[2] == 255); }

// Byte offset of entry (page, number) in a macro table or resource directory.
inline std::size_t macro_entry(int page, int number) {
  return (static_cast<std::size_t>(page) * base::limits::numbers + static_cast<std::size_t>(number)) *
         base::limits::macro_entry_bytes;
}
inline std::size_t resource_entry(int page, int number) {
  return (static_cast<std::size_t>(page) * base::limits::numbers + static_cast<std::size_t>(number)) *
         base::limits::resource_entry_bytes;
}

// Appends bytes to a work area; false (nothing appended) after reporting
// "DATA-FLASH memory overflow !" when the area would grow past
// limits::work_area.
bool append_to_area(Context& ctx, std::vector<std::uint8_t>& area, int& position, const std::uint8_t* bytes,
                    std::size_t count);
// Reports that the image does not fit the DATA-FLASH.
void report_flash_overflow(Context& ctx);

}  // namespace vexa::command
