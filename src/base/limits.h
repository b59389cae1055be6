// The program's fixed limits, in one place. Every buffer and table of the
// compiler is sized from these; every reader checks against them before it
// allocates or writes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexa::base::limits {

// Source reader
inline constexpr int source_levels = 10;          // nested INCLUDE depth
inline constexpr std::size_t line_length = 1999;  // characters of one source line
inline constexpr std::size_t name_length = 255;   // file names, paths, words
inline constexpr int file_list_entries = 256;     // wildcard matches
inline constexpr std::size_t project_name_chars = 40;
// Lines one run reads in all, every pass of every included file counted. Far
// beyond any real project (a thousand files of ten thousand lines), it stops
// a repeat count of two thousand million from reading for minutes.
inline constexpr long long source_lines = 10'000'000;

// Expressions and constants
inline constexpr std::size_t identifier_length = 80;
inline constexpr int function_arguments = 200;
inline constexpr int constants = 5000;
inline constexpr int string_constants = 5000;
inline constexpr std::size_t expansion_buffer = 512;  // text of one !NAME! insert

// Display commands and macros
inline constexpr std::size_t command_buffer = 1024;
inline constexpr int list_unlimited = 999;  // parser limit meaning "to the end"
inline constexpr int pages = 16;
inline constexpr int numbers = 256;
inline constexpr int macro_entry_bytes = 6;
inline constexpr int resource_entry_bytes = 3;
inline constexpr int macro_kinds = 8;
inline constexpr int resource_kinds = 8;

// DATA-FLASH work areas (image and resource area), each this many bytes
inline constexpr std::size_t work_area = 0x808000;  // 8,421,376

// Images
inline constexpr int image_slots = 256;
inline constexpr int code_tables = 256;
// A bitmap is refused before allocation when its pixel data would exceed this,
// or when a side exceeds image_side. Generous for any picture a module of up to
// 800 x 480 pixels can show, small enough that a hostile header cannot make the
// compiler allocate gigabytes.
inline constexpr std::uint64_t image_bytes = 256u * 1024u * 1024u;
inline constexpr std::int64_t image_side = 65535;

// Console line reads (the "Filename: " prompt)
inline constexpr std::size_t console_line = 255;

}  // namespace vexa::base::limits
