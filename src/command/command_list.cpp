#include "command/command_list.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "base/format.h"
#include "base/models.h"
#include "command/command_table.h"
#include "command/encoder.h"

namespace vexa::command {

namespace {

std::string plural(int count, const char* word) {
  return base::format("%d %s%s", count, word, count == 1 ? "" : "s");
}

// The parameter segments in words: "2w1bs21" reads "2 words, 1 byte, string
// of at most 21 bytes"; a plain "s" is limited by the model's string length.
std::string describe_segments(std::string_view params) {
  std::string text;
  std::size_t i = 0;
  while (i < params.size()) {
    const Segment segment = next_segment(params, i);
    if (!text.empty()) text += ", ";
    if (segment.kind == 's')
      text += segment.limit > 0 ? base::format("string of at most %d bytes", segment.limit) : std::string("string");
    else
      text += plural(segment.count, segment.kind == 'w' ? "word" : "byte");
  }
  return text.empty() ? "none" : text;
}

std::string describe_parameters(const CommandRow& row) {
  switch (row.special) {
    case Special::none: return describe_segments(row.params);
    case Special::any_bytes: return "any number of bytes";
    case Special::counted_bytes: return "1 to 255 bytes, sent with their count";
    case Special::at_least_7: return "at least 7 bytes";
    case Special::at_least_5: return "at least 5 bytes";
    case Special::counted_words: return "1 byte, then 1 to 255 words sent with their count";
    case Special::send_bytes: return "1 to 255 bytes sent with their count, and/or <file>";
    case Special::picture_file: return describe_segments(row.params) + ", <picture file>";
    case Special::zero_string_42: return "up to 42 bytes, zero-terminated";
  }
  return "";
}

// The models whose selection lets the encoder accept a command of this gate.
std::string describe_models(Gate gate) {
  std::string names;
  int admitted = 0;
  for (std::size_t model = 0; model < base::models.size(); ++model) {
    if (!gate_admits(gate, static_cast<int>(model))) continue;
    names += (names.empty() ? "" : " ") + std::string(base::models[model].name);
    ++admitted;
  }
  return admitted == static_cast<int>(base::models.size()) ? "all" : names;
}

}  // namespace

std::string command_list() {
  struct Line {
    std::string name, parameters, models;
  };
  std::vector<Line> lines;
  for (const CommandRow& row : command_rows) {
    std::string parameters = describe_parameters(row);
    std::string models = describe_models(row.gate);
    // A command that takes any second character shows it as 'c'.
    if (row.second != Second::listed)
      lines.push_back({std::string(1, row.first) + (row.second == Second::any ? "c" : ""), parameters, models});
    for (char second : row.seconds) lines.push_back({std::string{row.first, second}, parameters, models});
  }
  std::sort(lines.begin(), lines.end(), [](const Line& a, const Line& b) { return a.name < b.name; });
  std::string text;
  for (const Line& line : lines)
    text += base::format("#%-4s  %-52s  %s\n", line.name.c_str(), line.parameters.c_str(), line.models.c_str());
  return text;
}

}  // namespace vexa::command
