#include "imagefiles/dispatch.h"

#include <array>
#include <cctype>
#include <string_view>

#include "base/paths.h"
#include "imagefiles/bmp.h"
#include "imagefiles/fxt.h"
#include "imagefiles/native.h"

namespace vexa::imagefiles {

namespace {

// Readers of files that hold one picture: they fill slot 1, and the
// dispatcher then sets count and first_number.
struct SingleReader {
  std::string_view extension;
  int (*read)(ImageSet& set, Bytes file, const ReadOptions& options);
};

// Readers of files that hold several images: they number them themselves.
struct MultiReader {
  std::string_view extension;
  int (*read)(ImageSet& set, Bytes file, const ReadOptions& options, ReadNotes& notes);
};

// Tried in this order.
constexpr auto single_readers = std::to_array<SingleReader>({
    {".BMP", read_bmp},
    {".BH7", read_bh7},
    {".BLH", read_blh},
    {".BLV", read_blv},
    {".JPG", read_jpeg},
    {".TGA", read_tga},
    {".PNG", read_png},
});

// Tried after the single-image readers, in this order.
constexpr auto multi_readers = std::to_array<MultiReader>({
    {".FXT", [](ImageSet& set, Bytes file, const ReadOptions&, ReadNotes& notes) {
       return read_fxt_font(set, file, notes.faults);
     }},
    {".G16", [](ImageSet& set, Bytes file, const ReadOptions&, ReadNotes&) { return read_g16(set, file); }},
    {".G24", [](ImageSet& set, Bytes file, const ReadOptions&, ReadNotes&) { return read_g16(set, file); }},
    {".GIF", [](ImageSet& set, Bytes file, const ReadOptions& options, ReadNotes& notes) {
       return read_gif(set, file, options, notes.colour_depth);
     }},
});

bool same_extension(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

Bytes as_bytes(const std::string& bytes) {
  return Bytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int load_image_file(const ReadOptions& options, ImageSet& set, const std::string& file_name, ReadNotes& notes) {
  clear_set(set);
  notes = ReadNotes{};
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return 0;
  const std::string_view extension = std::string_view(file_name).substr(dot);

  std::string bytes;
  for (const SingleReader& reader : single_readers) {
    if (!same_extension(extension, reader.extension)) continue;
    if (!base::read_whole_file(file_name, bytes)) break;
    int result = reader.read(set, as_bytes(bytes), options);
    if (result >= 1) {
      set.count = 1;
      set.first_number = 1;
      return result;
    }
    break;
  }
  for (const MultiReader& reader : multi_readers) {
    if (!same_extension(extension, reader.extension)) continue;
    if (!base::read_whole_file(file_name, bytes)) return 0;
    return reader.read(set, as_bytes(bytes), options, notes);
  }
  return 0;
}

}  // namespace vexa::imagefiles
