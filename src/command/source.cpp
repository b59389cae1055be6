#include "command/source.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "base/format.h"
#include "base/paths.h"

namespace vexa::command {

namespace {

constexpr const char* no_file_name = "Cannot found a Filename !";

// A name longer than the program's name buffers is refused rather than cut:
// a cut name would silently open a different file.
bool name_fits(Context& ctx, const std::string& name) {
  if (name.size() <= base::limits::name_length) return true;
  report_error(ctx, base::format("File name too long (max. %zu characters) !", base::limits::name_length));
  return false;
}

SourceLevel& current_level(Context& ctx) { return ctx.source.levels[static_cast<std::size_t>(ctx.source.current)]; }

// Copies a project name from text[start...]: stops at stop, at a character
// below 32 or after 40 characters; every '#' is written twice, because the
// name is later printed inside display command text where '#' starts a command.
std::string copy_project_name(const std::string& text, std::size_t start, char stop) {
  std::string name;
  std::size_t copied = 0;
  for (std::size_t i = start; i < text.size() && copied < base::limits::project_name_chars; ++i, ++copied) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == static_cast<unsigned char>(stop) || c < 32) break;
    name += static_cast<char>(c);
    if (c == '#') name += '#';
  }
  return name;
}

// The folder relative names are taken from: the one the compiler was started
// in, or the root folder of a confined run.
std::string start_folder(const Context& ctx) {
  const std::string& root = ctx.settings.root_folder;
  return root.empty() ? base::current_directory() : root;
}

// Turns a name read from the macro file into a full path: the current level's
// PATH goes in front of a plain name; a name starting with '.' is taken
// relative to the current source file, any other relative name relative to
// the directory the compiler was started in (the root folder of a confined
// run).
std::string make_full_path(Context& ctx, const std::string& raw) {
  std::string name = base::to_slashes(raw);
  const SourceLevel* level = ctx.source.current >= 0 ? &current_level(ctx) : nullptr;
  if (name.find(':') == std::string::npos && !(name.size() > 0 && (name[0] == '.' || name[0] == '/')) &&
      level != nullptr)
    name = base::to_slashes(level->path) + name;
  if (!name.empty() && name[0] == '.' && level != nullptr) return base::full_path(name, level->directory);
  return base::full_path(name, start_folder(ctx));
}

// Fills the file list from a wildcard pattern (a full path with '?').
void wildcard_search(Context& ctx, const std::string& pattern) {
  FileList& list = ctx.source.file_list;
  list.first_number = -1;
  std::vector<std::string> found = base::find_matches(pattern, base::limits::file_list_entries);
  if (found.empty()) return;
  list.directory = base::directory_of(pattern);
  // The number at the first '?' of the name part, read from the first match.
  std::string mask = base::file_name_of(pattern);
  std::size_t at = mask.find('?');
  const std::string& first = found.front();
  if (at != std::string::npos && at < first.size()) {
    std::size_t i = at;
    while (i < first.size() && first[i] == ' ') ++i;
    if (i < first.size() && std::isdigit(static_cast<unsigned char>(first[i]))) {
      long number = 0;
      while (i < first.size() && std::isdigit(static_cast<unsigned char>(first[i])) && number < 100000000)
        number = number * 10 + (first[i++] - '0');
      list.first_number = static_cast<int>(number);
    }
  }
  list.names = std::move(found);
}

