#include "command/encoder.h"

#include <cctype>
#include <string>

#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/parameters.h"
#include "command/source.h"
#include "command/work_areas.h"

namespace vexa::command {

namespace {

constexpr const char* not_valid = "not a valid command !";
constexpr const char* wrong_count = "wrong number of parameters";

// Longest string (terminator included) of the commands marked s. Before any
// model line the table's largest value applies, so that no string is refused
// only because the model line comes later.
int max_string(const Context& ctx) {
  int model = ctx.settings.model;
  return model >= 0 ? base::models[static_cast<std::size_t>(model)].max_string : 255;
}

// Parses the parameter segments of a row; false when a segment's count or a
// string limit is not met.
bool parse_segments(Context& ctx, std::string_view params) {
  std::size_t i = 0;
  while (i < params.size()) {
    const Segment segment = next_segment(params, i);
    if (segment.kind == 's') {
      int length = parse_string_param(ctx, base::limits::list_unlimited);
      int allowed = segment.limit > 0 ? segment.limit + 1 : max_string(ctx);
      if (length > allowed) return false;
      continue;
    }
    bool last = i >= params.size();
    int max = last ? base::limits::list_unlimited : segment.count;
    int produced = segment.kind == 'w' ? parse_word_list(ctx, max) : parse_byte_list(ctx, max);
    if (produced != segment.count) return false;
  }
  return true;
}

// Reserves a count byte, parses values, and fills the count in: 1 to 255
// values are accepted.
bool counted_list(Context& ctx, bool words) {
  CommandBuffer& buffer = ctx.command;
  int count_at = buffer.length;
  put_byte(buffer, 0);
  int produced = words ? parse_word_list(ctx, base::limits::list_unlimited) : parse_byte_list(ctx, base::limits::list_unlimited);
  if (produced < 1 || produced > 255 || buffer.overflow) return false;
  buffer.bytes[static_cast<std::size_t>(count_at)] = static_cast<std::uint8_t>(produced);
  return true;
}

// SB: a counted byte list and/or the contents of a file sent as SB commands.
int send_bytes(Context& ctx) {
  command::Source& src = ctx.source;
  bool sent = false;
  if (counted_list(ctx, false)) {
    if (!flush_command(ctx)) return 0;
    sent = true;
  }
  ctx.command.length = 0;
  ctx.command.overflow = false;
  if (current_char(src) == '<') {
    std::string name;
    if (!command::read_file_name(ctx, name)) return 0;
    std::string bytes;
    if (!base::read_whole_file(name, bytes)) {
      report_error(ctx, vexa::base::format("Cannot Open File <%s> !", name.c_str()));
      return 0;
    }
    std::size_t at = 0;
    while (at < bytes.size()) {
      std::size_t chunk = bytes.size() - at > 254 ? 255 : bytes.size() - at;
      CommandBuffer& buffer = ctx.command;
      buffer.length = 0;
      put_byte(buffer, esc);
      put_byte(buffer, 'S');
      put_byte(buffer, 'B');
      put_byte(buffer, static_cast<std::uint8_t>(chunk));
      for (std::size_t k = 0; k < chunk; ++k) put_byte(buffer, static_cast<std::uint8_t>(bytes[at + k]));
      if (!flush_command(ctx)) return 0;
      at += chunk;
    }
    return 1;
  }
  if (!sent) {
    report_error(ctx, wrong_count);
    return 0;
  }
  return 1;
}

// YQ: a byte list whose last byte 0, if any, is its terminator; at most 42
// bytes besides it.
bool zero_string_42(Context& ctx) {
  CommandBuffer& buffer = ctx.command;
  int start = buffer.length;
  parse_byte_list(ctx, base::limits::list_unlimited);
  int counted = buffer.length - start;
  if (counted > 0 && buffer.bytes[static_cast<std::size_t>(buffer.length - 1)] == 0)
    --counted;
  else
    put_byte(buffer, 0);
  return counted <= 42;
}

}  // namespace

bool gate_admits(Gate gate, int model) {
  switch (gate) {
    case Gate::all: return true;
    case Gate::g78: return base::is_large_model(model);
    case Gate::g6: return model == base::model_vexag6;
  }
  return false;
}

int flush_command(Context& ctx) {
  CommandBuffer& buffer = ctx.command;
  int ok = append_macro_bytes(ctx, buffer.bytes.data(), buffer.length);
  buffer.length = 0;
  return ok;
}

int append_macro_bytes(Context& ctx, const std::uint8_t* bytes, int count) {
  command::DataFlash& flash = ctx.flash;
  if (!append_to_area(ctx, flash.image, flash.image_pos, bytes, static_cast<std::size_t>(count))) return 0;
  ctx.macro.bytes += count;
  return 1;
}

// command -> C1 [C2] parameters
int encode_command(Context& ctx) {
  command::Source& src = ctx.source;
  CommandBuffer& buffer = ctx.command;
  buffer.length = 0;
  buffer.overflow = false;
  put_byte(buffer, esc);
  command::skip_blanks(src);
  char first = static_cast<char>(std::toupper(static_cast<unsigned char>(current_char(src))));
  if (!command::at_line_end(src)) ++src.pos;
  put_byte(buffer, static_cast<std::uint8_t>(first));
  command::skip_blanks(src);
  char raw_second = current_char(src);
  char second = static_cast<char>(std::toupper(static_cast<unsigned char>(raw_second)));

  const CommandRow* row = first != '\0' ? find_command(first, second) : nullptr;
  if (row == nullptr || !gate_admits(row->gate, ctx.settings.model)) {
    report_error(ctx, not_valid);
    return 0;
  }
  // The second character is stored; at the end of the line (a bare '#%' or
  // '#$') that is the line's terminating 0, and the position stays there.
  if (row->second != Second::none) {
    if (!command::at_line_end(src)) ++src.pos;
    put_byte(buffer, static_cast<std::uint8_t>(row->second == Second::any ? raw_second : second));
  }

  bool ok = true;
  switch (row->special) {
    case Special::none: ok = parse_segments(ctx, row->params); break;
    case Special::any_bytes: parse_byte_list(ctx, base::limits::list_unlimited); break;
    case Special::at_least_7: ok = parse_byte_list(ctx, base::limits::list_unlimited) >= 7; break;
    case Special::at_least_5: ok = parse_byte_list(ctx, base::limits::list_unlimited) >= 5; break;
    case Special::counted_bytes:
      if (!counted_list(ctx, false)) {
        report_error(ctx, wrong_count);
        return 0;
      }
      return flush_command(ctx);
    case Special::counted_words:
      if (parse_byte_list(ctx, 1) != 1 || !counted_list(ctx, true)) {
        report_error(ctx, wrong_count);
        return 0;
      }
      return flush_command(ctx);
    case Special::send_bytes: return send_bytes(ctx);
    case Special::picture_file: return picture_follows;
    case Special::zero_string_42:
      if (!zero_string_42(ctx)) {
        report_error(ctx, not_valid);
        return 0;
      }
      break;
  }
  // A command longer than the command buffer cannot be sent to the module in
  // one piece; it is refused rather than cut.
  if (buffer.overflow) {
    report_error(ctx, vexa::base::format("command too long (more than %zu bytes) !", base::limits::command_buffer));
    return 0;
  }
  if (!ok) {
    report_error(ctx, wrong_count);
    return 0;
  }
  ++ctx.macro.commands;
  return flush_command(ctx);
}

}  // namespace vexa::command
