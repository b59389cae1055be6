// Output channels: the console, the front-end window (a descriptor given with
// -m) and the log file. Every text of the program goes through report_text or
// report_error_text with a mask naming the channels. The output knows nothing
// of the macro file: the error blocks that name a file and line are built
// above it, beside the source reader.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::base {

// Channel bits of an output mask.
inline constexpr int to_console = 1;
inline constexpr int to_window = 2;
inline constexpr int to_log = 4;
inline constexpr int to_all = 7;

// Console colour numbers (the 16-colour console palette).
inline constexpr int colour_normal = 7;  // light grey
inline constexpr int colour_error = 12;  // light red

// End codes of a posted text.
inline constexpr int end_output_text = 3;
inline constexpr int end_upload_path = 1;

struct Output {
  std::FILE* console = stdout;
  std::FILE* input = stdin;  // console line reads
  bool interactive = false;  // console is a terminal
  bool ansi_colour = false;  // console is a terminal and NO_COLOR is unset
  int colour = colour_normal;
  int window_fd = -1;  // front-end window descriptor, -1 for none
  std::FILE* log = nullptr;
  bool error_block[3] = {false, false, false};  // console, window, log
  int error_count = 0;
};

// Writes text to the channels of mask in normal colour.
void report_text(Output& out, std::string_view text, int mask);

// Texts an operation leaves for its caller to write, in order. Each is
// written as a text of its own, so that the window gets one message a line.
using ReportLines = std::vector<std::string>;
void report_lines(Output& out, const ReportLines& lines, int mask);

// Writes error text: a channel that was not in an error block first gets an
// empty line; the console shows the text in the error colour. Not counted.
void report_error_text(Output& out, std::string_view text, int mask);

// Sets the console foreground colour for all following output.
void set_text_colour(Output& out, int colour);

// Sends text to a window descriptor as the sequence of 12-byte message records
// (start, pieces of up to 6 bytes, end with end_code). A failed write is silent.
void post_text(int fd, std::string_view text, int end_code);

// Reads one line from standard input (without its line end), at most
// base::limits::console_line characters. Returns an empty text at end of input.
std::string read_console_line(Output& out);

}  // namespace vexa::base
