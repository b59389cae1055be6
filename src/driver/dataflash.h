// The layout that turns the DATA-FLASH work areas, macro tables and resource
// directories into one image with tables of contents and checksums, written
// as upload file (.DF) and object file (.DFO), and the memory overview.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/limits.h"
#include "command/work_areas.h"

namespace vexa::command {
struct Context;
}

namespace vexa::driver {

// The system area of the image: the head the upload file module reads
// (checksum 1, region lengths), then the project name, the fixed macros,
// the page indexes of every resource and macro kind and the entry tables
// they point at. The listing of a file reads it with these same numbers.
inline constexpr int address_project = 16;
inline constexpr int project_bytes = 32;
inline constexpr int address_system_macros = 80;
inline constexpr int system_macro_entries = 8;
inline constexpr int address_resource_index = 128;
inline constexpr int address_macro_index = 768;
inline constexpr int index_bytes = 5 * base::limits::pages;  // a row per page: first, last, address(24)
inline constexpr int address_tables = 1536;
// Kinds k of the tables: the resource kinds first, then the macro kinds.
inline constexpr int table_kinds = base::limits::resource_kinds + base::limits::macro_kinds;
inline constexpr bool is_resource_kind(int k) { return k < base::limits::resource_kinds; }
inline constexpr int index_address(int k) {
  return is_resource_kind(k) ? address_resource_index + index_bytes * k
                             : address_macro_index + index_bytes * (k - base::limits::resource_kinds);
}
inline constexpr int entry_bytes(int k) {
  return is_resource_kind(k) ? base::limits::resource_entry_bytes : base::limits::macro_entry_bytes;
}

// Computes the tables of contents' size and the payload, and checks it.
void layout_image(command::Context& ctx);
// Completes the image and writes the object file (when asked) and the upload file.
void write_outputs(command::Context& ctx);
void print_memory_overview(command::Context& ctx);

}  // namespace vexa::driver
