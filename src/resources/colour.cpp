#include "resources/colour.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/format.h"
#include "imagefiles/colour.h"
#include "imagefiles/row_reader.h"

namespace vexa::resources {

using imagefiles::Bgr;
using imagefiles::Image;
using imagefiles::ImageSet;
using imagefiles::RowReader;
using imagefiles::rgb;
namespace dib = imagefiles::dib;

namespace {

// The information lines of the resource compilers are indented by 15 blanks.
constexpr const char* indent = "               ";

inline std::uint32_t colour_key(Bgr c) {
  return static_cast<std::uint32_t>(c.blue) | (static_cast<std::uint32_t>(c.green) << 8) |
         (static_cast<std::uint32_t>(c.red) << 16);
}

inline Bgr key_colour(std::uint32_t key) {
  return Bgr{static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8), static_cast<std::uint8_t>(key >> 16)};
}

inline std::uint32_t bgr_key(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16);
}

// A small open-addressed set of up to a few hundred 24-bit colour keys, each
// with an index. 1024 slots keep it at most a quarter full.
struct ColourHash {
  static constexpr std::uint32_t slots = 1024;
  static constexpr std::uint32_t used = 1u << 24;  // marks an occupied slot

  static std::uint32_t home(std::uint32_t key) { return (key * 0x9E3779B1u) >> 22; }

  // Index of the key, or -1.
  int find(std::uint32_t key) const {
    for (std::uint32_t s = home(key);; s = (s + 1) & (slots - 1)) {
      if (keys[s] == 0) return -1;
      if (keys[s] == (key | used)) return index[s];
    }
  }
  // Adds the key with its index; false when it was already there.
  bool insert(std::uint32_t key, int idx) {
    for (std::uint32_t s = home(key);; s = (s + 1) & (slots - 1)) {
      if (keys[s] == 0) {
        keys[s] = key | used;
        index[s] = static_cast<std::uint16_t>(idx);
        return true;
      }
      if (keys[s] == (key | used)) return false;
    }
  }

  std::array<std::uint32_t, slots> keys{};
  std::array<std::uint16_t, slots> index{};
};

// Builds a zero-filled palette image of the given depth with exactly
// `entries` colour-table entries. A table shorter than 2^bits is stated in
// biClrUsed; a full table leaves biClrUsed at 0, as a full table needs no count.
bool create_palette_image(Image& image, int width, int height, int bits, int entries) {
  if (!create_image(image, width, height, bits)) return false;
  int full = 1 << bits;
  std::uint32_t used = static_cast<std::uint32_t>(entries);
  if (entries < full) {
    // The pixel rows are still all zero, so cutting the tail of the table
    // out of the block is all it takes to shorten it.
    auto first = image.dib.begin() + dib::header_bytes + 4 * entries;
    image.dib.erase(first, first + 4 * (full - entries));
  } else {
    used = 0;
  }
  set_header_field(image, dib::clr_used, used);
  set_header_field(image, dib::clr_important, used);
  if (!refresh_layout(image)) {
    release_image(image);
    return false;
  }
  return true;
}

// The in-place quicksort used for palettes: pivot at the middle index,
// Hoare-style crossing scan, the companion array moved along. Entries with
// equal keys end in the order this exact scheme leaves them, which decides
// the order of equally bright palette entries; a library sort could order
// them differently.
void quicksort(std::int32_t* key, std::int32_t* companion, int low, int high) {
  int i = low;
  int j = high;
  std::int32_t pivot = key[(low + high) / 2];
  while (i <= j) {
    while (key[i] < pivot) ++i;
    while (key[j] > pivot) --j;
    if (i <= j) {
      std::swap(key[i], key[j]);
      if (companion != nullptr) std::swap(companion[i], companion[j]);
      ++i;
      --j;
    }
  }
  if (low < j) quicksort(key, companion, low, j);
  if (i < high) quicksort(key, companion, i, high);
}

// The first image in the set's used range, or null.
Image* first_image(ImageSet& set) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)])) return &set.images[static_cast<std::size_t>(s)];
  return nullptr;
}
const Image* first_image(const ImageSet& set) { return first_image(const_cast<ImageSet&>(set)); }

int image_total(const ImageSet& set) {
  int n = 0;
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) n += is_empty(set.images[static_cast<std::size_t>(s)]) ? 0 : 1;
  return n;
}

