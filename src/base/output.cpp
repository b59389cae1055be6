#include "base/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <iostream>
#include <vector>

#include "base/format.h"
#include "base/limits.h"

namespace vexa::base {

namespace {

constexpr int channel_console = 0;
constexpr int channel_window = 1;
constexpr int channel_log = 2;

// Message numbers of a posted text.
constexpr std::uint32_t message_text = 1034;

// A terminal sees every text at once; a file or pipe gets whole buffers,
// except for texts that do not end a line (a prompt, a progress figure),
// which must be visible before the program waits.
void write_console(Output& out, std::string_view text) {
  if (out.console == nullptr || text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), out.console);
  if (out.interactive || text.back() != '\n') std::fflush(out.console);
}

void write_log(Output& out, std::string_view text) {
  if (out.log != nullptr && !text.empty()) std::fwrite(text.data(), 1, text.size(), out.log);
}

void put_record(std::vector<std::uint8_t>& records, std::uint32_t message, std::uint32_t wparam,
                std::uint32_t lparam) {
  for (std::uint32_t v : {message, wparam, lparam})
    for (int i = 0; i < 4; ++i) records.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void set_text_colour(Output& out, int colour) {
  if (out.colour == colour) return;
  out.colour = colour;
  if (!out.ansi_colour) return;
  // Only the foreground changes; the terminal's background stays as it is.
  write_console(out, colour == colour_error ? "\x1b[91m" : "\x1b[39m");
}

void post_text(int fd, std::string_view text, int end_code) {
  if (fd < 0) return;
  std::vector<std::uint8_t> records;
  records.reserve(12 * (2 + text.size() / 6 + 1));
  put_record(records, message_text, 0, 0);
  for (std::size_t at = 0; at < text.size(); at += 6) {
    std::size_t n = std::min<std::size_t>(6, text.size() - at);
    std::uint8_t b[6] = {0, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(text[at + i]);
    std::uint32_t wparam = b[0] + 256u * b[2];
    std::uint32_t lparam = b[1] + 256u * b[3] + 65536u * b[4] + 16777216u * b[5];
    put_record(records, message_text + static_cast<std::uint32_t>(n), wparam, lparam);
  }
  put_record(records, message_text, static_cast<std::uint32_t>(end_code), 0);
  // A front-end that went away must not stop the compiler: a failed write is
  // dropped without a message.
  std::size_t done = 0;
  while (done < records.size()) {
    ssize_t n = ::write(fd, records.data() + done, records.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void report_text(Output& out, std::string_view text, int mask) {
  if (mask & to_console) {
    write_console(out, text);
    out.error_block[channel_console] = false;
  }
  if ((mask & to_window) && out.window_fd >= 0) {
    post_text(out.window_fd, text, end_output_text);
    out.error_block[channel_window] = false;
  }
  if ((mask & to_log) && out.log != nullptr) {
    write_log(out, text);
    out.error_block[channel_log] = false;
  }
}

void report_lines(Output& out, const ReportLines& lines, int mask) {
  for (const std::string& line : lines) report_text(out, line, mask);
}

void report_error_text(Output& out, std::string_view text, int mask) {
  if (mask & to_console) {
    if (!out.error_block[channel_console]) write_console(out, "\r\n");
    set_text_colour(out, colour_error);
    write_console(out, text);
    set_text_colour(out, colour_normal);
    out.error_block[channel_console] = true;
  }
  if ((mask & to_window) && out.window_fd >= 0) {
    if (!out.error_block[channel_window]) post_text(out.window_fd, "\r\n", end_output_text);
    post_text(out.window_fd, text, end_output_text);
    out.error_block[channel_window] = true;
  }
  if ((mask & to_log) && out.log != nullptr) {
    if (!out.error_block[channel_log]) write_log(out, "\r\n");
    write_log(out, text);
    out.error_block[channel_log] = true;
  }
}

std::string read_console_line(Output& out) {
  std::string line;
  int c;
  if (out.console != nullptr) std::fflush(out.console);
  if (out.input == nullptr) return line;
  while ((c = std::fgetc(out.input)) != EOF && c != '\n') {
    if (line.size() < base::limits::console_line) line += static_cast<char>(c);
  }
  while (!line.empty() && (line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace vexa::base
