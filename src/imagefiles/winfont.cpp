#include "imagefiles/winfont.h"

#include <iconv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/format.h"

namespace vexa::imagefiles {

namespace {

// The family fontconfig falls back on when it knows no face of the name
// asked for; a face of some kind is always drawn, as a font mapper does.
constexpr std::string_view fallback_family = "sans-serif";
constexpr int fitting_tries = 5;

struct CharsetName {
  int value;
  const char* name;
};

constexpr CharsetName charset_names[] = {
    {0, "ANSI"},        {1, "DEFAULT"},      {2, "SYMBOL"},   {77, "MAC"},       {128, "SHIFTJIS"},
    {129, "HANGEUL"},   {134, "GB2312"},     {136, "CHINESEBIG5"}, {161, "GREEK"}, {162, "TURKISH"},
    {163, "VIETNAM"},   {177, "HEBREW"},     {178, "ARABIC"}, {186, "BALTIC"},   {204, "RUSSIAN"},
    {222, "THAI"},      {238, "EASTEUROPE"}, {255, "OEM"},
};

// The code page of each character set the module's fonts are asked for in.
struct CharsetCodePage {
  int charset;
  const char* code_page;  // as the system's converter names it
};

constexpr CharsetCodePage charset_code_pages[] = {
    {0, "CP1252"},   {1, "CP1252"},   {77, "MACINTOSH"}, {128, "CP932"}, {129, "CP949"},
    {134, "CP936"},  {136, "CP950"},  {161, "CP1253"},   {162, "CP1254"}, {163, "CP1258"},
    {177, "CP1255"}, {178, "CP1256"}, {186, "CP1257"},   {204, "CP1251"}, {222, "CP874"},
    {238, "CP1250"}, {255, "CP437"},
};
// A character set without a row (a number no font is made for) is taken as
// the Western one, as the default character set would give.
constexpr const char* fallback_code_page = "CP1252";

// Closes a converter however the conversion ends.
struct Converter {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  ~Converter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

// The code point of one byte, or no_character.
std::uint32_t convert_byte(iconv_t cd, unsigned char byte) {
  // Start each byte from the initial state, and flush: some code pages hold
  // a base letter back waiting for a combining mark.
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[1] = {static_cast<char>(byte)};
  unsigned char out[16] = {};
  char* in_at = in;
  char* out_at = reinterpret_cast<char*>(out);
  std::size_t in_left = 1, out_left = sizeof out;
  if (iconv(cd, &in_at, &in_left, &out_at, &out_left) == static_cast<std::size_t>(-1)) return no_character;
  if (iconv(cd, nullptr, nullptr, &out_at, &out_left) == static_cast<std::size_t>(-1)) return no_character;
  // Exactly one character: a byte that gives none (a lead byte) or more than
  // one has no glyph of its own.
  if (in_left != 0 || sizeof out - out_left != 4) return no_character;
  return static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
         static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
}

// Closes the face of one rasterisation however it ends.
struct FaceHold {
  FontLibrary& fonts;
  Face* face = nullptr;
  ~FaceHold() {
    if (face != nullptr) release_face(fonts, face);
  }
};

// Blank rows above and below the ink of a 1-bit cell; a blank cell has both
// equal to its height.
GlyphMargins measure_margins(const Image& cell) {
  const int height = image_height(cell);
  const std::size_t stride = cell.row_stride;
  auto blank = [&](int y) {
    const std::uint8_t* row = row_pointer(cell, y);
    return std::all_of(row, row + stride, [](std::uint8_t b) { return b == 0; });
  };
  GlyphMargins m;
  m.top = 0;
  while (m.top < height && blank(m.top)) ++m.top;
  m.bottom = 0;
  while (m.bottom < height && blank(height - 1 - m.bottom)) ++m.bottom;
  return m;
}

// Renders code (a code point, or a byte of a symbol face) into the empty
// slot. Returns 1, 0 when the glyph cannot be rendered, and -1 for a glyph
// that has no width: such a character (a combining mark) cannot stand in a
// font cell of its own, and a frame of width 0 is a gap in the stored font,
// so its slot stays empty like that of a missing glyph.
int render_slot(const Face& face, std::uint32_t code, Image& slot, GlyphMargins& margins) {
  GlyphInk glyph;  // rendered once, for its width and its cell
  if (!load_glyph_ink(face, code, glyph)) return 0;
  if (glyph.advance <= 0) return -1;
  if (!glyph_cell(face, glyph, slot)) return 0;
  GlyphMargins m = measure_margins(slot);
  margins.top = std::min(margins.top, m.top);
  margins.bottom = std::min(margins.bottom, m.bottom);
  return 1;
}

// Rasterisations of the fitting loop beyond the first two. A face whose ink
// does not follow the size (a face of a few fixed bitmap sizes) would
// otherwise be stepped through every height; after the bound the last
// rasterisation stands.
constexpr int fitting_steps = 64;

// a * b / c rounded half away from zero, as the platform's MulDiv rounds
// (c is never 0 here).
int mul_div(int a, int b, int c) {
  long long n = static_cast<long long>(a) * b;
  long long d = c;
  if (d < 0) {
    n = -n;
    d = -d;
  }
  return static_cast<int>(n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d));
}

}  // namespace

Face* create_fitted_font(FontLibrary& fonts, FontDescription& description, std::string& error) {
  const int wanted = description.height;
  const bool symbol = description.charset == charset_symbol;
  int asked = mul_div(wanted, pixels_per_inch, 72);
  Face* face = nullptr;
  for (int attempt = 1; attempt <= fitting_tries; ++attempt) {
    if (face != nullptr) release_face(fonts, face);
    face = open_face(fonts, description.face_name, fallback_family, description.weight, asked, error, symbol);
    if (face == nullptr) break;
    int width = 0, measured = 0;
    if (!text_extent(*face, "A", width, measured)) {
      error = vexa::base::format("cannot render the font \"%s\" !", description.face_name.c_str());
      release_face(fonts, face);
      face = nullptr;
      break;
    }
    if (measured == wanted || attempt == fitting_tries || measured <= 0) break;
    asked = static_cast<int>(static_cast<long long>(asked) * wanted / measured);
  }
  description.height = asked;
  return face;
}

bool code_page_table(FontLibrary& fonts, int charset, std::array<std::uint32_t, 256>& table) {
  if (charset == charset_symbol) {
    for (std::uint32_t c = 0; c < 256; ++c) table[c] = c;
    return true;
  }
  const char* code_page = fallback_code_page;
  for (const CharsetCodePage& row : charset_code_pages)
    if (row.charset == charset) code_page = row.code_page;
  // Converting a code page byte by byte costs more than rendering a small
  // set: each code page is converted once and kept.
  for (const auto& [known, converted] : fonts.cache.code_pages)
    if (known == code_page) {
      table = converted;
      return true;
    }
  Converter converter;
  converter.cd = iconv_open("UTF-32LE", code_page);
  if (converter.cd == reinterpret_cast<iconv_t>(-1)) return false;
  for (std::uint32_t c = 0; c < 256; ++c) table[c] = convert_byte(converter.cd, static_cast<unsigned char>(c));
  fonts.cache.code_pages.emplace_back(code_page, table);
  return true;
}

int rasterise_font_set(FontLibrary& fonts, ImageSet& set, const WinFontParameters& request,
                       const std::array<std::uint32_t, 256>& table, int cell_height, GlyphMargins& margins) {
  const bool unicode = request.charset < 0;
  FontDescription description;
  description.height = cell_height;
  description.weight = request.bold != 0 ? weight_bold : weight_normal;
  description.charset = unicode ? charset_default : request.charset;
  description.face_name = request.face_name;
  std::string error;
  FaceHold hold{fonts, create_fitted_font(fonts, description, error)};
  if (hold.face == nullptr) return 0;
  const Face& face = *hold.face;

  clear_set(set);
  margins = GlyphMargins{};
  int lowest = 255, highest = 0;
  // Unicode mode numbers the glyphs it finds one after the other.
  int next_slot = 0;
  if (unicode) {
    next_slot = -static_cast<long long>(request.charset) > 255 ? 33 : -request.charset;
    lowest = next_slot;
  }
  // A Unicode set that has filled every slot only counts the glyphs of the
  // rest of its ranges, for the message: counted all at once, so that ranges
  // of every code cost one pass over the codes instead of one per range.
  std::vector<int> below;
  for (const CodeRange& range : request.ranges) {
    for (int c = range.first; c <= range.last; ++c) {
      std::uint32_t code = static_cast<std::uint32_t>(c);
      int slot = c;
      if (unicode && next_slot >= base::limits::image_slots) {
        if (below.empty()) below = glyphs_below(face, max_code + 1);
        const int more = below[static_cast<std::size_t>(std::min(range.last, max_code)) + 1] -
                         below[static_cast<std::size_t>(std::min(c, max_code))];
        next_slot += more;
        if (more > 0) highest = next_slot - 1;
        break;
      }
      if (unicode) {
        if (!has_glyph(face, code)) continue;
        slot = next_slot++;
        highest = slot;
      } else {
        // A code names its character by its low byte; the number range
        // follows the codes asked for, found or not.
        lowest = std::min(lowest, c);
        highest = std::max(highest, c);
        code = table[static_cast<std::size_t>(c & 0xFF)];
        if (code == no_character || !has_glyph(face, code)) continue;
      }
      if (slot >= base::limits::image_slots) continue;
      Image& image = set.images[static_cast<std::size_t>(slot)];
      if (!is_empty(image)) continue;
      if (fonts.glyph_budget == 0) return 0;
      if (fonts.glyph_budget > 0) --fonts.glyph_budget;
      if (render_slot(face, code, image, margins) == 0) return 0;
    }
  }
  if (highest > 255) return -highest;
  if (highest < lowest) return 0;
  int first = lowest, last = highest;
  while (last >= first && is_empty(set.images[static_cast<std::size_t>(last)])) --last;
  while (first <= last && is_empty(set.images[static_cast<std::size_t>(first)])) ++first;
  if (last < first) return 0;
  set.first_number = static_cast<std::uint16_t>(first);
  set.count = static_cast<std::uint16_t>(last - first + 1);
  return image_height(set.images[static_cast<std::size_t>(first)]);
}

// Keeps `keep` rows of every image, from `start` rows above its bottom row
// up. The window is moved into the image where it would leave it (a start
// below the bottom row when there are fewer blank rows under the ink than
// the spare rows to put there): the cells keep the wanted height and no row
// is invented.
bool crop_font_cells(ImageSet& set, int ink, int wanted, int bottom) {
  const int keep = std::max(ink, wanted);
  const int start = ink >= wanted ? bottom : bottom - (wanted - ink) / 2;
  const int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) {
    Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    const int height = image_height(image);
    if (height <= keep) continue;
    const int from = std::clamp(start, 0, height - keep);
    Image cropped;
    if (!create_image(cropped, image_width(image), keep, 0, &image)) return false;
    // Row r above the bottom of the cropped cell is row from + r above the
    // bottom of the cell.
    for (int r = 0; r < keep; ++r)
      std::memcpy(row_pointer(cropped, keep - 1 - r), row_pointer(image, height - 1 - from - r),
                  cropped.row_stride);
    image = std::move(cropped);
  }
  return true;
}