// Width of the widest image and sum of all heights.
void set_extent(const ImageSet& set, int& width, int& height) {
  width = 0;
  height = 0;
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) {
    const Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    width = std::max(width, image_width(image));
    height += image_height(image);
  }
}

// Copies the set's images into the 24-bit sheet from stored row `row` on,
// each image's stored rows after the previous one's, at column 0.
void stack_into(Image& sheet, const ImageSet& set, int row) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) {
    const Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    RowReader reader(image);
    int height = image_height(image);
    std::size_t bytes = static_cast<std::size_t>(image_width(image)) * 3;
    for (int r = 0; r < height; ++r) {
      std::uint8_t* into = stored_row(sheet, row + r);
      const std::uint8_t* p = reader.read(r, into);
      if (p != into) std::memcpy(into, p, bytes);
    }
    row += height;
  }
}

// Recreates the set's images (into `out`, same slots) from the sheet's stored
// rows starting at `row`: each at its own size with the sheet's depth and
// colour table. False when memory runs out.
bool unstack_from(const Image& sheet, const ImageSet& set, int row, std::array<Image, base::limits::image_slots>& out) {
  int bits = bit_count(sheet);
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) {
    const Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    int width = image_width(image);
    int height = image_height(image);
    Image& target = out[static_cast<std::size_t>(s)];
    if (!create_image(target, width, height, 0, &sheet)) return false;
    std::size_t bits_used = static_cast<std::size_t>(width) * static_cast<std::size_t>(bits);
    std::size_t bytes = (bits_used + 7) / 8;
    int spare = static_cast<int>(bytes * 8 - bits_used);
    for (int r = 0; r < height; ++r) {
      std::uint8_t* into = stored_row(target, r);
      std::memcpy(into, stored_row(sheet, row + r), bytes);
      // Pixels of the sheet beyond this image's width must not leak into
      // the row's padding bits.
      if (spare != 0) into[bytes - 1] = static_cast<std::uint8_t>(into[bytes - 1] & (0xFF << spare));
    }
    row += height;
  }
  return true;
}

void commit_images(ImageSet& set, std::array<Image, base::limits::image_slots>& images) {
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)]))
      set.images[static_cast<std::size_t>(s)] = std::move(images[static_cast<std::size_t>(s)]);
}

// Cuts a sheet of images as wide as itself apart again, each image a copy
// of the sheet's header and colour table with its own height and its share
// of the rows. The images are the one picture the sheet is, cut: unlike
// unstack_from, which builds each image anew, they keep the sheet's header
// as it is (a full colour table is not counted in biClrUsed). False when an
// image is narrower than the sheet, the sheet has too few rows, or memory
// runs out; the set is then unchanged.
bool cut_sheet(const Image& sheet, ImageSet& set) {
  std::array<Image, base::limits::image_slots> images;
  int row = 0;
  int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  for (int s = set.first_number; s < end; ++s) {
    const Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    const int height = image_height(image);
    if (image_width(image) != image_width(sheet) || row + height > image_height(sheet)) return false;
    const std::size_t bytes = static_cast<std::size_t>(sheet.row_stride) * static_cast<std::size_t>(height);
    Image& cut = images[static_cast<std::size_t>(s)];
    try {
      cut.dib.resize(sheet.pixels + bytes);
    } catch (const std::bad_alloc&) {
      return false;
    }
    std::memcpy(cut.dib.data(), sheet.dib.data(), sheet.pixels);
    std::memcpy(cut.dib.data() + sheet.pixels, stored_row(sheet, row), bytes);
    set_header_field(cut, dib::height, static_cast<std::uint32_t>(height));
    if (!refresh_layout(cut)) return false;
    row += height;
  }
  commit_images(set, images);
  return true;
}

// replace_colour restricted to the stored rows [from_row, to_row) of a 24-bit image.
void replace_in_rows(Image& sheet, Bgr from, Bgr to, int from_row, int to_row) {
  int width = image_width(sheet);
  for (int r = from_row; r < to_row; ++r) {
    std::uint8_t* p = stored_row(sheet, r);
    for (int x = 0; x < width; ++x, p += 3)
      if (p[0] == from.blue && p[1] == from.green && p[2] == from.red) {
        p[0] = to.blue;
        p[1] = to.green;
        p[2] = to.red;
      }
  }
}

