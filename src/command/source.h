// The macro source reader: opens source files, reads them line by line, moves
// over the line last read, takes a file name or a quoted text out of it, and
// reports errors and warnings about it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "command/context.h"

namespace vexa::command {

// Cursor helpers over the source line.
inline char current_char(const Source& s) { return s.pos < s.line.size() ? s.line[s.pos] : '\0'; }
inline char char_at(const Source& s, std::size_t i) { return i < s.line.size() ? s.line[i] : '\0'; }
inline bool at_line_end(const Source& s) { return s.pos >= s.line.size(); }
// The characters the C library classes as white space (in the C locale).
inline bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// Steps over every white-space character.
inline void skip_blanks(Source& s) {
  const std::size_t size = s.line.size();
  while (s.pos < size && is_blank(s.line[s.pos])) ++s.pos;
}
// Moves to the next blank, tab, ',', ';', ':', '<' or the end of the line.
void to_separator(Source& s);

// Opens `name` as a new source level read `repeat` times. Returns 1, or 0
// after reporting "Cannot Open File <%s> !".
int open_source(Context& ctx, const std::string& name, int repeat);
// Reads the next line of the current level into the source line. Returns 1
// with a line, 0 at the end of the file.
int read_source_line(Context& ctx);
// Rewinds the current file for its next pass or pops it. Returns 0 when the
// stack has become empty.
int end_of_source(Context& ctx);
// Releases every open level (end of run or a test tearing down).
void close_all_sources(Context& ctx);

// The bytes a quoted text of the current line stands for. In a UTF-8 file
// (one that starts with a byte-order mark, or is valid UTF-8 with at least
// one multi-byte character) each character becomes its Windows-1252 byte,
// since the module knows no other text; a character that code page lacks is
// reported and left out. In any other file the bytes stay as they are.
std::string text_bytes(Context& ctx, std::string_view raw);

int read_bracket_name(Context& ctx, std::string& buffer);
int read_file_name(Context& ctx, std::string& buffer);
int read_quoted_text(Context& ctx, std::string& buffer);
int read_quoted_file_name(Context& ctx, std::string& buffer);
int read_project_name(Context& ctx, std::string& buffer);
std::string project_name_from_path(const std::string& path);
void set_path(Context& ctx);
// Reports an error in the macro file: file name, line number, message and the
// source line, then counts it. With no source file open only the message is
// shown and nothing is counted.
void report_error(Context& ctx, std::string_view message);

// The same error block for a place in another file the current line made the
// compiler read (a font file's line): that file's name and line number, the
// message, and the current source line, counted like report_error.
void report_error_at(Context& ctx, std::string_view file_name, int line_number, std::string_view message);

// A mistake in the macro file that would otherwise pass in silence: shown
// like an error (file, line number, message, source line) but in the normal
// colour, on the console and in the log, and not counted, so that it never
// changes what the run writes.
void report_warning(Context& ctx, std::string_view message);

}  // namespace vexa::command
