#include "imagefiles/dispatch.h"

#include <array>
#include <cctype>
#include <string_view>

#include "driver/context.h"
#include "driver/paths.h"
#include "imagefiles/bmp.h"
#include "imagefiles/fxt.h"
#include "imagefiles/native.h"

namespace vexa::imagefiles {

namespace {

// Readers of files that hold one picture: they fill slot 1, and the
// dispatcher then sets count and first_number.
struct SingleReader {
  std::string_view extension;
  int (*read)(resources::ImageSet& set, Bytes file, const ReadOptions& options);
};

// Readers of files that hold several images: they number them themselves.
// The file name is there for readers whose messages name the file (FXT).
struct MultiReader {
  std::string_view extension;
  int (*read)(Context& ctx, resources::ImageSet& set, const std::string& file_name, Bytes file);
};

int read_g16_file(Context&, resources::ImageSet& set, const std::string&, Bytes file) { return read_g16(set, file); }

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
    {".FXT", read_fxt_font},
    {".G16", read_g16_file},
    {".G24", read_g16_file},
    {".GIF", [](Context& ctx, resources::ImageSet& set, const std::string&, Bytes file) {
       return read_gif(ctx.out, set, file, ReadOptions{});
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

bool read_whole_file(const std::string& file_name, std::string& bytes) {
  return driver::read_whole_file(file_name, bytes);
}

int load_image_file(Context& ctx, resources::ImageSet& set, const std::string& file_name) {
  resources::clear_set(set);
  std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos) return 0;
  const std::string_view extension = std::string_view(file_name).substr(dot);

  const ReadOptions options{ctx.settings.alpha_threshold, ctx.settings.gamma};
  std::string bytes;
  for (const SingleReader& reader : single_readers) {
    if (!same_extension(extension, reader.extension)) continue;
    if (!read_whole_file(file_name, bytes)) break;
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
    if (!read_whole_file(file_name, bytes)) return 0;
    return reader.read(ctx, set, file_name, as_bytes(bytes));
  }
  return 0;
}

}  // namespace vexa::imagefiles
