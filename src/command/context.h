// The compilation's whole state: the record of every part of the compiler and
// the Context that owns them. The driver creates one Context per run and
// passes it to every operation of the compiler floors; nothing of the
// compiler lives in a global, so a test can build a fresh context in one line
// and run two compilations side by side. The link to a module is not part of
// it: the driver owns that.
//
// The records are plain data; the operations over them live in the file of
// their part (source, constants, parameters, expression, macros, ...), which
// all stand above this header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/limits.h"
#include "base/output.h"
#include "command/settings.h"
#include "imagefiles/glyphs.h"
#include "imagefiles/image.h"

namespace vexa::command {

// --- the macro source (source.h) -------------------------------------------

struct SourceLevel {
  std::string content;     // the whole file, read when it is opened
  std::size_t offset = 0;  // where the next line starts
  int repeat = 0;          // passes still to come, this one included
  int line_number = 0;     // line last read in the current pass
  std::string name;        // as opened (full path for included files)
  std::string directory;   // ends in '/'
  std::string path;        // PATH prefix while this level is current
  std::size_t start = 0;   // where each pass begins: after a byte-order mark
  bool utf8 = false;       // quoted texts are UTF-8, given to the module as Windows-1252
};

// Names found by a wildcard search: entry 0 of the classic list is `directory`,
// entries 1..n are `names`.
struct FileList {
  std::string directory;
  std::vector<std::string> names;
  int first_number = -1;  // number at the wildcard's place in the first name
};

// A stack of open source files read line by line, and the line last read
// with its parse position.
struct Source {
  std::array<SourceLevel, base::limits::source_levels> levels;
  int current = -1;  // -1 when no file is open
  std::string line;  // the line last read; line[pos] is '\0' at the end
  std::size_t pos = 0;
  std::size_t line_start = 0;  // first non-blank character of the line
  std::string word;            // the identifier a directive line starts with
  std::string shown_line;      // the line as read, when a comment was cut off
  FileList file_list;
  long long lines_read = 0;  // by the whole run, every pass counted
};

// --- named constants (constants.h) -----------------------------------------

struct NamedValue {
  std::string name;  // spelling of the last definition
  std::int32_t value = 0;
};

struct NamedText {
  std::string name;
  std::string text;  // ends at its first byte 0
};

// Both tables keep definition order (the first match wins, indexes are
// positions); the maps find an entry by its upper-case name in constant time.
struct Constants {
  Constants() {
    // The letters A to Z stand for their character codes until redefined.
    for (char c = 'A'; c <= 'Z'; ++c) {
      value_index[std::string(1, c)] = static_cast<int>(values.size());
      values.push_back({std::string(1, c), c});
    }
  }
  std::vector<NamedValue> values;
  std::unordered_map<std::string, int> value_index;
  std::vector<NamedText> texts;
  std::unordered_map<std::string, int> text_index;
};

// --- character code tables (codetable.h) -----------------------------------

// 256 tables of 256 bytes that translate the characters of quoted text into
// the module's character codes; each starts as the identity.
struct CodeTables {
  // Every table starts as the identity: one built, the others copied from it
  // (a context is made for every test and fuzz input, so this is kept cheap).
  CodeTables() {
    std::array<std::uint8_t, 256> identity;
    std::iota(identity.begin(), identity.end(), std::uint8_t{0});
    tables.fill(identity);
  }
  std::array<std::array<std::uint8_t, 256>, base::limits::code_tables> tables;
};

// --- expressions and parameter lists (expression.h, parameters.h) ----------

struct Evaluator {
  std::mt19937 random;          // seeded from the clock or VEXA_RANDOM_SEED
  std::int32_t last_random = 0;
  int depth = 0;                // bracket nesting, bounded against runaway input
};

// The bytes of the display command being encoded (or of a definition line's
// parameter list).
struct CommandBuffer {
  std::array<std::uint8_t, base::limits::command_buffer> bytes{};
  int length = 0;
  bool overflow = false;  // a parser wanted to write past the end
};

// --- macros (macros.h) -----------------------------------------------------

// The kinds of macro a header opens. ORDER: the four fixed macros first (each
// is stored under its own place here as number, in the shared table of page
// 0); then the numbered kinds in the order of their macro tables.
enum class MacroType { power_on, reset, watchdog, brown_out, macro, touch, menu, port, bit, matrix, analogue, process };
inline constexpr int fixed_macro_types = 4;
inline constexpr int macro_types = 12;
static_assert(static_cast<int>(MacroType::process) + 1 == macro_types);

struct OpenMacro {
  int number = -1;  // -1: no macro open
  MacroType kind = MacroType::macro;
  int start = 0;    // image write position when opened
  int commands = 0;
  int bytes = 0;
};

// --- the DATA-FLASH work areas (work_areas.h) ------------------------------

struct KindStats {
  int count = 0;
  int bytes = 0;
};

inline constexpr std::size_t macro_table_bytes =
    static_cast<std::size_t>(base::limits::pages) * base::limits::numbers * base::limits::macro_entry_bytes;
inline constexpr std::size_t directory_bytes =
    static_cast<std::size_t>(base::limits::pages) * base::limits::numbers * base::limits::resource_entry_bytes;

// The two work areas (macro bytes and resource blocks) and the per-kind macro
// tables and resource directories that point into them. The macro and
// resource compilers append here; the driver lays it all out as one image at
// the end of the run. The areas hold at most base::limits::work_area bytes
// each and grow as bytes are appended, so that a small project does not pay
// for two areas of 8 MB. Every table entry starts free (all bytes 255); a
// kind's table is made when it is first written (made_table), so that a run
// storing few kinds does not fill 300 KB of free entries, and until then
// reads as free (table_entry).
struct DataFlash {
  DataFlash() : system_macros(macro_table_bytes / base::limits::pages, 255) {}
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

// A kind's table, made of bytes free entries when it is still empty.
inline std::vector<std::uint8_t>& made_table(std::vector<std::uint8_t>& table, std::size_t bytes) {
  if (table.empty()) table.assign(bytes, 255);
  return table;
}

// The entry at offset of a table, or a free entry when the table is not made.
inline const std::uint8_t* table_entry(const std::vector<std::uint8_t>& table, std::size_t offset) {
  static constexpr std::uint8_t free_entry[base::limits::macro_entry_bytes] = {255, 255, 255, 255, 255, 255};
  return table.empty() ? free_entry : table.data() + offset;
}

// --- the whole -------------------------------------------------------------

struct Context {
  base::Output out;
  Settings settings;
  Source source;
  DataFlash flash;
  Evaluator eval;
  CommandBuffer command;
  Constants constants;
  OpenMacro macro;
  // The current page: set by every macro and resource header ('[page]', 0
  // without one) and back to 0 when a macro closes. A macro is stored on it,
  // and the measuring functions look resources up on it when no page is given.
  int page = 0;
  CodeTables code_tables;
  imagefiles::ImageSet work_set;    // each import is loaded and converted here
  imagefiles::ImageSet second_set;  // further files of an import list
  imagefiles::FontLibrary fonts;    // faces for the text the compiler draws itself
};

}  // namespace vexa::command
