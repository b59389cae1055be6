// The DATA-FLASH work state of a compilation: two work areas (macro bytes and
// resource blocks) and the per-kind macro tables and resource directories
// that point into them. The macro and resource compilers append here; the
// driver lays it all out as one image at the end of the run.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"

namespace vexa::command {

struct Context;

// ORDER: the index of a resource kind is its place in the image's directory.
enum ResourceKind { kind_fonts, kind_patterns, kind_borders, kind_buttons, kind_animations,
                    kind_pictures, kind_instruments, kind_strings };
// ORDER: the index of a macro kind is its place in the image's macro tables.
enum MacroKind { kind_macro, kind_touch, kind_menu, kind_port, kind_bit, kind_matrix,
                 kind_analogue, kind_process };

struct KindStats {
  int count = 0;
  int bytes = 0;
};

inline constexpr std::size_t macro_table_bytes =
    static_cast<std::size_t>(base::limits::pages) * base::limits::numbers * base::limits::macro_entry_bytes;
inline constexpr std::size_t directory_bytes =
    static_cast<std::size_t>(base::limits::pages) * base::limits::numbers * base::limits::resource_entry_bytes;

// The two work areas hold at most base::limits::work_area bytes each. They grow as
// bytes are appended (a byte not written counts as 255), so that a small
// project does not pay for two areas of 8 MB.
struct DataFlash {
  DataFlash();
  std::vector<std::uint8_t> image;      // macro bytes during the compile, the image after layout
  std::vector<std::uint8_t> resources;  // resource blocks
  int image_pos = 0;                    // macro bytes written (the size of image while compiling)
  int resource_pos = 0;                 // resource bytes written (the size of resources)
  std::array<std::vector<std::uint8_t>, base::limits::macro_kinds> macro_tables;
  std::vector<std::uint8_t> system_macros;  // one page of the four fixed macros
  std::array<std::vector<std::uint8_t>, base::limits::resource_kinds> directories;
  std::array<KindStats, base::limits::macro_kinds> macro_stats;
  std::array<KindStats, base::limits::resource_kinds> resource_stats;
  KindStats system_stats;

  // Results of layout_image: the page indexes (resource kinds 0-7, then
  // macro kinds 0-7), D (start of the macro bytes in the image) and P.
  std::array<std::array<std::uint8_t, 5 * base::limits::pages>, base::limits::resource_kinds + base::limits::macro_kinds> page_index{};
  int tables_end = 0;
  int payload = 0;
  std::string project_name;  // as stored in the image (from the model line or the upload file name)
};

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
