// Installed fonts as bitmap fonts: the WINFONT directive names an installed
// face, and every requested character is rendered into a 1-bit image of an
// ImageSet, one slot per character code, with the font's size fitted so that
// the ink of the whole character set is as tall as asked. The fitted-font
// routine also gives the overview sheets their labels.
#pragma once

#include <string>
#include <vector>

#include "imagefiles/glyphs.h"
#include "resources/image.h"

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

// The name of a character set for the log: "UNICODES" for negative values,
// the set's name for the known ones, otherwise the number formatted by "%3d".
std::string charset_name(int charset);

}  // namespace vexa::imagefiles
