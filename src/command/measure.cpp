#include "command/measure.h"

#include <algorithm>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "command/context.h"
#include "command/source.h"
#include "imagefiles/bitmap_block.h"

namespace vexa::command {

namespace {

enum class Fallback { page_0, none };

// Offset of resource (number, page) of a kind in the resource area, falling
// back to page 0 when the page has no such entry (unless told not to); -1
// when there is none. Numbers and pages outside the tables are simply not
// available.
long find_resource(const Context& ctx, int kind, std::int32_t number, std::int32_t page,
                   Fallback fallback = Fallback::page_0) {
  if (number < 0 || number >= base::limits::numbers || page < 0 || page >= base::limits::pages) return -1;
  const std::vector<std::uint8_t>& dir = ctx.flash.directories[static_cast<std::size_t>(kind)];
  for (std::int32_t p : {page, 0}) {
    const std::uint8_t* entry = command::table_entry(dir, command::resource_entry(p, number));
    if (command::entry_used(entry)) {
      long offset = static_cast<long>(base::get_u24(entry));
      return offset < ctx.flash.resource_pos ? offset : -1;
    }
    if (p == 0 || fallback == Fallback::none) break;
  }
  return -1;
}

// The header of the bitmap block at offset in the resource area, and the
// block's bytes up to the end of the area (empty when there is no header).
base::Bytes open_block(const Context& ctx, long offset, imagefiles::BlockHeader& header) {
  header = imagefiles::BlockHeader{};
  if (offset < 0 || offset > ctx.flash.resource_pos) return {};
  const base::Bytes block(ctx.flash.resources.data() + offset, static_cast<std::size_t>(ctx.flash.resource_pos - offset));
  return imagefiles::read_block_header(block, header) ? block : base::Bytes();
}

// The width of a compiled font's glyph; 0 for a code the font does not have.
int glyph_width(base::Bytes font, const imagefiles::BlockHeader& header, int code) {
  imagefiles::FrameEntry entry;
  if (font.empty() || !imagefiles::read_frame_entry(font, header, code - header.first, entry)) return 0;
  return entry.width;
}

// Text of compiled string number on page, at most 255 characters. Unlike
// fonts and pictures, a string is only looked for on the page named.
std::string compiled_string(const Context& ctx, std::int32_t number, std::int32_t page) {
  std::string text;
  long offset = find_resource(ctx, command::kind_strings, number, page, Fallback::none);
  if (offset < 0) return text;
  for (long p = offset; p < ctx.flash.resource_pos && text.size() < 255; ++p) {
    char c = static_cast<char>(ctx.flash.resources[static_cast<std::size_t>(p)]);
    if (c == '\0') break;
    text += c;
  }
  return text;
}

}  // namespace

std::int32_t text_size(Context& ctx, bool width, std::span<const std::int32_t> a) {
  std::int32_t param = a[1];
  int zoom_x = (param & 7) + 1;
  int zoom_y = ((param >> 4) & 7) + 1;
  int add_width = (param >> 8) & 15;
  int add_height = (param >> 12) & 15;
  int space = (param >> 16) & 255;
  int string_code = (param >> 24) & 255;
  std::int32_t page = a.size() == 4 ? a[3] : ctx.page;

  long offset = find_resource(ctx, command::kind_fonts, a[2], page);
  if (offset < 0) {
    report_error(ctx, vexa::base::format("font number %d is not available!", a[2]));
    return 0;
  }
  imagefiles::BlockHeader font;
  const base::Bytes font_block = open_block(ctx, offset, font);

  std::string text;
  if (a[0] >= 1) {
    text = compiled_string(ctx, a[0], page);
    string_code = 0;
  } else {
    std::size_t index = static_cast<std::size_t>(-static_cast<std::int64_t>(a[0]));
    if (index < ctx.constants.texts.size()) text = ctx.constants.texts[index].text;
  }

  std::int64_t line = 0, widest = 0;
  std::int64_t line_height = static_cast<std::int64_t>(font.height) * zoom_y + 2 * add_height;
  std::int64_t height = line_height;
  // A joined string may contain the string code again; the joins are bounded
  // so that strings naming each other cannot make the walk endless.
  int joins = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (string_code != 0 && c == string_code && joins < 16) {
      std::string joined;
      for (std::size_t j = i + 1; j < text.size() && joined.size() < 255; ++j)
        joined += compiled_string(ctx, static_cast<unsigned char>(text[j]), page);
      if (joined.size() > 255) joined.resize(255);
      text = joined;
      i = static_cast<std::size_t>(-1);
      ++joins;
      continue;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) break;
      c = static_cast<unsigned char>(text[++i]);
    } else if (c == '|') {
      widest = std::max(widest, line);
      line = 0;
      height += line_height;
      continue;
    }
    // Only characters of the font's code range take room; a blank among
    // them may take the width of '8' or a fixed width instead of its own.
    if (font_block.empty() || c < font.first || c > font.last) continue;
    std::int64_t advance = glyph_width(font_block, font, c);
    if (c == ' ' && space == 1)
      advance = glyph_width(font_block, font, '8');
    else if (c == ' ' && space > 1)
      advance = space;
    line += advance * zoom_x + 2 * add_width;
  }
  widest = std::max(widest, line);
  return static_cast<std::int32_t>(width ? widest : height);
}

std::int32_t pack_text_parameters(std::span<const std::int32_t> a) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(((a[0] - 1) & 7) + ((a[1] - 1) & 7) * 16 + (a[2] & 15) * 256 +
                                                              (a[3] & 15) * 4096 + (a[4] & 255) * 65536) +
                                   static_cast<std::uint32_t>(a[5]) * 16777216u);
}

std::int32_t resource_size(Context& ctx, ResourceKind kind, std::string_view name, bool width,
                           std::span<const std::int32_t> a) {
  std::int32_t page = a.size() == 2 ? a[1] : ctx.page;
  long offset = find_resource(ctx, kind, a[0], page);
  imagefiles::BlockHeader header;
  std::int32_t size = 0;
  if (!open_block(ctx, offset, header).empty()) size = width ? header.width : header.height;
  if (size == 0)
    report_error(ctx, vexa::base::format("%.*s number %d is not available!", static_cast<int>(name.size() - 2),
                                         name.data(), a[0]));
  return size;
}

}  // namespace vexa::command
