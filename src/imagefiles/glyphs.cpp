#include "imagefiles/glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SIZES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "base/format.h"

namespace vexa::imagefiles {

bool start_font_library(FontLibrary& fonts, std::string& error) {
  if (fonts.library == nullptr) {
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
      error = "cannot start the font renderer !";
      return false;
    }
    fonts.library = library;
  }
  if (fonts.config == nullptr) {
    // A configuration of our own rather than the library-wide default, so
    // that it is released with the context.
    fonts.config = FcInitLoadConfigAndFonts();
    if (fonts.config == nullptr) {
      error = "cannot read the font configuration !";
      return false;
    }
  }
  return true;
}

namespace {

// True when family is one of the names the request binds strongly after
// fontconfig's substitution: the name asked for and the faces configured as
// its equals (metric-compatible ones such as Liberation Sans for Arial). The
// generic families behind them are bound weakly: a face found only through
// them stands in for a face that is not installed.
bool bound_strongly(FcPattern* pattern, const std::string& family) {
  FcValue value;
  FcValueBinding binding;
  for (int i = 0; FcPatternGetWithBinding(pattern, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i)
    if (binding != FcValueBindingWeak && value.type == FcTypeString &&
        FcStrCmpIgnoreCase(value.u.s, reinterpret_cast<const FcChar8*>(family.c_str())) == 0)
      return true;
  return false;
}

// The installed font file fontconfig chooses for the request.
bool ask_fontconfig(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight,
                    std::string& file, int& index, std::string& found_family, bool& replaced) {
  FcPattern* pattern = FcPatternCreate();
  if (pattern == nullptr) return false;
  std::string name(family);
  std::string generic(fallback);
  bool ok = FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str())) != 0;
  // The generic family stands behind the named one: fontconfig takes it only
  // when it knows nothing better for the name.
  if (ok && !generic.empty())
    ok = FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(generic.c_str())) != 0;
  ok = ok && FcPatternAddInteger(pattern, FC_WEIGHT, FcWeightFromOpenType(weight)) != 0;
  ok = ok && FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN) != 0;
  ok = ok && FcConfigSubstitute(fonts.config, pattern, FcMatchPattern) != 0;
  FcPattern* match = nullptr;
  if (ok) {
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    match = FcFontMatch(fonts.config, pattern, &result);
  }
  if (match == nullptr) {
    FcPatternDestroy(pattern);
    return false;
  }
  FcChar8* path = nullptr;
  FcChar8* chosen = nullptr;
  index = 0;
  bool found = FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path != nullptr;
  if (found) {
    file = reinterpret_cast<const char*>(path);
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
    found_family = FcPatternGetString(match, FC_FAMILY, 0, &chosen) == FcResultMatch && chosen != nullptr
                       ? reinterpret_cast<const char*>(chosen)
                       : std::string();
    replaced = !bound_strongly(pattern, found_family);
  }
  FcPatternDestroy(pattern);
  FcPatternDestroy(match);
  return found;
}

// The same, a request asked again answered from the latest matches.
bool match_font(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight,
                std::string& file, int& index, std::string& found_family, bool& replaced) {
  auto same = [&](const FontMatch& m) { return m.family == family && m.fallback == fallback && m.weight == weight; };
  auto known = std::find_if(fonts.cache.matches.begin(), fonts.cache.matches.end(), same);
  if (known == fonts.cache.matches.end()) {
    FontMatch m;
    m.family = family;
    m.fallback = fallback;
    m.weight = weight;
    m.found = ask_fontconfig(fonts, family, fallback, weight, m.file, m.index, m.found_family, m.replaced);
    if (fonts.cache.matches.size() >= 16) fonts.cache.matches.erase(fonts.cache.matches.begin());
    fonts.cache.matches.push_back(std::move(m));
    known = fonts.cache.matches.end() - 1;
  }
  if (!known->found) return false;
  file = known->file;
  index = known->index;
  found_family = known->found_family;
  replaced = known->replaced;
  return true;
}

// Sets the face to cells of height pixels. A scalable face is scaled so that
// ascent plus descent make the height at 96 pixels per inch; a face of fixed
// bitmap sizes takes the size nearest to it.
bool size_face(FT_Face face, int height) {
  if (FT_IS_SCALABLE(face)) {
    FT_Size_RequestRec request{};
    request.type = FT_SIZE_REQUEST_TYPE_REAL_DIM;
    request.width = 0;
    // 26.6 points: height pixels are height * 72 / 96 points.
    request.height = static_cast<FT_Long>(height) * 64 * 72 / pixels_per_inch;
    request.horiResolution = pixels_per_inch;
    request.vertResolution = pixels_per_inch;
    return FT_Request_Size(face, &request) == 0;
  }
  if (face->num_fixed_sizes <= 0 || face->available_sizes == nullptr) return false;
  int best = 0;
  for (int i = 1; i < face->num_fixed_sizes; ++i)
    if (std::abs(face->available_sizes[i].height - height) < std::abs(face->available_sizes[best].height - height))
      best = i;
  return FT_Select_Size(face, best) == 0;
}