// Shared body of convert_to_8_bit and convert_to_4_bit.
bool convert_to_palette(Image& image, int bits, int palette_mode, const Image* templ, const Bgr* transparent) {
  if (is_empty(image)) return false;
  int source_bits = bit_count(image);
  if (templ != nullptr && (is_empty(*templ) || bit_count(*templ) > 8)) templ = nullptr;
  if (source_bits == bits && templ == nullptr) return true;
  // A 1-bit source keeps its own two colours (white and black for every
  // picture read from a file), and an 8-bit target keeps a 4-bit source's
  // table: both are already the best palette for the picture.
  if (templ == nullptr && (source_bits == 1 || (bits == 8 && source_bits == 4))) templ = &image;
  int width = image_width(image);
  int height = image_height(image);
  Image result;
  if (!create_image(result, width, height, bits, templ)) return false;
  int entries = static_cast<int>(result.colour_count);
  if (templ == nullptr) {
    if (transparent != nullptr) {
      if (build_palette(image, result, entries - 1, palette_mode) < 1) return false;
      set_colour_entry(result, entries - 1, *transparent);
    } else if (build_palette(image, result, entries, palette_mode) < 1) {
      return false;
    }
  }
  if (!dither_into(image, result)) return false;
  if (transparent != nullptr && !copy_colour_mask(result, image, *transparent, 0)) return false;
  image = std::move(result);
  return true;
}

// Palette pictures are counted by index: a byte value met before brings no
// new pixel, and a row equal to the one before brings nothing at all, so a
// picture near the size limit costs one pass over its bytes with a table
// lookup each, and the pass ends once every index has been met. The order of
// first appearance is the one of the pixel-by-pixel count.
int count_palette_colours(const Image& image, std::array<Bgr, 256>& table) {
  const int bits = bit_count(image), width = image_width(image), height = image_height(image);
  const RowReader reader(image);  // its palette reads entries beyond the table as black
  std::array<bool, 256> index_met{}, byte_met{};
  ColourHash colours;
  int count = 0, indices = 0;
  auto meet = [&](int index) {
    if (index_met[static_cast<std::size_t>(index)]) return;
    index_met[static_cast<std::size_t>(index)] = true;
    ++indices;
    const Bgr c = reader.palette[static_cast<std::size_t>(index)];
    if (colours.insert(colour_key(c), count)) table[static_cast<std::size_t>(count++)] = c;
  };
  const std::size_t whole_bytes = bits == 8 ? static_cast<std::size_t>(width) : static_cast<std::size_t>(width) / 2;
  const bool half_byte = bits == 4 && (width & 1) != 0;
  const std::uint8_t* previous = nullptr;
  for (int r = 0; r < height && indices < (1 << bits); ++r) {
    const std::uint8_t* row = stored_row(image, r);
    if (previous != nullptr && std::memcmp(previous, row, whole_bytes + (half_byte ? 1 : 0)) == 0) continue;
    previous = row;
    for (std::size_t i = 0; i < whole_bytes; ++i) {
      const std::uint8_t b = row[i];
      if (byte_met[b]) continue;
      byte_met[b] = true;
      if (bits == 8) {
        meet(b);
      } else {
        meet(b >> 4);
        meet(b & 0x0F);
      }
    }
    if (half_byte) meet(row[whole_bytes] >> 4);
  }
  return count;
}

// Gives a palette picture the table entries[0..count) in place of its own,
// with the header a new picture of its size gets, so that the bytes are the
// ones a freshly built picture would have. False, before anything changes,
// for a header this program does not build itself.
bool shorten_colour_table(Image& image, const std::array<Bgr, 256>& entries, int count) {
  const int bits = bit_count(image);
  if (header_field(image, dib::size) != dib::header_bytes || image_height(image) < 1) return false;
  auto table = image.dib.begin() + dib::header_bytes;
  const auto have = static_cast<std::ptrdiff_t>(image.colour_count), want = static_cast<std::ptrdiff_t>(count);
  if (have > want)
    image.dib.erase(table + 4 * want, table + 4 * have);
  else
    image.dib.insert(table + 4 * have, static_cast<std::size_t>(4 * (want - have)), std::uint8_t{0});
  const std::uint32_t used = count < (1 << bits) ? static_cast<std::uint32_t>(count) : 0;
  set_header_field(image, dib::compression, 0);
  set_header_field(image, dib::size_image, 0);
  set_header_field(image, dib::x_pels, dib::pels_per_metre);
  set_header_field(image, dib::y_pels, dib::pels_per_metre);
  set_header_field(image, dib::clr_used, used);
  set_header_field(image, dib::clr_important, used);
  if (!refresh_layout(image)) return false;
  for (int i = 0; i < count; ++i) set_colour_entry(image, i, entries[static_cast<std::size_t>(i)]);
  return true;
}

