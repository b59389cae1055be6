#include "command/parameters.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <strings.h>

#include "base/format.h"
#include "command/constants.h"
#include "command/expression.h"
#include "command/source.h"

namespace vexa::command {

namespace {

// c through the current code table.
std::uint8_t translate(const Context& ctx, std::uint8_t c) {
  int t = ctx.settings.code_table;
  if (t < 0 || t >= base::limits::code_tables) return c;
  return ctx.code_tables.tables[static_cast<std::size_t>(t)][c];
}

// Formats value for !STR()!, !HEXSTR()! and !BINSTR()!, padded on the left to
// the width's magnitude (zeros for a positive width, blanks for a negative one).
std::string format_function(int kind, std::int32_t value, std::int32_t width) {
  std::string digits;
  if (kind == 0) {
    digits = vexa::base::format("%d", value);
  } else if (kind == 1) {
    digits = vexa::base::format("%X", static_cast<unsigned>(value));
  } else {
    std::uint32_t v = static_cast<std::uint32_t>(value);
    do {
      digits.insert(digits.begin(), static_cast<char>('0' + (v & 1)));
      v >>= 1;
    } while (v != 0);
  }
  // The padded text is inserted through a 512-byte buffer; wider requests are
  // held to what that buffer can carry.
  std::int64_t magnitude = width < 0 ? -static_cast<std::int64_t>(width) : width;
  std::size_t wanted = static_cast<std::size_t>(std::min<std::int64_t>(magnitude, base::limits::expansion_buffer - 1));
  if (digits.size() < wanted) digits.insert(0, wanted - digits.size(), width > 0 ? '0' : ' ');
  return digits;
}

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
//              ending at ';', the end of the line or '<' (in a header also '[')
int parse_byte_list(Context& ctx, int max, Translation translation, Place place) {
  command::Source& src = ctx.source;
  CommandBuffer& buffer = ctx.command;
  int produced = 0;
  command::skip_blanks(src);
  while (produced < max) {
    char c = current_char(src);
    if (c == ';' || c == '\0' || c == '<' || (c == '[' && place == Place::header)) break;
    if (c == '\'' || c == '"') {
      ++src.pos;
      std::size_t close = std::min(src.line.find(c, src.pos), src.line.size());
      for (char t : command::text_bytes(ctx, std::string_view(src.line).substr(src.pos, close - src.pos))) {
        if (produced >= max) break;
        std::uint8_t byte = static_cast<std::uint8_t>(t);
        put_byte(buffer, translation == Translation::on ? translate(ctx, byte) : byte);
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
      if (expand_string_constant(ctx, text, translation)) {
        for (char t : text) {
          if (produced >= max) break;
          put_byte(buffer, static_cast<std::uint8_t>(t));
          ++produced;
        }
      }
    } else if (c == ',') {
      ++src.pos;
    } else {
      std::int32_t value = evaluate_expression(ctx, place);
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

int parse_header_number(Context& ctx, int max, int& first) {
  CommandBuffer& buffer = ctx.command;
  buffer.length = 0;
  buffer.overflow = false;
  const int count = parse_byte_list(ctx, max, Translation::on, Place::header);
  first = count > 0 ? buffer.bytes[0] : 0;
  buffer.length = 0;
  return count;
}

int parse_string_param(Context& ctx, int max, Translation translation) {
  CommandBuffer& buffer = ctx.command;
  int start = buffer.length;
  parse_byte_list(ctx, max, translation);
  while (buffer.length > start) {
    std::uint8_t last = buffer.bytes[static_cast<std::size_t>(buffer.length - 1)];
    if (last != 0 && last != 13 && last != 10) break;
    --buffer.length;
  }
  put_byte(buffer, 0);
  return buffer.length - start;
}

// reference -> '!' NAME '!' | '!' FUNCTION '(' value sep width ')' '!'
bool expand_string_constant(Context& ctx, std::string& text, Translation translation) {
  command::Source& src = ctx.source;
  text.clear();
  ++src.pos;  // '!'
  std::string name = read_identifier(ctx);
  char c = current_char(src);
  if (c == '!') {
    ++src.pos;
    const std::string* value = string_constant_text(ctx.constants, name);
    if (value == nullptr) {
      report_error(ctx, vexa::base::format("string-constant !%s! not defined !", name.c_str()));
      return false;
    }
    for (char v : *value) {
      if (text.size() >= base::limits::expansion_buffer - 1) break;
      std::uint8_t byte = static_cast<std::uint8_t>(v);
      text += static_cast<char>(translation == Translation::on ? translate(ctx, byte) : byte);
    }
    return !text.empty();
  }
  if (c != '(') {
    report_error(ctx, "string-constant syntax error e.g. !NAME!");
    return false;
  }
  ++src.pos;
  std::int32_t value = evaluate_argument(ctx);
  command::skip_blanks(src);
  if (!command::at_line_end(src)) ++src.pos;  // one separator character
  std::int32_t width = evaluate_argument(ctx);
  command::skip_blanks(src);
  if (current_char(src) != ')') {
    report_error(ctx, "missing closing bracket ')'");
  } else {
    ++src.pos;
  }
  if (current_char(src) != '!') {
    report_error(ctx, "string constant function syntax error e.g. !NAME(...)!");
    return false;
  }
  ++src.pos;
  int kind;
  if (::strcasecmp(name.c_str(), "STR") == 0) kind = 0;
  else if (::strcasecmp(name.c_str(), "HEXSTR") == 0) kind = 1;
  else if (::strcasecmp(name.c_str(), "BINSTR") == 0) kind = 2;
  else {
    report_error(ctx, vexa::base::format("unknown string constant function '%s()' !", name.c_str()));
    return false;
  }
  text = format_function(kind, value, width);
  return true;
}

}  // namespace vexa::command
