// Fonts: the FONT directive (glyphs from an FXT text font or image files)
// and the WINFONT directive (glyphs rasterised from an installed face). A
// font is a bitmap block whose image numbers are the character codes; all
// glyphs share one height, and the module tells monospaced fonts (all
// widths equal, header flags 3) from proportional ones (flags 2).
#pragma once

#include <string>
#include <string_view>

#include "imagefiles/winfont.h"
#include "resources/bitmap.h"

namespace vexa::resources {

// The most code ranges one WINFONT line may list. A font has at most 256
// codes, so a longer list could only repeat or overlap codes already asked
// for; the bound keeps a runaway line from making the rasteriser walk
// thousands of ranges.
inline constexpr int max_code_ranges = 256;

// Reads the parameters behind the face name of a WINFONT line into request
// (charset, bold, code ranges, size; what the text leaves out keeps its
// default). Numbers start at a digit, '$' (hexadecimal), '-' (negative) or
// '+'; anything else between them is skipped. Codes are 16 bits wide: higher
// bits of a code are dropped. Returns 1, or 0 when the text lists more than
// max_code_ranges ranges (request is then partly filled).
int parse_winfont_parameters(std::string_view text, imagefiles::WinFontParameters& request);

// The width listing of an encoded proportional font: "             width:"
// then one "%3d:'%c'=%3d  " entry (code, character, width) per glyph of
// width above 0 ("%3d:---=%3d  " for codes below 32), a new line of 19
// blanks after every per_line entries, and a closing "\r\n". Empty when
// per_line is below 1.
std::string width_listing(const BitmapBlock& block, int per_line);

// After a font was replaced by placeholders (whose glyphs of one width all
// look alike), lets every glyph point at the data of the first earlier glyph
// of its width (the space excepted, which stays blank) and closes the gaps
// the dropped data leaves; block_size shrinks to the data still used.
void share_dummy_glyphs(BitmapBlock& block);

}  // namespace vexa::resources
