// The parameter-list parsers: byte lists, word lists and strings, written
// into the command buffer.
#include <algorithm>
#include <string>
#include <string_view>

#include "command/codetable.h"
#include "command/constants.h"
#include "command/context.h"
#include "command/encoder.h"
#include "command/expression.h"

namespace vexa::command {

namespace {

using command::current_char;

// A byte with the value 124 ('|') or 92 ('\') is preceded by 92, so that the
// module takes it as a literal character and not as a control character.
int put_hex_byte(CommandBuffer& buffer, std::uint8_t byte) {
  if (byte == 124 || byte == 92) {
    put_byte(buffer, 92);
    put_byte(buffer, byte);
    return 2;
  }
  put_byte(buffer, byte);
  return 1;
}

}  // namespace

void put_byte(CommandBuffer& buffer, std::uint8_t byte) {
  if (buffer.length >= static_cast<int>(buffer.bytes.size())) {
    buffer.overflow = true;
    return;
  }
  buffer.bytes[static_cast<std::size_t>(buffer.length++)] = byte;
}

// byte-list -> { quoted-string | '{' hex-pairs '}' | '!' string-constant | expression | ',' }
//              ending at ';', the end of the line, '<' (and '[' in a header)
int parse_byte_list(Context& ctx, int max) {
  command::Source& src = ctx.source;
  CommandBuffer& buffer = ctx.command;
  int produced = 0;
  command::skip_blanks(src);
  while (produced < max) {
    char c = current_char(src);
    if (c == ';' || c == '\0' || c == '<' || (c == '[' && src.header_mode)) break;
    if (c == '\'' || c == '"') {
      ++src.pos;
      std::size_t close = std::min(src.line.find(c, src.pos), src.line.size());
      for (char t : command::text_bytes(ctx, std::string_view(src.line).substr(src.pos, close - src.pos))) {
        if (produced >= max) break;
        put_byte(buffer, command::translate(ctx, static_cast<std::uint8_t>(t)));
        ++produced;
      }
      src.pos = close;
      if (current_char(src) == c) ++src.pos;
    } else if (c == '{') {
      ++src.pos;
      while (!command::at_line_end(src) && current_char(src) != '}') {
        char high = current_char(src);
        char low = command::char_at(src, src.pos + 1);
        if (low == '}' || low == '\0') {  // a single digit before the end gives nothing
          ++src.pos;
          break;
        }
        src.pos += 2;
        int h = hex_digit(high), l = hex_digit(low);
        if (h < 0 || l < 0 || produced >= max) continue;
        produced += put_hex_byte(buffer, static_cast<std::uint8_t>(h * 16 + l));
      }
      if (current_char(src) == '}') ++src.pos;
    } else if (c == '!') {
      std::string text;
      if (expand_string_constant(ctx, text)) {
        for (char t : text) {
          if (produced >= max) break;
          put_byte(buffer, static_cast<std::uint8_t>(t));
          ++produced;
        }
      }
    } else if (c == ',') {
      ++src.pos;
    } else {
      std::int32_t value = evaluate_expression(ctx);
      if (value < 0 || value > 255) {
        command::report_error(ctx, "parameter exceeds bytesize (0..255)");
        value = 255;
      }
      put_byte(buffer, static_cast<std::uint8_t>(value));
      ++produced;
    }
    command::skip_blanks(src);
  }
  return produced;
}

// word-list -> { expression | ',' } ending at ';', the end of the line, '<' or a quote
int parse_word_list(Context& ctx, int max) {
  command::Source& src = ctx.source;
  int produced = 0;
  command::skip_blanks(src);
  while (produced < max) {
    char c = current_char(src);
    if (c == ';' || c == '\0' || c == '<' || c == '\'' || c == '"') break;
    if (c == ',') {
      ++src.pos;
    } else {
      std::uint32_t value = static_cast<std::uint32_t>(evaluate_expression(ctx));
      put_byte(ctx.command, static_cast<std::uint8_t>(value));
      put_byte(ctx.command, static_cast<std::uint8_t>(value >> 8));
      ++produced;
    }
    command::skip_blanks(src);
  }
  return produced;
}

int parse_header_numbers(Context& ctx, int max, std::int32_t* values) {
  command::Source& src = ctx.source;
  bool was_header = src.header_mode;
  src.header_mode = true;
  int produced = 0;
  command::skip_blanks(src);
  while (true) {
    char c = current_char(src);
    if (c == ';' || c == '\0' || c == '<' || c == '[') break;
    if (c == ',') {
      ++src.pos;
    } else {
      std::int32_t value = evaluate_expression(ctx);
      if (produced < max) values[produced] = value;
      ++produced;
      if (produced >= max) break;
    }
    command::skip_blanks(src);
  }
  src.header_mode = was_header;
  return produced;
}

int parse_string_param(Context& ctx, int max) {
  CommandBuffer& buffer = ctx.command;
  int start = buffer.length;
  parse_byte_list(ctx, max);
  while (buffer.length > start) {
    std::uint8_t last = buffer.bytes[static_cast<std::size_t>(buffer.length - 1)];
    if (last != 0 && last != 13 && last != 10) break;
    --buffer.length;
  }
  put_byte(buffer, 0);
  return buffer.length - start;
}

}  // namespace vexa::command
