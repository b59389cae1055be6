#include "imagefiles/fxt.h"

#include <array>
#include <string_view>

#include "base/format.h"
#include "base/paths.h"

namespace vexa::imagefiles {

namespace {

// Characters of one line that are looked at. Pixel rows are at most this
// wide; the rest of a longer line is dropped rather than read as a line of
// its own (it would otherwise turn up as a stray row or header).
constexpr std::size_t line_limit = 5000;

constexpr int codes = 256;
constexpr long long code_ceiling = 0x7FFFFFFF;  // codes shown in messages saturate here

enum class LineKind { header, row, comment, other };

// Hands out the lines of the file one by one, numbered from 1. A line ends
// at '\n'; a '\r' before it belongs to the line end, so files written with
// either kind of line end read alike.
struct LineReader {
  std::string_view text;
  std::size_t at = 0;
  int number = 0;

  bool next(std::string_view& line) {
    if (at >= text.size()) return false;
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > line_limit) line = line.substr(0, line_limit);
    ++number;
    return true;
  }
};

// line -> header | row | comment | other
//   header  -> digit ... | '$' ... | quote ...
//   row     -> ('.' | '#') ...
//   comment -> blank ... | ';' ...
//   other   -> anything else, the empty line included (ends a character)
LineKind classify(std::string_view line) {
  if (line.empty()) return LineKind::other;
  const char c = line.front();
  if ((c >= '0' && c <= '9') || c == '$' || c == '\'' || c == '"') return LineKind::header;
  if (c == '.' || c == '#') return LineKind::row;
  if (c == ';' || c == ' ' || (c >= '\t' && c <= '\r')) return LineKind::comment;
  return LineKind::other;
}

// The run of '.' and '#' at the start of a row line.
std::size_t row_width(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && (line[n] == '.' || line[n] == '#')) ++n;
  return n;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code of a header line; the rest of the line is ignored.
//   header -> digits | '$' hexdigits | quote character
// A number too large for the message saturates (it is refused either way).
// "$" without digits is code 0, as an empty number reads. A quote with
// nothing behind it stands for the line end it was written before (10).
// Quoted characters are taken as unsigned bytes, so 'é' in a file written
// in a Windows code page is its code 128..255: every code 0..255 can be
// written in each form, and the listing writer itself quotes such
// characters.
long long header_code(std::string_view line) {
  const char c = line.front();
  if (c == '\'' || c == '"') return line.size() > 1 ? static_cast<unsigned char>(line[1]) : '\n';
  long long value = 0;
  if (c == '$') {
    for (std::size_t i = 1; i < line.size() && hex_digit(line[i]) >= 0; ++i)
      value = std::min(value * 16 + hex_digit(line[i]), code_ceiling);
  } else {
    for (std::size_t i = 0; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
      value = std::min(value * 10 + (line[i] - '0'), code_ceiling);
  }
  return value;
}

// What the checking pass measured: the code range, each code's size, and the
// header line of each code's last definition.
struct Measure {
  int first = codes - 1;
  int last = 0;
  std::array<int, codes> width{};
  std::array<int, codes> height{};
  std::array<int, codes> defined_at{};  // 0: never defined
};

// Pass 1: checks the whole file and measures every character. Every fault is
// noted with its line and the pass goes on to the end. Returns false when
// any fault was found.
bool check_font(std::string_view text, Measure& m, std::vector<LineFault>& faults) {
  LineReader lines{text};
  std::string_view line;
  bool ok = true;
  bool open = false;      // a character's rows are being read
  bool skipping = false;  // rows without a valid header are passed over
  int code = 0, width = 0, rows = 0;
  while (lines.next(line)) {
    const LineKind kind = classify(line);
    if (open) {
      if (kind == LineKind::row) {
        const int w = static_cast<int>(row_width(line));
        if (rows == 0) {
          width = w;
        } else if (w != width) {
          // Shown with the line before the offending row, the last one that
          // still had the character's width.
          faults.push_back({lines.number - 1, base::format("wrong character width (ASCII NR. %d)", code)});
          ok = false;
        }
        ++rows;
        continue;
      }
      if (kind == LineKind::comment) continue;
      m.width[static_cast<std::size_t>(code)] = width;
      m.height[static_cast<std::size_t>(code)] = rows;
      open = false;  // the closing line may start the next character
    }
    if (kind == LineKind::row) {
      if (!skipping) {
        faults.push_back({lines.number, "missing ASCII NR. !"});
        ok = false;
        skipping = true;
      }
    } else if (kind == LineKind::header) {
      const long long value = header_code(line);
      if (value < 0 || value >= codes) {
        faults.push_back({lines.number, base::format("ASCII-Code %d not allowed (0..255) !", static_cast<int>(value))});
        ok = false;
        skipping = true;
        continue;
      }
      code = static_cast<int>(value);
      open = true;
      skipping = false;
      width = rows = 0;
      m.first = std::min(m.first, code);
      m.last = std::max(m.last, code);
      m.defined_at[static_cast<std::size_t>(code)] = lines.number;
    }
  }
  if (open) {
    m.width[static_cast<std::size_t>(code)] = width;
    m.height[static_cast<std::size_t>(code)] = rows;
  }
  return ok;
}

// Pass 2: draws the rows into the images the measure called for. Only the
// last definition of a code is drawn: its size is the one measured, and an
// earlier definition with more rows or columns would not fit the image.
void draw_font(ImageSet& set, std::string_view text, const Measure& m) {
  LineReader lines{text};
  std::string_view line;
  Image* image = nullptr;  // the character being drawn, or none
  bool open = false;
  int n = 0;
  while (lines.next(line)) {
    const LineKind kind = classify(line);
    if (open) {
      if (kind == LineKind::row) {
        if (image != nullptr && n < image_height(*image)) {
          std::uint8_t* row = row_pointer(*image, n);
          const std::size_t width = std::min<std::size_t>(row_width(line), image_width(*image));
          for (std::size_t x = 0; x < width; ++x)
            if (line[x] == '#') row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
        }
        ++n;
        continue;
      }
      if (kind == LineKind::comment) continue;
      open = false;
    }
    if (kind != LineKind::header) continue;
    const long long value = header_code(line);
    if (value < 0 || value >= codes) continue;
    const auto code = static_cast<std::size_t>(value);
    open = true;
    n = 0;
    image = m.defined_at[code] == lines.number && !is_empty(set.images[code]) ? &set.images[code] : nullptr;
  }
}

// The glyph pixel at x, y is drawn: a set bit of a 1-bit glyph; for a
// picture of another depth, a colour darker than middle grey.
bool drawn(const Image& image, int x, int y) {
  if (bit_count(image) == 1) return pixel_value(image, x, y) != 0;
  const Bgr c = pixel_colour(image, x, y);
  return c.red + c.green + c.blue < 384;
}

}  // namespace

int read_fxt_font(ImageSet& set, Bytes file, std::vector<LineFault>& faults) {
  clear_set(set);
  const std::string_view text(reinterpret_cast<const char*>(file.data()), file.size());
  Measure m;
  if (!check_font(text, m, faults)) return 0;

  // A file without a single character that has rows (an empty file, only
  // comments, headers without rows) is not a font: it fails like an
  // unreadable file, so the FONT directive reports it, instead of a set
  // whose range is meaningless (first 255, last 0) or holds only gaps.
  bool any = false;
  for (int code = m.first; code <= m.last; ++code) any = any || m.width[static_cast<std::size_t>(code)] > 0;
  if (!any) return 0;

  set.first_number = static_cast<std::uint16_t>(m.first);
  set.count = static_cast<std::uint16_t>(m.last - m.first + 1);
  for (int code = m.first; code <= m.last; ++code) {
    const auto c = static_cast<std::size_t>(code);
    if (m.width[c] <= 0) continue;
    set.delays[c] = 0;
    if (!create_image(set.images[c], m.width[c], m.height[c], 1)) {
      clear_set(set);
      return 0;
    }
  }
  draw_font(set, text, m);
  return 1;
}

std::string font_listing(const ImageSet& set) {
  const int first = set.first_number;
  const int last = first + set.count - 1;

  // Sizes are compared with the first character that has an image, so a
  // range that starts with a gap is described by the characters it holds.
  // A set without any image is listed as monospaced of size 0.
  int reference = -1;
  int max_width = 0, max_height = 0;
  bool same_width = true, same_height = true;
  for (int code = first; code <= last; ++code) {
    if (!has_image(set, code)) continue;
    const Image& image = set.images[static_cast<std::size_t>(code)];
    const int w = image_width(image), h = image_height(image);
    if (reference < 0) reference = code;
    const Image& ref = set.images[static_cast<std::size_t>(reference)];
    same_width = same_width && w == image_width(ref);
    same_height = same_height && h == image_height(ref);
    max_width = std::max(max_width, w);
    max_height = std::max(max_height, h);
  }

  std::string text = base::format("; First Nr    : %3d", first);
  text += base::format("\n; Last  Nr    : %3d", last);
  if (same_width && same_height)
    text += "\n; Typ         : monospaced";
  else if (same_height)
    text += "\n; Typ         : proportional";
  else
    text += "\n; Typ         : various size";
  text += base::format(same_width ? "\n; width       : %3d" : "\n; max width   : %3d", max_width);
  text += base::format(same_height ? "\n; height      : %3d" : "\n; max height  : %3d", max_height);
  text += "\n\n";

  for (int code = first; code <= last; ++code) {
    if (!has_image(set, code)) continue;
    const Image& image = set.images[static_cast<std::size_t>(code)];
    text += code < 32 ? base::format("%d  $%02X\n", code, code) : base::format("%d  $%02X  '%c'\n", code, code, code);
    const int w = image_width(image), h = image_height(image);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) text += drawn(image, x, y) ? '#' : '.';
      text += '\n';
    }
    text += '\n';
  }
  return text;
}

int write_font_listing(const ImageSet& set, const std::string& file_name) {
  return base::write_file_atomically(file_name, font_listing(set)) ? 1 : 0;
}

}  // namespace vexa::imagefiles