// Length of the UTF-8 sequence at text[at] and its code point, or 0 when the
// bytes there are not one (overlong forms and surrogates included).
std::size_t utf8_sequence(std::string_view text, std::size_t at, std::uint32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                     : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  code = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  static constexpr std::uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// A file is read as UTF-8 when it says so with a byte-order mark, or when it
// is valid UTF-8 and holds at least one character beyond ASCII: a file in a
// single-byte code page practically never passes that test, so projects
// written on Windows keep their bytes.
bool is_utf8_text(std::string_view text) {
  bool multi_byte = false;
  std::uint32_t code = 0;
  for (std::size_t at = 0; at < text.size();) {
    if (static_cast<unsigned char>(text[at]) < 0x80) {
      ++at;
      continue;
    }
    std::size_t length = utf8_sequence(text, at, code);
    if (length == 0) return false;
    multi_byte = true;
    at += length;
  }
  return multi_byte;
}

// The Windows-1252 byte of a code point, or -1. Bytes A0-FF are the same
// code points; 80-9F hold the typographic characters below.
int windows_1252(std::uint32_t code) {
  static constexpr std::uint16_t high[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
  for (int i = 0; i < 32; ++i)
    if (high[i] != 0 && high[i] == code) return 0x80 + i;
  return -1;
}

// Reports that the run's line budget is spent and ends the reading.
void too_many_lines(Context& ctx, const std::string& name) {
  report_error(ctx, base::format("Cannot Open File <%s> ! (more than %lld source lines in all)", name.c_str(),
                           ctx.settings.max_source_lines));
  close_all_sources(ctx);
}

}  // namespace

void to_separator(Source& s) {
  const auto is_separator = [](char c) {
    return c == ' ' || c == '\t' || c == ',' || c == ';' || c == ':' || c == '<' || c == '\0';
  };
  while (!is_separator(current_char(s))) ++s.pos;
}

int open_source(Context& ctx, const std::string& raw_name, int repeat) {
  Source& src = ctx.source;
  std::string name = base::to_slashes(raw_name);
  // Ten levels deep is far beyond any real project; a file that includes
  // itself would otherwise grow the stack without end.
  if (src.current + 1 >= base::limits::source_levels) {
    report_error(ctx, base::format("Cannot Open File <%s> ! (more than %d nested files)", name.c_str(),
                             base::limits::source_levels));
    return 0;
  }
  SourceLevel level;
  level.name = name;
  level.repeat = repeat;
  // The folder is made full, as the names taken relative to it are: a file
  // given as "proj/main.txt" names its includes "/.../proj/inc.txt".
  level.directory = base::full_path(base::directory_of(name), start_folder(ctx));
  if (name.empty() || !base::read_whole_file(name, level.content)) {
    report_error(ctx, base::format("Cannot Open File <%s> !", name.c_str()));
    return 0;
  }
  // Checked before the first line is read, so that a huge repeat count ends
  // at once; reading stops there, as every further pass would fail alike.
  const long long lines = std::count(level.content.begin(), level.content.end(), '\n') + 1;
  if (lines > (ctx.settings.max_source_lines - src.lines_read) / std::max(repeat, 1)) {
    too_many_lines(ctx, name);
    return 0;
  }
  if (level.content.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    level.utf8 = true;
    level.start = level.offset = 3;
  } else {
    level.utf8 = is_utf8_text(level.content);
  }
  ++src.current;
  src.levels[static_cast<std::size_t>(src.current)] = std::move(level);
  report_text(ctx.out, base::format("Open File <%s>\r\n", name.c_str()), base::to_all);
  return 1;
}

int read_source_line(Context& ctx) {
  Source& src = ctx.source;
  if (src.current < 0) return 0;
  SourceLevel& level = current_level(ctx);
  const std::string& text = level.content;
  if (level.offset >= text.size()) return 0;
  if (src.lines_read >= ctx.settings.max_source_lines) {
    too_many_lines(ctx, level.name);
    return 0;
  }
  ++src.lines_read;
  std::size_t limit = std::min(text.size(), level.offset + base::limits::line_length);
  const void* feed = std::memchr(text.data() + level.offset, '\n', limit - level.offset);
  // The line feed belongs to the line; a longer line goes on as the next one.
  std::size_t end = feed != nullptr ? static_cast<std::size_t>(static_cast<const char*>(feed) - text.data()) + 1 : limit;
  src.line.assign(text, level.offset, end - level.offset);
  level.offset = end;
  ++level.line_number;
  // The line is a text: a byte 0 ends it.
  std::size_t nul = src.line.find('\0');
  if (nul != std::string::npos) src.line.resize(nul);
  // Trailing control characters go, but never the line's first character.
  while (src.line.size() > 1 && static_cast<unsigned char>(src.line.back()) < 32) src.line.pop_back();
  src.pos = 0;
  return 1;
}

int end_of_source(Context& ctx) {
  Source& src = ctx.source;
  if (src.current < 0) return 0;
  SourceLevel& level = current_level(ctx);
  if (level.repeat < 2) {
    level = SourceLevel{};
    --src.current;
    return src.current >= 0 ? 1 : 0;
  }
  level.offset = level.start;
  --level.repeat;
  level.line_number = 0;
  return 1;
}

void close_all_sources(Context& ctx) {
  while (ctx.source.current >= 0) {
    current_level(ctx) = SourceLevel{};
    --ctx.source.current;
  }
}

int read_bracket_name(Context& ctx, std::string& buffer) {
  Source& src = ctx.source;
  std::size_t open = src.line.find('<', src.pos);
  buffer.clear();
  if (open == std::string::npos) return 0;
  std::size_t i = open + 1;
  while (i < src.line.size() && src.line[i] != '>' && static_cast<unsigned char>(src.line[i]) >= 32)
    buffer += src.line[i++];
  src.pos = i;
  return 1;
}

int read_file_name(Context& ctx, std::string& buffer) {
  ctx.source.file_list = FileList{};
  if (!read_bracket_name(ctx, buffer)) {
    report_error(ctx, no_file_name);
    return 0;
  }
  if (!name_fits(ctx, buffer)) return 0;
  buffer = make_full_path(ctx, buffer);
  if (!name_fits(ctx, buffer)) return 0;
  if (base::confined_path(ctx.settings.root_folder, buffer).empty()) {
    report_error(ctx, base::format("<%s> lies outside the folder of the run !", buffer.c_str()));
    return 0;
  }
  if (buffer.find('?') != std::string::npos) wildcard_search(ctx, buffer);
  return 1;
}

std::string text_bytes(Context& ctx, std::string_view raw) {
  const Source& src = ctx.source;
  if (src.current < 0 || !src.levels[static_cast<std::size_t>(src.current)].utf8) return std::string(raw);
  std::string bytes;
  bytes.reserve(raw.size());
  for (std::size_t at = 0; at < raw.size();) {
    std::uint32_t code = 0;
    std::size_t length = utf8_sequence(raw, at, code);
    if (length == 0) {  // a line cut inside a character: its bytes as they are
      bytes += raw[at++];
      continue;
    }
    int byte = windows_1252(code);
    if (byte < 0)
      report_error(ctx, base::format("the character U+%04X (%.*s) has no Windows-1252 code !", code,
                               static_cast<int>(length), raw.data() + at));
    else
      bytes += static_cast<char>(byte);
    at += length;
  }
  return bytes;
}

int read_quoted_text(Context& ctx, std::string& buffer) {
  Source& src = ctx.source;
  buffer.clear();
  std::size_t open = src.line.find('"', src.pos);
  if (open == std::string::npos) return 0;
  std::size_t close = src.line.find('"', open + 1);
  if (close == std::string::npos) return 0;
  buffer = src.line.substr(open + 1, close - open - 1);
  src.pos = close + 1;
  return 1;
}

// A name in double quotes: from the first quote to the next one or to the
// first control character, where the parse position is left. A missing
// closing quote ends the name at the end of the line.
int read_quoted_file_name(Context& ctx, std::string& buffer) {
  Source& src = ctx.source;
  buffer.clear();
  std::size_t open = src.line.find('"', src.pos);
  if (open == std::string::npos) {
    report_error(ctx, no_file_name);
    return 0;
  }
  std::size_t end = open + 1;
  while (end < src.line.size() && src.line[end] != '"' && static_cast<unsigned char>(src.line[end]) >= 32) ++end;
  buffer = src.line.substr(open + 1, end - open - 1);
  src.pos = end;
  return 1;
}

int read_project_name(Context& ctx, std::string& buffer) {
  const Source& src = ctx.source;
  static constexpr char openers[3] = {'<', '\'', '"'};
  static constexpr char closers[3] = {'>', '\'', '"'};
  for (int kind = 0; kind < 3; ++kind) {
    std::size_t open = src.line.find(openers[kind], src.pos);
    if (open == std::string::npos) continue;
    buffer = copy_project_name(src.line, open + 1, closers[kind]);
    return 1;
  }
  return 0;
}

std::string project_name_from_path(const std::string& path) {
  std::string slashed = base::to_slashes(path);
  return copy_project_name(base::file_name_of(slashed), 0, '\0');
}

void set_path(Context& ctx) {
  if (ctx.source.current < 0) return;
  std::string path;
  if (!read_bracket_name(ctx, path)) {
    current_level(ctx).path.clear();
    report_error(ctx, "Cannot found a Path !");
    return;
  }
  path = base::to_slashes(path);
  if (!name_fits(ctx, path)) {
    current_level(ctx).path.clear();
    return;
  }
  if (!path.empty() && path.back() != '/') path += '/';
  current_level(ctx).path = path;
}

// --- error reports about the macro file ---------------------------------------

void report_error(Context& ctx, std::string_view message) {
  Source& src = ctx.source;
  if (src.current < 0) {
    report_error_text(ctx.out, message, base::to_all);
    return;
  }
  const SourceLevel& level = src.levels[static_cast<std::size_t>(src.current)];
  report_error_at(ctx, level.name, level.line_number, message);
}

void report_error_at(Context& ctx, std::string_view file_name, int line_number, std::string_view message) {
  base::Output& out = ctx.out;
  const Source& src = ctx.source;
  base::report_error_text(out, base::format("--->ERROR in file <%.*s>\r\n", static_cast<int>(file_name.size()), file_name.data()),
                    base::to_all);
  report_error_text(out, base::format("--->LINE %d: %.*s\r\n", line_number, static_cast<int>(message.size()),
                                message.data()),
                    base::to_all);
  const std::string& shown = src.shown_line.empty() ? src.line : src.shown_line;
  report_error_text(out, base::format("--->'%s'\r\n", shown.c_str()), base::to_console | base::to_log);
  report_error_text(out, "\r\n", base::to_all);
  ++out.error_count;
}

void report_warning(Context& ctx, std::string_view message) {
  const Source& src = ctx.source;
  std::string text = "\r\n";
  if (src.current >= 0) {
    const SourceLevel& level = src.levels[static_cast<std::size_t>(src.current)];
    const std::string& shown = src.shown_line.empty() ? src.line : src.shown_line;
    text += base::format("--->WARNING in file <%s>\r\n--->LINE %d: %.*s\r\n--->'%s'\r\n\r\n", level.name.c_str(),
                   level.line_number, static_cast<int>(message.size()), message.data(), shown.c_str());
  } else {
    text += base::format("--->WARNING: %.*s\r\n\r\n", static_cast<int>(message.size()), message.data());
  }
  report_text(ctx.out, text, base::to_console | base::to_log);
}

}  // namespace vexa::command