// Maps the indices of a palette picture's rows through map into rows of
// another depth (To below From), or in place (To equal to From). Rows of a
// new target are zero-filled, so bits are only ever set.
template <int From, int To>
void remap_rows(const Image& source, Image& target, const std::array<std::uint8_t, 256>& map) {
  const int width = image_width(source), height = image_height(source);
  // A 4-bit byte mapped at once: both pixels as a 4-bit byte, or as two
  // 1-bit pixels. Built once, not per row: a tall picture has many rows.
  std::array<std::uint8_t, 256> pair{};
  if constexpr (From == 4 && To == 4)
    for (int b = 0; b < 256; ++b) pair[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(map[static_cast<std::size_t>(b >> 4)] << 4 | map[static_cast<std::size_t>(b & 15)]);
  if constexpr (From == 4 && To == 1)
    for (int b = 0; b < 256; ++b)
      pair[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>((map[static_cast<std::size_t>(b >> 4)] & 1) << 1 | (map[static_cast<std::size_t>(b & 15)] & 1));
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* in = stored_row(source, r);
    std::uint8_t* out = stored_row(target, r);
    if constexpr (From == To) {
      int bytes = From == 8 ? width : width / 2;
      for (int i = 0; i < bytes; ++i) out[i] = From == 8 ? map[in[i]] : pair[in[i]];
      if (From == 4 && (width & 1) != 0) {
        out[bytes] = static_cast<std::uint8_t>(map[in[bytes] >> 4] << 4);
        ++bytes;
      }
      std::memset(out + bytes, 0, target.row_stride - static_cast<std::uint32_t>(bytes));
    } else {
      // Whole output bytes from groups of input bytes, then the last pixels
      // one by one.
      int x = 0;
      if constexpr (From == 4 && To == 1) {
        for (; x + 8 <= width; x += 8) {
          const std::uint8_t* q = in + x / 2;
          out[x / 8] = static_cast<std::uint8_t>(pair[q[0]] << 6 | pair[q[1]] << 4 | pair[q[2]] << 2 | pair[q[3]]);
        }
      } else if constexpr (From == 8 && To == 4) {
        for (; x + 2 <= width; x += 2) out[x / 2] = static_cast<std::uint8_t>(map[in[x]] << 4 | map[in[x + 1]]);
      } else if constexpr (From == 8 && To == 1) {
        for (; x + 8 <= width; x += 8) {
          unsigned byte = 0;
          for (int j = 0; j < 8; ++j) byte = byte << 1 | (map[in[x + j]] & 1u);
          out[x / 8] = static_cast<std::uint8_t>(byte);
        }
      }
      for (; x < width; ++x) {
        const unsigned v = From == 8 ? in[x] : (x & 1) != 0 ? in[x >> 1] & 0x0Fu : static_cast<unsigned>(in[x >> 1] >> 4);
        const unsigned k = map[v];
        if constexpr (To == 4)
          out[x >> 1] = static_cast<std::uint8_t>(out[x >> 1] | ((x & 1) != 0 ? k : k << 4));
        else
          out[x >> 3] = static_cast<std::uint8_t>(out[x >> 3] | (k & 1) << (7 - (x & 7)));
      }
    }
  }
}

}  // namespace

// --- counting and analysing -------------------------------------------------