// Ascent and descent in whole pixels. For a scalable face they come from the
// design values scaled and rounded, so that the cell is as tall as asked
// (hinted metrics round both outwards and would add a row).
void face_metrics(FT_Face face, int& ascent, int& descent) {
  if (FT_IS_SCALABLE(face)) {
    FT_Fixed scale = face->size->metrics.y_scale;
    ascent = static_cast<int>((FT_MulFix(face->ascender, scale) + 32) >> 6);
    descent = static_cast<int>((FT_MulFix(-face->descender, scale) + 32) >> 6);
  } else {
    ascent = static_cast<int>((face->size->metrics.ascender + 32) >> 6);
    descent = static_cast<int>((-face->size->metrics.descender + 32) >> 6);
  }
  ascent = std::max(ascent, 0);
  descent = std::max(descent, 0);
}

// The opened file (path, index), with the symbol character map chosen when
// symbol_map asks for it and the file has one; null when it cannot be opened.
const FontFile* open_font_file(FontLibrary& fonts, const std::string& path, int index, bool symbol_map) {
  for (const FontFile& file : fonts.cache.files)
    if (file.path == path && file.index == index && file.symbol_map == symbol_map) return &file;
  FontFile file{path, index, symbol_map};
  if (FT_New_Face(fonts.library, path.c_str(), index, &file.face) != 0) return nullptr;
  if (symbol_map) {
    for (int i = 0; i < file.face->num_charmaps; ++i)
      if (file.face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL &&
          FT_Set_Charmap(file.face, file.face->charmaps[i]) == 0) {
        file.symbol = true;
        break;
      }
  }
  fonts.cache.files.push_back(std::move(file));
  return &fonts.cache.files.back();
}

}  // namespace

FontLibrary::~FontLibrary() {
  for (auto* list : {&faces, &cache.spare})
    for (auto& face : *list)
      if (face->size != nullptr) FT_Done_Size(face->size);
  for (FontFile& file : cache.files) FT_Done_Face(file.face);
  if (borrowed) return;
  if (library != nullptr) FT_Done_FreeType(library);
  if (config != nullptr) FcConfigDestroy(config);
}

Face* open_face(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight, int cell_height,
                std::string& error, bool symbol_map) {
  std::string name(family);
  if (cell_height < 1 || cell_height > fonts.max_cell_height) {
    error = vexa::base::format("cannot use the font \"%s\" with a height of %d pixels !", name.c_str(), cell_height);
    return nullptr;
  }
  auto same = [&](const std::unique_ptr<Face>& face) {
    return face->requested == family && face->weight == weight && face->cell_height == cell_height &&
           face->symbol_map == symbol_map;
  };
  auto held = std::find_if(fonts.faces.begin(), fonts.faces.end(), same);
  if (held != fonts.faces.end()) return held->get();
  auto kept = std::find_if(fonts.cache.spare.begin(), fonts.cache.spare.end(), same);
  if (kept != fonts.cache.spare.end()) {
    fonts.faces.push_back(std::move(*kept));
    fonts.cache.spare.erase(kept);
    return fonts.faces.back().get();
  }
  if (!start_font_library(fonts, error)) return nullptr;

  auto result = std::make_unique<Face>();
  int index = 0;
  bool replaced = false;
  if (!match_font(fonts, family, fallback, weight, result->file, index, result->family, replaced)) {
    error = vexa::base::format("cannot find the font \"%s\" !", name.c_str());
    return nullptr;
  }
  const FontFile* file = open_font_file(fonts, result->file, index, symbol_map);
  if (file == nullptr) {
    error = vexa::base::format("cannot open the font file <%s> !", result->file.c_str());
    return nullptr;
  }
  FT_Face face = file->face;
  FT_Size size = nullptr;
  if (FT_New_Size(face, &size) != 0 || FT_Activate_Size(size) != 0 || !size_face(face, cell_height)) {
    if (size != nullptr) FT_Done_Size(size);
    error = vexa::base::format("cannot use the font \"%s\" with a height of %d pixels !", name.c_str(), cell_height);
    return nullptr;
  }
  result->symbol = file->symbol;
  result->face = face;
  result->size = size;
  result->symbol_map = symbol_map;
  result->requested = name;
  result->weight = weight;
  result->cell_height = cell_height;
  face_metrics(face, result->ascent, result->descent);
  fonts.faces.push_back(std::move(result));
  return fonts.faces.back().get();
}

std::string replacing_family(FontLibrary& fonts, std::string_view family, std::string_view fallback, int weight) {
  std::string error, file, found;
  int index = 0;
  bool replaced = false;
  if (!start_font_library(fonts, error) || !match_font(fonts, family, fallback, weight, file, index, found, replaced))
    return {};
  return replaced ? found : std::string();
}

