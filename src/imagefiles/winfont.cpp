#include "imagefiles/winfont.h"

#include <cstdlib>

#include "driver/format.h"

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
      error = vexa::format("cannot render the font \"%s\" !", description.face_name.c_str());
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

std::string charset_name(int charset) {
  if (charset < 0) return "UNICODES";
  for (const CharsetName& row : charset_names)
    if (row.value == charset) return row.name;
  return vexa::format("%3d", charset);
}

}  // namespace vexa::imagefiles
