// The FONT and WINFONT directives, the font checks and lines they share, the
// width listing, the sharing of placeholder glyphs, and the font exports.
#include "resources/fonts.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/format.h"
#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/fxt.h"
#include "resources/colour.h"
#include "resources/compilers.h"
#include "resources/exports.h"
#include "resources/import.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

// Fonts and WinFonts number their resources in one directory.
constexpr NumberRule font_rule{"Font", command::kind_fonts, 0, 255};
constexpr const char* indent_12 = "            ";
constexpr int sheet_columns = 16;  // a grid row per upper hexadecimal digit
constexpr int sheet_stretch = 3;
constexpr std::size_t face_name_chars = 31;  // the longest face name a font request holds
constexpr std::size_t listing_indent = 19;   // the width of "             width:"

// --- WinFont parameters ------------------------------------------------------

bool starts_number(char c) { return std::isdigit(static_cast<unsigned char>(c)) || c == '$' || c == '-' || c == '+'; }

// The numbers of a WINFONT line, read from left to right.
struct NumberText {
  std::string_view text;
  std::size_t pos = 0;

  void skip_to_number() {
    while (pos < text.size() && !starts_number(text[pos])) ++pos;
  }
  // True when another number follows.
  bool more() {
    skip_to_number();
    return pos < text.size();
  }
  char at() const { return pos < text.size() ? text[pos] : '\0'; }

  // number -> '$' hex-digits | '-' digits | '+' digits | digits
  // Leaves the position on the start of the next number (or the end). A
  // value beyond the int range stops growing at its bound.
  int next() {
    skip_to_number();
    const char lead = at();
    const bool hex = lead == '$';
    const bool negative = lead == '-';
    if (hex || negative || lead == '+') ++pos;
    long long value = 0;
    while (pos < text.size()) {
      const char c = text[pos];
      int digit = -1;
      if (std::isdigit(static_cast<unsigned char>(c))) digit = c - '0';
      else if (hex && std::isxdigit(static_cast<unsigned char>(c)))
        digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
      if (digit < 0) break;
      value = std::min<long long>(value * (hex ? 16 : 10) + digit, INT_MAX);
      ++pos;
    }
    skip_to_number();
    return static_cast<int>(negative ? -value : value);
  }
};

int code_of(int value) { return value & imagefiles::max_code; }

// --- font checks and lines ----------------------------------------------------

// The font limits, the information line, the width listing, the big
// resource check and the storing: what FONT and WINFONT do alike once their
// glyphs are encoded. Returns 1 when the font was stored.
int finish_font(command::Context& ctx, BitmapBlock& block, int number, int page, const char* big_line,
                const std::string& cannot_convert) {
  const imagefiles::BlockHeader h = block_header(block);
  if (!h.same_height) {
    command::report_error(ctx, "different height ! (only fonts with the same height are allowed)");
    return 0;
  }
  if (h.width > 255 || h.height > 255) {
    command::report_error(ctx, "font is to big! (max. 255x255 dots)");
    return 0;
  }
  const bool monospaced = h.same_width;
  const int size = static_cast<int>(block.block_size);
  if (monospaced)
    report_info(ctx, indent_12,
                vexa::base::format("size: %dx%d dots, used codes: %d..%d, %d bytes\r\n", h.width, h.height, h.first,
                                   h.last, size)
                    .c_str());
  else
    report_info(ctx, indent_12,
                vexa::base::format("height: %d dots, used codes: %d..%d, %d bytes\r\n", h.height, h.first, h.last, size)
                    .c_str());
  if (!monospaced && ctx.settings.font_width > 0)
    base::report_text(ctx.out, width_listing(block, ctx.settings.font_width), base::to_window | base::to_log);
  if (!replace_big_resource(ctx, ctx.work_set, block, 'F', number, big_line, cannot_convert.c_str(),
                            share_dummy_glyphs))
    return 0;
  return store_resource(ctx, command::kind_fonts, page, number, block.block.data(), block.block_size);
}

