// Installed fonts as bitmap fonts: the WINFONT directive names an installed
// face, and every requested character is rendered into a 1-bit image of an
// ImageSet, one slot per character code, with the font's size fitted so that
// the ink of the whole character set is as tall as asked. The fitted-font
// routine also gives the overview sheets their labels.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "imagefiles/glyphs.h"
#include "imagefiles/image.h"

namespace vexa::imagefiles {

// Character set numbers a font is asked for with.
inline constexpr int charset_ansi = 0;
inline constexpr int charset_default = 1;
inline constexpr int charset_symbol = 2;

// A font as it is asked for: cell height in pixels, weight, character set and
// face name.
struct FontDescription {
  int height = 0;
  int weight = weight_normal;
  int charset = charset_default;
  std::string face_name;
};

// Opens the face of the description at the size whose cells are
// description.height pixels tall. The first try asks for height * 96 / 72
// (rounded), then each try scales the asked height by the wanted height over
// the measured height of the text "A", at most five tries; the last face is
// kept whatever it measures. The description's height is left at the height
// last asked for. The faces tried before are released. Returns null with
// error set when no face can be opened at a height tried.
Face* create_fitted_font(FontLibrary& fonts, FontDescription& description, std::string& error);

// One range of character codes, first to last (a range with last < first
// asks for nothing).
// Codes of a request are 16-bit: 0 to max_code.
inline constexpr int max_code = 0xFFFF;
struct CodeRange {
  int first;
  int last;
};

// A WINFONT request. A charset of 0 or more asks for the font in that
// character set, and the codes are the set's byte codes (ANSI mode); a
// negative charset asks for Unicode code points, and the glyphs found are
// numbered from -charset on (from 33 when that is above 255).
struct WinFontParameters {
  std::string face_name;
  int charset = charset_ansi;
  int bold = 0;
  std::vector<CodeRange> ranges = {{32, 127}};
  int size = 24;  // height of the set's ink in pixels
};

// Blank rows above and below the ink: of one glyph, or the smallest over a
// set of glyphs.
struct GlyphMargins {
  int top = 255;
  int bottom = 255;
};

// The Unicode code point of every byte code in the code page of a character
// set, no_character where the byte stands for none there (an unassigned
// byte, or the lead byte of a two-byte character). Character sets without a
// code page of their own take the Western one. For the symbol set the byte
// codes are kept: the face's symbol map looks them up. Returns false when the
// system cannot convert the code page.
inline constexpr std::uint32_t no_character = 0xFFFFFFFFu;
bool code_page_table(FontLibrary& fonts, int charset, std::array<std::uint32_t, 256>& table);

// Renders the requested characters of the face at cell height cell_height
// into the set (cleared first), one 1-bit image per slot, and measures the
// set's margins. Missing glyphs leave their slots empty; empty slots at both
// ends are dropped from the set's number range. table is the code page of the
// request's charset (ANSI mode only). Returns the cell height of the images;
// 0 when the face cannot be opened at that height, a glyph cannot be rendered
// or no glyph was found; -n when the highest code needed is n > 255.
int rasterise_font_set(FontLibrary& fonts, ImageSet& set, const WinFontParameters& request,
                       const std::array<std::uint32_t, 256>& table, int cell_height, GlyphMargins& margins);

// Cuts every image of a rasterised set whose cells are taller than wanted
// to max(ink, wanted) rows: the rows from the set's bottom margin up when
// the ink is at least as tall as wanted, else a window that puts the spare
// rows around the ink with the smaller half below it, kept inside each
// image. Returns false when memory runs out.
bool crop_font_cells(ImageSet& set, int ink, int wanted, int bottom);

// Rasterises the request into the set with the size fitted so that the ink
// of the whole set (from the highest ascender to the lowest descender) is
// request.size pixels tall, then crops the cells to that height. Returns 1;
// 0 when nothing can be rendered; -n when the highest code needed is n > 255.
// Reports nothing.
int rasterise_windows_font(FontLibrary& fonts, ImageSet& set, const WinFontParameters& request);

// The family that stands in for the request's face when that face is not
// installed (see replacing_family); empty when it is.
std::string winfont_substitute(FontLibrary& fonts, const WinFontParameters& request);

// The name of a character set for the log: "UNICODES" for negative values,
// the set's name for the known ones, otherwise the number formatted by "%3d".
std::string charset_name(int charset);

}  // namespace vexa::imagefiles