int count_colours(const Image& image, std::array<Bgr, 256>& table, bool stop_early) {
  if (is_empty(image)) return 0;
  int bits = bit_count(image);
  if (bits == 1) return static_cast<int>(image.colour_count);
  if (bits == 4 || bits == 8) return count_palette_colours(image, table);
  int width = image_width(image);
  int height = image_height(image);
  try {
    RowReader reader(image);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
    ColourHash seen;
    // Past 256 colours only the count matters: one bit per 24-bit colour.
    std::vector<std::uint64_t> all;
    int count = 0;
    std::uint32_t last = 0xFFFFFFFFu;  // neighbours often repeat: skip the lookup
    for (int r = 0; r < height; ++r) {
      const std::uint8_t* p = reader.read(r, buffer.data());
      for (int x = 0; x < width; ++x, p += 3) {
        std::uint32_t key = bgr_key(p);
        if (key == last) continue;
        last = key;
        if (count <= 256) {
          if (!seen.insert(key, count)) continue;
          if (count < 256) table[static_cast<std::size_t>(count)] = key_colour(key);
          if (++count == 257) {
            if (stop_early) return 257;
            all.assign(std::size_t{1} << 18, 0);
            for (std::uint32_t k : seen.keys)
              if (k != 0) all[(k & 0xFFFFFF) >> 6] |= std::uint64_t{1} << (k & 63);
          }
        } else {
          std::uint64_t& word = all[key >> 6];
          std::uint64_t bit = std::uint64_t{1} << (key & 63);
          if ((word & bit) == 0) {
            word |= bit;
            ++count;
          }
        }
      }
    }
    return count;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

int analyse_colours(Image& image, int report_depth, bool transparent, base::ReportLines& report) {
  if (is_empty(image)) return 0;
  int bits = bit_count(image);
  int old_count = static_cast<int>(image.colour_count);
  if (bits == 1) return old_count;
  std::array<Bgr, 256> used{};
  int c = count_colours(image, used, true);
  if (c < 1) return old_count;  // out of memory
  if (c > 256 || static_cast<std::uint32_t>(c) == image.colour_count) return c;

  int depth = c > 16 ? 8 : (c < 3 && !transparent ? 1 : 4);
  int width = image_width(image);
  int height = image_height(image);
  try {
    // The new colour table: a palette image keeps the order of its own table
    // (dropping unused and repeated entries); a 16- or 24-bit image lists its
    // colours in order of first appearance.
    std::array<Bgr, 256> entries{};
    int n = 0;
    ColourHash taken;
    if (bits <= 8) {
      ColourHash in_use;
      for (int i = 0; i < c; ++i) in_use.insert(colour_key(used[static_cast<std::size_t>(i)]), i);
      for (std::uint32_t i = 0; i < image.colour_count && n < c; ++i) {
        Bgr e = colour_entry(image, static_cast<int>(i));
        if (in_use.find(colour_key(e)) >= 0 && taken.insert(colour_key(e), n)) entries[static_cast<std::size_t>(n++)] = e;
      }
    }
    // Pixels whose index lies beyond a short table read as black, a colour
    // the table may lack: such colours are appended, so every pixel maps.
    for (int i = 0; i < c && n < c; ++i) {
      Bgr e = used[static_cast<std::size_t>(i)];
      if (taken.insert(colour_key(e), n)) entries[static_cast<std::size_t>(n++)] = e;
    }

    if (bits <= 8) {
      // Indices map to indices: one lookup a pixel, and at the same depth
      // the picture is rewritten in place, never copied.
      std::array<std::uint8_t, 256> map{};
      const RowReader reader(image);
      for (int i = 0; i < 256; ++i)
        map[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(std::max(0, taken.find(colour_key(reader.palette[static_cast<std::size_t>(i)]))));
      if (depth == bits) {
        if (!shorten_colour_table(image, entries, c)) return old_count;
        if (bits == 8) remap_rows<8, 8>(image, image, map);
        if (bits == 4) remap_rows<4, 4>(image, image, map);
      } else {
        Image result;
        if (!create_palette_image(result, width, height, depth, c)) return old_count;
        for (int i = 0; i < c; ++i) set_colour_entry(result, i, entries[static_cast<std::size_t>(i)]);
        if (bits == 8 && depth == 4) remap_rows<8, 4>(image, result, map);
        if (bits == 8 && depth == 1) remap_rows<8, 1>(image, result, map);
        if (bits == 4 && depth == 1) remap_rows<4, 1>(image, result, map);
        image = std::move(result);
      }
    } else {
      Image result;
      if (!create_palette_image(result, width, height, depth, c)) return old_count;
      for (int i = 0; i < c; ++i) set_colour_entry(result, i, entries[static_cast<std::size_t>(i)]);
      RowReader reader(image);
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
      for (int r = 0; r < height; ++r) {
        const std::uint8_t* p = reader.read(r, buffer.data());
        std::uint8_t* o = stored_row(result, r);
        std::uint32_t last = 0xFFFFFFFFu;
        int k = 0;
        for (int x = 0; x < width; ++x, p += 3) {
          std::uint32_t key = bgr_key(p);
          if (key != last) {
            last = key;
            k = taken.find(key);
          }
          if (depth == 8)
            o[x] = static_cast<std::uint8_t>(k);
          else if (depth == 4)
            o[x >> 1] = static_cast<std::uint8_t>(o[x >> 1] | ((x & 1) ? k : k << 4));
          else if (k != 0)
            o[x >> 3] = static_cast<std::uint8_t>(o[x >> 3] | (0x80 >> (x & 7)));
        }
      }
      image = std::move(result);
    }
  } catch (const std::bad_alloc&) {
    return old_count;
  }

  if (depth < bits && report_depth != 0 && report_depth != depth) {
    const char* line = transparent ? "%sonly %d colors and transparency is used: change colordepth->%d-bit\r\n"
                                   : "%sonly %d colors are used: change colordepth->%d-bit\r\n";
    report.push_back(base::format(line, indent, c, depth));
    if (depth == 1) {
      Bgr first = colour_entry(image, 0);
      std::string text = base::format("%sused colors: RGB[0]=%d,%d,%d", indent, first.red, first.green, first.blue);
      if (c == 2) {
        Bgr second = colour_entry(image, 1);
        text += base::format("  RGB[1]=%d,%d,%d\r\n", second.red, second.green, second.blue);
      } else {
        text += "\n\r";  // the one-colour line has always ended this way
      }
      report.push_back(text);
    }
  }
  return c;
}

bool analyse_set_colours(ImageSet& set, int report_depth, base::ReportLines& report) {
  Image* first = first_image(set);
  if (first == nullptr || bit_count(*first) == 1) return true;
  if (image_total(set) == 1) {
    analyse_colours(*first, report_depth, set.transparent != 0, report);
    return true;
  }
  Image sheet;
  if (!stack_sheet(set, sheet)) return false;
  analyse_colours(sheet, report_depth, set.transparent != 0, report);
  return unstack_sheet(sheet, set);
}

bool analyse_file_colours(ImageSet& set, int report_depth, base::ReportLines& report) {
  if (image_total(set) <= 1) return analyse_set_colours(set, report_depth, report);
  Image sheet;
  if (!stack_sheet(set, sheet)) return false;
  analyse_colours(sheet, report_depth, set.transparent != 0, report);
  return cut_sheet(sheet, set);
}

bool change_colour_depth(ImageSet& set, int max_depth, int dithering, base::ReportLines& report) {
  const Image* first = first_image(set);
  if (first == nullptr) return true;
  int depth = bit_count(*first);
  if (max_depth < depth) {
    int mode = 0;
    if (max_depth == 4 || max_depth == 8)
      mode = dithering == 0 ? 24 : 16;
    else if (max_depth == 16 && (dithering & 1) != 0)
      mode = 1;
    const char* line = mode == 0 ? "%schange colordepth %d-bit -> %d-bit\r\n"
                                 : "%schange colordepth %d-bit -> %d-bit with dithering\r\n";
    report.push_back(base::format(line, indent, depth, max_depth));
    return convert_set_depth(set, max_depth, mode);
  }
  if ((dithering & 2) != 0 && (depth == 4 || depth == 8) && !is_palette_exact_16(*first)) {
    report.push_back(base::format("%schange palette bitdepth 24 -> 16-bit with dithering\r\n", indent));
    return convert_set_depth(set, depth, 16);
  }
  return true;
}

bool convert_set_depth(ImageSet& set, int depth, int mode) {
  const Image* first = first_image(set);
  if (first == nullptr) return false;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 16) return false;
  if (mode == 0 && bit_count(*first) == depth) return true;
  Image sheet;
  if (!stack_sheet(set, sheet)) return false;
  // A first image of lower depth already has the palette the set must keep.
  const Image* templ = bit_count(*first) < depth ? first : nullptr;
  const Bgr* transparent = set.transparent != 0 ? &set.transparent_colour : nullptr;
  bool ok = false;
  switch (depth) {
    case 8: ok = convert_to_8_bit(sheet, mode, templ, transparent); break;
    case 4: ok = convert_to_4_bit(sheet, mode, templ, transparent); break;
    case 1: ok = convert_to_1_bit(sheet, transparent); break;
    default: ok = convert_to_16_bit(sheet, mode != 0, transparent); break;
  }
  if (!ok || !unstack_sheet(sheet, set)) return false;
  if (depth == 1) set.transparent = 0;  // a 1-bit picture has no key colour
  return true;
}

// --- palette depths -----------------------------------------------------------

bool convert_to_8_bit(Image& image, int palette_mode, const Image* templ, const Bgr* transparent) {
  return convert_to_palette(image, 8, palette_mode, templ, transparent);
}

bool convert_to_4_bit(Image& image, int palette_mode, const Image* templ, const Bgr* transparent) {
  return convert_to_palette(image, 4, palette_mode, templ, transparent);
}

bool convert_to_1_bit(Image& image, const Bgr* transparent) {
  if (is_empty(image)) return false;
  if (bit_count(image) == 1) return true;
  // Transparent pixels become white, the colour a 1-bit picture leaves undrawn.
  Image whitened;
  const Image* source = &image;
  if (transparent != nullptr) {
    if (!duplicate_image(image, whitened)) return false;
    replace_colour(whitened, *transparent, rgb(255, 255, 255));
    source = &whitened;
  }
  Image result;
  if (!create_image(result, image_width(image), image_height(image), 1)) return false;
  if (!dither_into(*source, result)) return false;
  image = std::move(result);
  return true;
}

int build_palette(const Image& source, Image& target, int entries, int palette_mode) {
  if (is_empty(source) || is_empty(target) || bit_count(target) > 8) return 0;
  int n = std::clamp(entries, 0, static_cast<int>(std::min<std::uint32_t>(target.colour_count, 256)));
  for (int i = 0; i < n; ++i) set_colour_entry(target, i, rgb(0, 0, 0));
  if (n == 0) return 0;
  int width = image_width(source);
  int height = image_height(source);
  try {
    // One bit per 24-bit key: walking the set bits gives the distinct keys
    // already in ascending order, the same list a sort of all pixel keys
    // followed by dropping repeats gives, in linear time.
    std::vector<std::uint64_t> seen(std::size_t{1} << 18, 0);
    RowReader reader(source);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
    const bool round = palette_mode == 16;
    for (int r = 0; r < height; ++r) {
      const std::uint8_t* p = reader.read(r, buffer.data());
      for (int x = 0; x < width; ++x, p += 3) {
        std::uint32_t b = p[0], g = p[1], red = p[2];
        if (round) {
          b = (b & 0xF8) | (b >> 5);
          g = (g & 0xFC) | (g >> 6);
          red = (red & 0xF8) | (red >> 5);
        }
        std::uint32_t key = (red << 16) | (g << 8) | b;  // sorts by red, green, blue
        seen[key >> 6] |= std::uint64_t{1} << (key & 63);
      }
    }
    std::uint64_t distinct = 0;
    for (std::uint64_t word : seen) distinct += static_cast<std::uint64_t>(__builtin_popcountll(word));

    // Which distinct keys become entries: all of them when they fit, else
    // every step-th one and the largest.
    std::uint64_t step = distinct <= static_cast<std::uint64_t>(n) ? 1 : (distinct - 1) / static_cast<std::uint64_t>(n);
    if (distinct <= static_cast<std::uint64_t>(n)) n = static_cast<int>(distinct);
    std::array<std::int32_t, 256> keys{};
    std::array<std::int32_t, 256> brightness{};
    int taken = 0;
    std::uint64_t index = 0;
    std::uint32_t largest = 0;
    for (std::size_t w = 0; w < seen.size(); ++w) {
      for (std::uint64_t word = seen[w]; word != 0; word &= word - 1, ++index) {
        auto key = static_cast<std::uint32_t>(w * 64 + static_cast<std::size_t>(__builtin_ctzll(word)));
        largest = key;
        if (taken < n - 1 && index == step * static_cast<std::uint64_t>(taken))
          keys[static_cast<std::size_t>(taken++)] = static_cast<std::int32_t>(key);
      }
    }
    keys[static_cast<std::size_t>(n - 1)] = static_cast<std::int32_t>(largest);
    for (int i = 0; i < n; ++i) {
      auto key = static_cast<std::uint32_t>(keys[static_cast<std::size_t>(i)]);
      brightness[static_cast<std::size_t>(i)] =
          static_cast<std::int32_t>(((key >> 16) + ((key >> 8) & 0xFF) + (key & 0xFF)) / 3);
    }
    quicksort(brightness.data(), keys.data(), 0, n - 1);
    for (int i = 0; i < n; ++i) {
      auto key = static_cast<std::uint32_t>(keys[static_cast<std::size_t>(i)]);
      set_colour_entry(target, i, rgb(static_cast<int>(key >> 16), static_cast<int>((key >> 8) & 0xFF),
                                      static_cast<int>(key & 0xFF)));
    }
    return n;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

// --- single colours -------------------------------------------------------------

void replace_colour(Image& image, Bgr from, Bgr to) {
  if (is_empty(image)) return;
  int bits = bit_count(image);
  int width = image_width(image);
  int height = image_height(image);
  if (bits <= 8) {
    for (std::uint32_t i = 0; i < image.colour_count && i < 256; ++i)
      if (colour_entry(image, static_cast<int>(i)) == from) set_colour_entry(image, static_cast<int>(i), to);
  } else if (bits == 16) {
    std::uint16_t old_word = pack_565(from);
    std::uint16_t new_word = pack_565(to);
    for (int r = 0; r < height; ++r) {
      std::uint8_t* p = stored_row(image, r);
      for (int x = 0; x < width; ++x, p += 2)
        if (p[0] == (old_word & 0xFF) && p[1] == (old_word >> 8)) {
          p[0] = static_cast<std::uint8_t>(new_word);
          p[1] = static_cast<std::uint8_t>(new_word >> 8);
        }
    }
  } else if (bits == 24) {
    replace_in_rows(image, from, to, 0, height);
  }
}

// --- sets -------------------------------------------------------------------------

bool is_palette_exact_16(const Image& image) {
  int bits = bit_count(image);
  if (bits != 4 && bits != 8) return false;
  for (std::uint32_t i = 0; i < image.colour_count && i < 256; ++i) {
    Bgr c = colour_entry(image, static_cast<int>(i));
    if (!(round_565(c) == c)) return false;
  }
  return true;
}

bool sets_compatible(const ImageSet& a, const ImageSet& b) {
  if ((a.transparent != 0) != (b.transparent != 0)) return false;
  if (a.transparent != 0 && !(a.transparent_colour == b.transparent_colour)) return false;
  const Image* fa = first_image(a);
  const Image* fb = first_image(b);
  // An empty set takes on whatever the other one has.
  if (fa == nullptr || fb == nullptr) return true;
  int bits = bit_count(*fa);
  if (bits != bit_count(*fb)) return false;
  if (bits != 4 && bits != 8) return true;
  if (fa->colour_count != fb->colour_count) return false;
  for (std::uint32_t i = 0; i < fa->colour_count && i < 256; ++i)
    if (!(colour_entry(*fa, static_cast<int>(i)) == colour_entry(*fb, static_cast<int>(i)))) return false;
  return true;
}

bool harmonise_sets(ImageSet& a, ImageSet& b) {
  if (sets_compatible(a, b)) return true;
  int width_a, height_a, width_b, height_b;
  set_extent(a, width_a, height_a);
  set_extent(b, width_b, height_b);
  Image sheet;
  if (!create_image(sheet, std::max(width_a, width_b), height_a + height_b, 24)) return false;
  stack_into(sheet, a, 0);
  stack_into(sheet, b, height_a);

  bool transparent = a.transparent != 0 || b.transparent != 0;
  Bgr key{};
  if (transparent) {
    // One key colour for both: neither picture may use it.
    if (find_unused_colour(sheet, key) == 0) return false;
    if (a.transparent != 0) replace_in_rows(sheet, a.transparent_colour, key, 0, height_a);
    if (b.transparent != 0) replace_in_rows(sheet, b.transparent_colour, key, height_a, height_a + height_b);
  }
  base::ReportLines none;  // report depth 0: the analysis has nothing to say
  analyse_colours(sheet, 0, transparent, none);

  std::array<Image, base::limits::image_slots> images_a;
  std::array<Image, base::limits::image_slots> images_b;
  if (!unstack_from(sheet, a, 0, images_a) || !unstack_from(sheet, b, height_a, images_b)) return false;
  commit_images(a, images_a);
  commit_images(b, images_b);
  if (transparent) {
    a.transparent = b.transparent = 1;
    a.transparent_colour = b.transparent_colour = key;
  }
  return true;
}

bool stack_sheet(const ImageSet& set, Image& sheet) {
  int width, height;
  set_extent(set, width, height);
  Image result;
  if (!create_image(result, width, height, 24)) return false;
  stack_into(result, set, 0);
  sheet = std::move(result);
  return true;
}

bool unstack_sheet(const Image& sheet, ImageSet& set) {
  int width, height;
  set_extent(set, width, height);
  if (is_empty(sheet) || image_width(sheet) < width || image_height(sheet) < height) return false;
  std::array<Image, base::limits::image_slots> images;
  if (!unstack_from(sheet, set, 0, images)) return false;
  commit_images(set, images);
  return true;
}

}  // namespace vexa::resources