void release_face(FontLibrary& fonts, const Face* face) {
  auto it = std::find_if(fonts.faces.begin(), fonts.faces.end(), [&](const auto& f) { return f.get() == face; });
  if (it == fonts.faces.end()) return;
  fonts.cache.spare.push_back(std::move(*it));
  fonts.faces.erase(it);
  constexpr std::size_t spare_faces = 16;
  if (fonts.cache.spare.size() > spare_faces) {
    if (fonts.cache.spare.front()->size != nullptr) FT_Done_Size(fonts.cache.spare.front()->size);
    fonts.cache.spare.erase(fonts.cache.spare.begin());
  }
}

namespace {

// The glyph of a code in the face's selected map; 0 when there is none.
FT_UInt glyph_index(const Face& face, std::uint32_t code) {
  if (face.symbol) {
    FT_UInt index = code <= 0xFF ? FT_Get_Char_Index(face.face, 0xF000 + code) : 0;
    return index != 0 ? index : FT_Get_Char_Index(face.face, code);
  }
  return FT_Get_Char_Index(face.face, code);
}

}  // namespace

bool has_glyph(const Face& face, std::uint32_t code) {
  return face.face != nullptr && glyph_index(face, code) != 0;
}

std::vector<int> glyphs_below(const Face& face, std::uint32_t codes) {
  std::vector<int> counts(static_cast<std::size_t>(codes) + 1, 0);
  for (std::uint32_t c = 0; c < codes; ++c) counts[c + 1] = counts[c] + (has_glyph(face, c) ? 1 : 0);
  return counts;
}

bool load_glyph_ink(const Face& face, std::uint32_t code, GlyphInk& glyph) {
  if (face.face == nullptr) return false;
  // A code without a glyph draws the face's default glyph (index 0), as text
  // output on the module's original platform draws its default character.
  FT_UInt index = glyph_index(face, code);
  if (FT_Activate_Size(face.size) != 0) return false;
  if (FT_Load_Glyph(face.face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO) != 0) return false;
  FT_GlyphSlot slot = face.face->glyph;
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.width > static_cast<unsigned>(largest_cell) * 4 || bitmap.rows > static_cast<unsigned>(largest_cell) * 4)
    return false;
  glyph.advance = static_cast<int>((slot->advance.x + 32) >> 6);
  glyph.left = slot->bitmap_left;
  glyph.top = face.ascent - slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.rows = static_cast<int>(bitmap.rows);
  try {
    glyph.ink.assign(static_cast<std::size_t>(glyph.width) * static_cast<std::size_t>(glyph.rows), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (glyph.ink.empty()) return true;
  if (bitmap.buffer == nullptr) return false;
  const int pitch = bitmap.pitch;
  for (int r = 0; r < glyph.rows; ++r) {
    // A negative pitch stores the rows bottom-up.
    const unsigned char* row =
        pitch >= 0 ? bitmap.buffer + static_cast<std::ptrdiff_t>(r) * pitch
                   : bitmap.buffer + static_cast<std::ptrdiff_t>(glyph.rows - 1 - r) * -pitch;
    std::uint8_t* out = glyph.ink.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(glyph.width);
    for (int k = 0; k < glyph.width; ++k) {
      switch (bitmap.pixel_mode) {
        case FT_PIXEL_MODE_MONO: out[k] = (row[k >> 3] >> (7 - (k & 7))) & 1; break;
        // Faces with grey bitmaps only (no outlines to render in monochrome)
        // are thresholded at half coverage.
        case FT_PIXEL_MODE_GRAY: out[k] = row[k] >= 128 ? 1 : 0; break;
        default: return false;
      }
    }
  }
  return true;
}

bool char_extent(const Face& face, std::uint32_t code, int& width, int& height) {
  GlyphInk glyph;
  if (!load_glyph_ink(face, code, glyph)) return false;
  width = glyph.advance;
  height = face.ascent + face.descent;
  return true;
}

bool text_extent(const Face& face, std::string_view text, int& width, int& height) {
  width = 0;
  height = face.ascent + face.descent;
  for (char c : text) {
    int w = 0, h = 0;
    if (!char_extent(face, static_cast<unsigned char>(c), w, h)) return false;
    width += w;
  }
  return true;
}

bool glyph_cell(const Face& face, const GlyphInk& glyph, Image& cell) {
  const int width = glyph.advance;
  const int height = face.ascent + face.descent;
  // create_image gives colour 0 white and colour 1 black.
  if (!create_image(cell, width, height, 1)) return false;
  for (int r = 0; r < glyph.rows; ++r) {
    int y = glyph.top + r;
    if (y < 0 || y >= height) continue;
    std::uint8_t* row = row_pointer(cell, y);
    for (int k = 0; k < glyph.width; ++k) {
      int x = glyph.left + k;
      if (x < 0 || x >= width || glyph.ink[static_cast<std::size_t>(r * glyph.width + k)] == 0) continue;
      row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
    }
  }
  return true;
}

}  // namespace vexa::imagefiles
