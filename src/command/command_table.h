// The display command table. A row names a first command character, the
// second characters that share the row, the parameter segments and the models
// that accept the command.
//
// Parameter notation: "<n>b" n bytes, "<n>w" n words (two bytes, low first),
// "s" a zero-terminated string no longer than the model's maximum string
// length, "s<n>" a string of at most n bytes (terminator not counted).
// Rows marked with a special form are encoded by their own rule. A row with no
// second characters is a one-character command (the character after the first
// belongs to the parameters) or, marked Second::any, takes any second
// character as written.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace vexa::command {

enum class Gate { all, g78, g6 };  // all models, VexaG7/VexaG8 only, VexaG6 only

enum class Special {
  none,
  any_bytes,      // any number of bytes, never rejected
  counted_bytes,  // $c: count byte, then 1 to 255 bytes
  at_least_7,     // &D
  at_least_5,     // &I
  counted_words,  // GX, GY: one byte, count byte, 1 to 255 words
  send_bytes,     // SB: counted bytes and/or a file
  picture_file,   // CL, UL: two words and a picture file
  zero_string_42, // YQ: byte list of at most 42 bytes, zero-terminated
};

// What follows the first character.
enum class Second {
  listed,  // one of the row's second characters, taken in upper case
  none,    // nothing: a one-character command
  any,     // any character, kept as written
};

struct CommandRow {
  char first;
  std::string_view seconds;  // the second characters sharing this row
  std::string_view params;
  Gate gate = Gate::all;
  Special special = Special::none;
  Second second = Second::listed;
};

// One segment of a row's parameters: count values of kind 'b' or 'w', or a
// string (kind 's') of at most limit bytes, 0 meaning the model's length.
struct Segment {
  int count = 0;
  char kind = 0;
  int limit = 0;
};

// Reads the segment at params[at] and moves at behind it.
constexpr Segment next_segment(std::string_view params, std::size_t& at) {
  auto number = [&] {
    int value = 0;
    while (at < params.size() && params[at] >= '0' && params[at] <= '9') value = value * 10 + (params[at++] - '0');
    return value;
  };
  Segment segment;
  segment.count = number();
  if (at < params.size()) segment.kind = params[at++];
  if (segment.kind == 's') segment.limit = number();
  return segment;
}

