// The parameter-list parsers: byte lists, word lists and strings written into
// the command buffer, the number of a resource header, and the string
// constants a byte list inserts. They read from the parse position of the
// source line and leave it on the first character that does not belong to
// what they parsed.
#pragma once

#include <cstdint>
#include <string>

#include "command/context.h"
#include "command/expression.h"

namespace vexa::command {

// Appends one byte; past the end of the buffer the byte is dropped and the
// overflow flag set (the command is then refused).
void put_byte(CommandBuffer& buffer, std::uint8_t byte);

// Whether quoted text and inserted string constants go through the current
// code table. A definition line (a string constant, character codes) stores
// the characters as written: the table applies when they are used.
enum class Translation { on, off };

// Parse up to max values into the command buffer; return how many. The
// number of a resource header is a byte list that a '[' (its page) ends as
// well (Place::header).
int parse_byte_list(Context& ctx, int max, Translation translation = Translation::on, Place place = Place::line);
int parse_word_list(Context& ctx, int max);
// The number of a resource header: a byte list of up to max values ended by
// '[' as well, read in the command buffer (free on a resource line) and
// taken out again. Returns how many values there were; first is the first
// (a value beyond a byte is reported and taken as 255).
int parse_header_number(Context& ctx, int max, int& first);
// Like parse_byte_list, then drops trailing bytes 0, 13, 10 and adds one 0;
// returns the bytes kept plus one.
int parse_string_param(Context& ctx, int max, Translation translation = Translation::on);

// At a '!' in a byte list: reads the reference (a name or a function such as
// !STR(v,w)!) and returns its bytes in text. Returns false when there is
// nothing to insert (the reason is reported).
bool expand_string_constant(Context& ctx, std::string& text, Translation translation = Translation::on);

}  // namespace vexa::command