// The overview exports of a stored font: with their bits a G16 file and one
// BMP file per glyph, and always the sheet. prefix names the BMP files; the
// G16 file and the sheet add "_first-last".
void export_font_overview(command::Context& ctx, const BitmapBlock& block, const std::string& prefix) {
  const int bits = ctx.settings.export_overview;
  imagefiles::ImageSet& set = ctx.work_set;
  const imagefiles::BlockHeader h = block_header(block);
  const std::string range = vexa::base::format("%s_%d-%d", prefix.c_str(), h.first, h.last);
  if (bits & export_g16_file) export_g16(ctx, set, range + ".G16");
  if (bits & export_bmp_files) export_single_bmps(ctx, set, prefix);
  export_sheet(ctx, range + ".bmp", set, h.width, h.height, sheet_columns, sheet_stretch);
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

// winfont-parameters -> [charset [bold [ranges]]] [size]
// ranges -> first last | range { '+' range },  range -> code [ '-' code ]
// A list is recognised by a '-' or '+' in the rest of the text; without one
// the codes are a single range, and a first code without a last one keeps the
// last code's default.
int parse_winfont_parameters(std::string_view text, imagefiles::WinFontParameters& request) {
  NumberText in{text};
  if (in.more()) {
    request.charset = in.next();
    if (in.more()) request.bold = in.next();
  }
  const std::string_view rest = text.substr(std::min(in.pos, text.size()));
  if (rest.find_first_of("-+") == std::string_view::npos) {
    if (in.more()) {
      imagefiles::CodeRange range = request.ranges.empty() ? imagefiles::CodeRange{32, 127} : request.ranges[0];
      range.first = code_of(in.next());
      if (in.more()) range.last = code_of(in.next());
      request.ranges = {range};
    }
  } else {
    request.ranges.clear();
    while (in.more()) {
      if (static_cast<int>(request.ranges.size()) == max_code_ranges) return 0;
      imagefiles::CodeRange range{0, 0};
      range.first = range.last = code_of(in.next());
      if (in.at() == '-') {
        ++in.pos;
        range.last = code_of(in.next());
      }
      request.ranges.push_back(range);
      if (in.at() != '+') break;
      ++in.pos;
    }
  }
  if (in.more()) request.size = in.next();
  return 1;
}

std::string width_listing(const BitmapBlock& block, int per_line) {
  imagefiles::BlockHeader h;
  if (per_line < 1 || !imagefiles::read_block_header(block_bytes(block), h)) return {};
  std::string text = std::string(listing_indent - 6, ' ') + "width:";
  int entries = 0;
  for (int code = h.first; code <= h.last; ++code) {
    imagefiles::FrameEntry entry;
    if (!imagefiles::read_frame_entry(block_bytes(block), h, code - h.first, entry)) break;
    const int width = entry.width;
    if (width == 0) continue;
    text += code < 32 ? vexa::base::format("%3d:---=%3d  ", code, width) : vexa::base::format("%3d:'%c'=%3d  ", code, code, width);
    if (++entries % per_line == 0) text += "\r\n" + std::string(listing_indent, ' ');
  }
  return text + "\r\n";
}

void share_dummy_glyphs(BitmapBlock& block) {
  imagefiles::BlockHeader h;
  if (block.block.size() < block.block_size || !imagefiles::read_block_header(block_bytes(block), h)) return;
  const int first = h.first;
  const int n = h.last - first + 1;
  if (n <= 1 || imagefiles::block_layout(h).image_data > block.block_size) return;
  std::vector<imagefiles::FrameEntry> entry(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) imagefiles::read_frame_entry(block_bytes(block), h, i, entry[static_cast<std::size_t>(i)]);
  auto width = [&](int i) { return entry[static_cast<std::size_t>(i)].width; };

  // Each glyph's data runs to the next glyph that has data, the last one to
  // the end of the block; the sizes are taken before any offset changes.
  std::vector<std::uint32_t> offset(static_cast<std::size_t>(n)), size(static_cast<std::size_t>(n), 0);
  for (int i = 0; i < n; ++i) offset[static_cast<std::size_t>(i)] = entry[static_cast<std::size_t>(i)].offset;
  for (int i = 0; i < n; ++i) {
    std::uint32_t end = block.block_size;
    for (int k = i + 1; k < n; ++k)
      if (offset[static_cast<std::size_t>(k)] != 0) {
        end = offset[static_cast<std::size_t>(k)];
        break;
      }
    const std::uint32_t start = offset[static_cast<std::size_t>(i)];
    size[static_cast<std::size_t>(i)] = end > start ? end - start : 0;
  }

  // Glyph 0 keeps its data; the others follow it without gaps. A twin lends
  // its data: its offset, and its flag byte (coding and delay) with them.
  std::uint8_t* b = block.block.data();
  std::uint32_t write = offset[0] + size[0];
  std::uint32_t read = write;
  for (int i = 1; i < n; ++i) {
    if (width(i) == 0) continue;
    imagefiles::FrameEntry& e = entry[static_cast<std::size_t>(i)];
    const std::uint32_t bytes = size[static_cast<std::size_t>(i)];
    int twin = -1;
    for (int j = 0; j < i && twin < 0; ++j)
      if (first + j != ' ' && width(j) == width(i)) twin = j;
    if (twin >= 0) {
      const imagefiles::FrameEntry& t = entry[static_cast<std::size_t>(twin)];
      e.offset = t.offset;
      e.coded = t.coded;
      e.delay = t.delay;
    } else {
      if (write != read && read + static_cast<std::uint64_t>(bytes) <= block.block_size)
        std::memmove(b + write, b + read, bytes);
      e.offset = write;
      write += bytes;
    }
    imagefiles::write_frame_entry(block.block, h, i, e);
    read += bytes;
  }
  block.block_size = write;
}

// font -> FONT number [ '[' page ']' ] import-list
int compile_font(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, font_rule, number, page)) return 0;
  std::string name, first_file;
  int first_file_number = -1;
  if (!peek_import_name(ctx, name, first_file, first_file_number)) return 0;
  if (!import_images(ctx, "Font", base::limits::image_slots)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  const std::string cannot_convert = vexa::base::format("cannot convert font <%s> !", first_file.c_str());
  const imagefiles::Image* first = set_first_image(set);
  BitmapBlock block;
  base::ReportLines lines;
  const bool analysed = first != nullptr && analyse_set_colours(set, bit_count(*first), lines);
  base::report_lines(ctx.out, lines, base::to_all);
  if (!analysed || !encode_bitmap(set, block, ctx.settings.rle_mode, ctx.settings.dithering)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  if (!finish_font(ctx, block, number, page, "Font > %dkB, replace with small dummy images, %d bytes\r\n",
                   cannot_convert))
    return 0;
  if (ctx.settings.export_overview & export_fonts)
    export_font_overview(ctx, block,
                         vexa::base::format("%sFont%d_%s", ctx.settings.macro_directory.c_str(), number,
                                      export_base_name(first_file).c_str()));
  return 1;
}

// winfont -> WINFONT number [ '[' page ']' ] '"' face '"' winfont-parameters
int compile_winfont(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, font_rule, number, page, true)) return 0;
  std::string face;
  if (!command::read_quoted_file_name(ctx, face)) return 0;
  imagefiles::WinFontParameters request;
  // Installed family names are far shorter; a longer name is cut where a
  // font request's name field ends, and the cut name is used throughout.
  face.resize(std::min(face.size(), face_name_chars));
  request.face_name = face;
  const command::Source& src = ctx.source;
  if (!parse_winfont_parameters(std::string_view(src.line).substr(std::min(src.pos, src.line.size())), request)) {
    command::report_error(ctx, vexa::base::format("too many code ranges (max. %d) !", max_code_ranges));
    return 0;
  }
  const std::string charset = imagefiles::charset_name(request.charset);
  base::report_text(ctx.out,
                      "Import WinFont " + quoted(face) + ", " + charset + (request.bold != 0 ? ", Bold" : "") + "\r\n",
                      base::to_all);
  const std::string substitute = imagefiles::winfont_substitute(ctx.fonts, request);
  if (!substitute.empty())
    command::report_warning(ctx, "the font " + quoted(face) + " is not installed: " + quoted(substitute) +
                                    " is used in its place");

  imagefiles::ImageSet& set = ctx.work_set;
  const int result = imagefiles::rasterise_windows_font(ctx.fonts, set, request);
  if (result < 0) {
    command::report_error(ctx, vexa::base::format("too many characters: last code=%d (max. 255) !", -result));
    return 0;
  }
  if (result == 0) {
    command::report_error(ctx, "cannot import WinFont " + quoted(face) + " !");
    return 0;
  }
  const std::string cannot_convert = "cannot convert font " + quoted(face) + " !";
  BitmapBlock block;
  if (!encode_bitmap(set, block, ctx.settings.rle_mode, ctx.settings.dithering)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  if (!finish_font(ctx, block, number, page, "WinFont > %dkB, replace with small dummy images, %d bytes\r\n",
                   cannot_convert))
    return 0;

  const command::Settings& s = ctx.settings;
  const imagefiles::BlockHeader h = block_header(block);
  const std::string base = vexa::base::format("%sFont%d_%s_%d_%s_%c", s.macro_directory.c_str(), number, face.c_str(),
                                        h.height, charset.c_str(), request.bold != 0 ? 'B' : 'N');
  const bool overview = (s.export_overview & export_fonts) != 0;
  if (s.export_winfont == 1) {
    const std::string fxt = vexa::base::format("%s_%d-%d.fxt", base.c_str(), h.first, h.last);
    const std::string path = export_path(ctx, fxt);
    if (!path.empty() && imagefiles::write_font_listing(set, path))
      base::report_text(ctx.out, "Export FXT-Font <" + fxt + ">\r\n" + (overview ? "" : "\r\n"), base::to_all);
    else
      command::report_error(ctx, vexa::base::format("cannot export winfont <%s> !", fxt.c_str()));
  }
  if (overview) export_font_overview(ctx, block, base);
  return 1;
}

}  // namespace vexa::resources