inline constexpr CommandRow command_rows[] = {
    // one-character commands
    {'!', "", "1b", Gate::all, Special::none, Second::none},
    {'+', "", "1b", Gate::all, Special::none, Second::none},
    {'=', "", "", Gate::all, Special::none, Second::none},
    {'?', "", "", Gate::all, Special::none, Second::none},
    {'@', "", "", Gate::all, Special::none, Second::none},
    {'X', "", "1b", Gate::all, Special::none, Second::none},
    // special forms
    {'%', "", "", Gate::all, Special::any_bytes, Second::any},
    {'$', "", "", Gate::all, Special::counted_bytes, Second::any},
    {'&', "D", "", Gate::all, Special::at_least_7},
    {'&', "I", "", Gate::all, Special::at_least_5},
    // A
    {'A', "+ABFGINQRSWX", "1b"},
    {'A', "*", "1b", Gate::g78},
    {'A', "-", "3b", Gate::g78},
    {'A', "@", ""},
    {'A', "C", "4b"},
    {'A', "D", "4w2b"},
    {'A', "ELOPYZ", "2b"},
    {'A', "H", "4w"},
    {'A', "JU", "2w2bs"},
    {'A', "KT", "4w2bs"},
    {'A', "M", "4w3bs", Gate::g78},
    {'A', "V", "2w1b"},
    // B
    {'B', "ADYZ", "2b"},
    {'B', "BEFMNSW", "1b"},
    {'B', "LORU", "1b4w3b"},
    {'B', "X", "1b2ws21"},
    // C
    {'C', "ACP", "6w", Gate::g78},
    {'C', "BR", "", Gate::g78},
    {'C', "F", "2w2b", Gate::g78},
    {'C', "I", "2w1b", Gate::g78},
    {'C', "K", "2w", Gate::g78},
    {'C', "L", "2w", Gate::g78, Special::picture_file},
    {'C', "S", "4w", Gate::g78},
    {'C', "TU", "1b", Gate::g78},
    {'C', "W", "2b", Gate::g78},
    // D
    {'D', "FR", "1b"},
    {'D', "ILS", ""},
    {'D', "O", "1b", Gate::g6},
    {'D', "T", "2b", Gate::g6},
    // E
    {'E', "BEFGHA", "1b", Gate::g78},
    {'E', "CLR", "2b4ws99", Gate::g78},
    {'E', "DP", "2b", Gate::g78},
    {'E', "O", "4b", Gate::g78},
    {'E', "S", "s99", Gate::g78},
    {'E', "T", "3b", Gate::g78},
    // F
    {'F', "ADGIMTUWXZ", "2b"},
    {'F', "BRV", "3b"},
    {'F', "CP", "4b"},
    {'F', "E", "6b"},
    {'F', "FY", "2b", Gate::g78},
    {'F', "H", "4b", Gate::g78},
    {'F', "KS", "6b", Gate::g78},
    {'F', "NQ", "3b", Gate::g78},
    // G
    {'G', "DR", "4w"},
    {'G', "M", "1b"},
    {'G', "PSW", "2w"},
    {'G', "XY", "", Gate::all, Special::counted_words},
    {'G', "Z", "2b"},
    // I
    {'I', "ADYZ", "2b"},
    {'I', "FNW", "1b"},
    {'I', "P", "1b2w4b"},
    {'I', "X", "1b2ws21"},
    // K
    {'K', "A", "1b"},
    {'K', "BL", "1bs", Gate::g78},
    {'K', "D", "1b", Gate::g78},
    {'K', "EHMOS", "2b", Gate::g78},
    {'K', "F", "4b", Gate::g78},
    {'K', "P", "4w1b", Gate::g78},
    // M
    {'M', "AEJLU", "3b"},
    {'M', "BCKNPSTVX", "1b"},
    {'M', "D", "5b"},
    {'M', "GZ", "2b"},
    {'M', "M", "1b", Gate::g78},
    {'M', "RW", ""},
    // N
    {'N', "ANPS", "", Gate::g78},
    {'N', "D", "2w1bs", Gate::g78},
    {'N', "FMTW", "1b", Gate::g78},
    {'N', "YZ", "2b", Gate::g78},
    // R
    {'R', "C", "6w"},
    {'R', "E", "2b"},
    {'R', "FMO", "4w1b"},
    {'R', "ILRS", "4w"},
    // S
    {'S', "B", "", Gate::all, Special::send_bytes},
    {'S', "IJV", ""},
    {'S', "T", "1b"},
    // T
    {'T', "AEIJQRSV", ""},
    {'T', "C", "1b"},
    {'T', "P", "2b"},
    {'T', "W", "5b"},
    // U
    {'U', "H", "4w"},
    {'U', "I", "2w1b"},
    {'U', "L", "2w", Gate::all, Special::picture_file},
    {'U', "R", ""},
    {'U', "TWX", "1b"},
    {'U', "Z", "2b"},
    // V
    {'V', "+", "2b"},
    {'V', "@", "1b1w"},
    {'V', "ADRST", "1b"},
    {'V', "BFMW", "2b"},
    {'V', "E", "1bs25"},
    {'V', "G", "1b2w"},
    {'V', "K", "4b"},
    {'V', "YZ", "3b"},
    // W
    {'W', "CFMYZ", "2b"},
    {'W', "D", "1b2w3b"},
    {'W', "I", "2w2b"},
    {'W', "LNPTWX", "1b"},
    // Y
    {'Y', "+", "1b"},
    {'Y', "-", "2b", Gate::g78},
    {'Y', "@NP", ""},
    {'Y', "ABHILRSZ", "1b"},
    {'Y', "DEM", "3b"},
    {'Y', "Q", "", Gate::g78, Special::zero_string_42},
    {'Y', "T", "s", Gate::g78},
    {'Y', "V", "4b", Gate::g78},
    {'Y', "WX", "2b"},
    // Z
    {'Z', "B", "4w1bs"},
    {'Z', "CLR", "2ws"},
    {'Z', "FJW", "1b"},
    {'Z', "T", "", Gate::all, Special::any_bytes},
    {'Z', "YZ", "2b"},
};

// The first row of every first character, so that a lookup scans only the
// rows of its own letter.
inline constexpr std::array<std::int16_t, 128> first_rows = [] {
  std::array<std::int16_t, 128> rows{};
  rows.fill(-1);
  std::int16_t index = 0;
  for (const CommandRow& row : command_rows) {
    auto c = static_cast<unsigned char>(row.first);
    if (rows[c] < 0) rows[c] = index;
    ++index;
  }
  return rows;
}();

// The index of the row for a first character and (upper-case) second
// character, or -1. A row without second characters takes any second
// character.
constexpr int find_row(char first, char second) {
  auto c = static_cast<unsigned char>(first);
  if (c >= first_rows.size() || first_rows[c] < 0) return -1;
  for (std::size_t i = static_cast<std::size_t>(first_rows[c]); i < std::size(command_rows) && command_rows[i].first == first; ++i) {
    const CommandRow& row = command_rows[i];
    if (row.seconds.empty() || row.seconds.find(second) != std::string_view::npos) return static_cast<int>(i);
  }
  return -1;
}

inline const CommandRow* find_command(char first, char second) {
  int row = find_row(first, second);
  return row < 0 ? nullptr : &command_rows[row];
}

// The lookup scans the rows of one first character: they stand together.
constexpr bool rows_grouped_by_letter() {
  for (std::size_t i = 1; i < std::size(command_rows); ++i)
    if (command_rows[i].first != command_rows[i - 1].first)
      for (std::size_t j = 0; j + 1 < i; ++j)
        if (command_rows[j].first == command_rows[i].first) return false;
  return true;
}
static_assert(rows_grouped_by_letter());

// Only a row without second characters may take any or none.
constexpr bool second_forms_fit() {
  for (const CommandRow& row : command_rows)
    if ((row.second != Second::listed) != row.seconds.empty()) return false;
  return true;
}
static_assert(second_forms_fit());

static_assert(find_row('T', 'P') >= 0 && find_row('T', 'B') < 0);
static_assert(find_row('E', 'A') >= 0 && command_rows[find_row('E', 'A')].gate == Gate::g78);
static_assert(find_row('&', 'X') < 0);

}  // namespace vexa::command