int rasterise_windows_font(FontLibrary& fonts, ImageSet& set, const WinFontParameters& request) {
  std::array<std::uint32_t, 256> table{};
  if (request.charset >= 0 && !code_page_table(fonts, request.charset, table)) return 0;
  const long long wanted = request.size;
  GlyphMargins margins;
  int cell = request.size;
  int cells = rasterise_font_set(fonts, set, request, table, cell, margins);
  if (cells <= 0) return cells;
  int ink = cells - margins.top - margins.bottom;
  // A set without any ink (only blank characters) has nothing to fit: its
  // cells stay as asked for.
  if (ink > 0 && ink < cells) {
    auto again = [&](long long height) {
      cell = static_cast<int>(std::clamp<long long>(height, 0, 1 << 20));
      cells = rasterise_font_set(fonts, set, request, table, cell, margins);
      ink = cells - margins.top - margins.bottom;
      return cells;
    };
    if (again(wanted * wanted / ink) <= 0) return cells;
    for (int step = 0; step < fitting_steps && ink < wanted; ++step)
      if (again(static_cast<long long>(cell) + 1) <= 0) return cells;
    for (int step = 0; step < fitting_steps && ink > wanted; ++step)
      if (again(static_cast<long long>(cell) - 1) <= 0) return cells;
  }
  // Cells taller than asked are cut to the ink, or to the wanted height
  // when the ink is lower.
  if (wanted < cells && ink > 0 && !crop_font_cells(set, ink, request.size, margins.bottom)) return 0;
  return 1;
}

std::string winfont_substitute(FontLibrary& fonts, const WinFontParameters& request) {
  return replacing_family(fonts, request.face_name, fallback_family,
                          request.bold != 0 ? weight_bold : weight_normal);
}

std::string charset_name(int charset) {
  if (charset < 0) return "UNICODES";
  for (const CharsetName& row : charset_names)
    if (row.value == charset) return row.name;
  return vexa::base::format("%3d", charset);
}

}  // namespace vexa::imagefiles
