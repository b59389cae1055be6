// The text layer: installed faces found by family name and weight through
// fontconfig and rendered by FreeType in monochrome, at a logical resolution
// of 96 pixels per inch. Sizes follow the meaning a positive font height has
// on the module's original platform: the cell height, ascent plus descent in
// pixels. The placeholder captions, the overview sheets and the installed-font
// rasteriser all draw their text through this layer.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imagefiles/image.h"

// FreeType's handles, declared here so that this header does not spread the
// library's headers into every file that includes the context.
struct FT_LibraryRec_;
struct FT_FaceRec_;
struct FT_SizeRec_;
struct _FcConfig;

namespace vexa::imagefiles {

inline constexpr int pixels_per_inch = 96;
inline constexpr int weight_normal = 400;
inline constexpr int weight_bold = 700;
// Cells taller than this are refused: no display module shows such text, and
// the bound keeps every glyph bitmap small.
inline constexpr int largest_cell = 2048;

// One face opened at one cell height.
struct Face {
  FT_FaceRec_* face = nullptr;  // of the font file, shared by all its heights
  FT_SizeRec_* size = nullptr;  // this height, made the face's current one for every use
  std::string requested;  // family name asked for
  int weight = weight_normal;
  int cell_height = 0;    // height asked for
  bool symbol_map = false;  // symbol character map asked for
  bool symbol = false;      // codes go through the face's symbol map
  std::string family;     // family fontconfig chose
  std::string file;
  int ascent = 0;   // pixels above the baseline
  int descent = 0;  // pixels below it
};

// What fontconfig answered to one request (family, fallback family, weight).
// Fitting a character set asks for the same family many times, and a match
// costs about as much as opening the face.
struct FontMatch {
  std::string family, fallback;
  int weight = 0;
  bool found = false;
  std::string file;
  int index = 0;
  std::string found_family;
  bool replaced = false;
};

// A font file opened once for every height asked of it: opening reads and
// checks the file's tables, which costs far more than another size. A file
// whose symbol character map is asked for is opened apart, since the map
// chosen belongs to the opened file.
struct FontFile {
  std::string path;
  int index = 0;
  bool symbol_map = false;  // asked for
  bool symbol = false;      // found and chosen
  FT_FaceRec_* face = nullptr;
};

// What answering one request learnt that the next may use again. A fuzz run
// lends it from one input to the next, since it depends only on the
// installed fonts and code pages, never on the input.
struct FontCache {
  std::vector<std::unique_ptr<Face>> spare;  // released, kept for the same request (the latest few)
  std::vector<FontFile> files;
  std::vector<FontMatch> matches;  // the latest few
  // Code pages converted to code points (see code_page_table), by name.
  std::vector<std::pair<std::string, std::array<std::uint32_t, 256>>> code_pages;
};

// The FreeType library, fontconfig's configuration, the font files and faces
// opened so far and the matches made, owned by the run's context and
// released with it. Nothing is loaded
// until the first face is asked for, so a run that draws no text never reads
// the font configuration.
struct FontLibrary {
  FontLibrary() = default;
  ~FontLibrary();
  FontLibrary(const FontLibrary&) = delete;
  FontLibrary& operator=(const FontLibrary&) = delete;
  FT_LibraryRec_* library = nullptr;
  _FcConfig* config = nullptr;
  // Set when library and config belong to another FontLibrary that outlives
  // this one: they are used, never released. Loading the font configuration
  // costs milliseconds, which a fuzz run pays once per process instead of
  // once per input.
  bool borrowed = false;
  // Bounds a fuzz run lowers, since large character sets cost it seconds and
  // reach no code that small ones do not: the tallest cell a face is opened
  // at, and the glyphs the character-set rasteriser may still render (all
  // passes of all sets; -1: no bound), beyond which a set fails like one
  // whose glyphs cannot be rendered.
  int max_cell_height = largest_cell;
  long long glyph_budget = -1;
  std::vector<std::unique_ptr<Face>> faces;
  FontCache cache;
};

// Starts FreeType and loads fontconfig's configuration, where not done yet.
// False, with error set to a message for the user, when either fails.
bool start_font_library(FontLibrary& fonts, std::string& error);

// Finds the installed face of family (or, when the system knows no such
// family, of the generic fallback family such as "monospace" or "sans-serif";
// may be empty) and weight (400 normal, 700 bold) and opens it with cells of
// cell_height pixels. Faces are kept and handed out again for the same
// request. Returns null with error set to a message for the user when no face
// is installed, the file cannot be opened or the size cannot be set.
//
// With symbol_map the face's symbol character map is used when it has one
// (fonts of pictographs whose codes are the bytes 0 to 255); codes are then
// looked up as 0xF000 + code, where such maps keep them, and as the code
// itself. A face without a symbol map takes the codes as Unicode code points.
Face* open_face(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight, int cell_height,
                std::string& error, bool symbol_map = false);

// The family fontconfig puts in place of family when no face of that name,
// nor one configured as its equal (Liberation Sans for Arial), is installed;
// empty when the request is met as asked or nothing is found at all.
std::string replacing_family(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight);

// Gives back a face that open_face returned. Faces are handed out again for
// the same request, so a caller releases only a face that no one else holds
// at the time: the font rasteriser and the sheet release the faces they tried
// while fitting a size, so that a long run does not keep one open face per
// height it ever tried. The latest few released faces stay open as spares
// for the same request (fitting the next set asks for the same heights); the
// older ones are closed.
void release_face(FontLibrary& fonts, const Face* face);

// True when the face's character map holds a glyph for code.
bool has_glyph(const Face& face, std::uint32_t code);

// How many of the codes below each code up to `codes` have a glyph: element
// c is the count for 0 to c - 1 (codes + 1 elements).
std::vector<int> glyphs_below(const Face& face, std::uint32_t codes);

// The cell of one character: its advance width and the face's ascent plus
// descent. False when the glyph cannot be loaded.
bool char_extent(const Face& face, std::uint32_t code, int& width, int& height);

// The extent of a text (bytes taken as the first 256 code points): the sum
// of the advance widths, and the cell height.
bool text_extent(const Face& face, std::string_view text, int& width, int& height);

// A character that load_glyph_ink has rendered, as a 1-bit image as large
// as its cell, the baseline ascent rows below the top: colour 0 white,
// colour 1 black, ink pixels 1. False when memory runs out.
struct GlyphInk;
bool glyph_cell(const Face& face, const GlyphInk& glyph, Image& cell);

// Calls plot(x, y) for every ink pixel of the text whose cell's top-left
// corner is at (x, y); the background is left alone. Returns the advance
// (the text's width), or -1 when a glyph cannot be rendered.
template <typename Plot>
int draw_text_pixels(const Face& face, int x, int y, std::string_view text, Plot plot);

// --- implementation detail of draw_text_pixels ---------------------------------

// One rendered glyph: rows of bytes, 1 for ink, with its place in the cell.
struct GlyphInk {
  int advance = 0;
  int left = 0;  // columns from the pen position to the first column
  int top = 0;   // rows from the cell's top to the first row
  int width = 0;
  int rows = 0;
  std::vector<std::uint8_t> ink;  // width x rows
};
bool load_glyph_ink(const Face& face, std::uint32_t code, GlyphInk& glyph);

template <typename Plot>
int draw_text_pixels(const Face& face, int x, int y, std::string_view text, Plot plot) {
  GlyphInk glyph;
  int pen = x;
  for (char c : text) {
    if (!load_glyph_ink(face, static_cast<unsigned char>(c), glyph)) return -1;
    for (int r = 0; r < glyph.rows; ++r)
      for (int k = 0; k < glyph.width; ++k)
        if (glyph.ink[static_cast<std::size_t>(r * glyph.width + k)] != 0)
          plot(pen + glyph.left + k, y + glyph.top + r);
    pen += glyph.advance;
  }
  return pen - x;
}

}  // namespace vexa::imagefiles
