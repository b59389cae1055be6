#include "imagefiles/colour.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "imagefiles/row_reader.h"

namespace vexa::imagefiles {
namespace {

// A palette prepared for nearest-colour searches. The result is the first
// entry with the smallest squared distance: the same entry a scan keeping
// the first strictly smaller distance (from a start of 200000, above any
// possible distance of 3 x 255^2) and stopping at 0 finds.
struct SearchPalette {
  explicit SearchPalette(const Image& image, int count) : entries(count) {
    for (int i = 0; i < count; ++i) {
      Bgr c = colour_entry(image, i);
      colours[static_cast<std::size_t>(i)] = c;
      red[static_cast<std::size_t>(i)] = c.red;
      green[static_cast<std::size_t>(i)] = c.green;
      blue[static_cast<std::size_t>(i)] = c.blue;
    }
  }

  int nearest(int r, int g, int b) const {
    // Distance and index packed into one number (distances stay below
    // 2^18): the smallest packed value is the smallest distance at the
    // lowest index, and a plain minimum loop vectorises.
    std::int32_t best = std::numeric_limits<std::int32_t>::max();
    for (int i = 0; i < entries; ++i) {
      std::int32_t dr = r - red[static_cast<std::size_t>(i)];
      std::int32_t dg = g - green[static_cast<std::size_t>(i)];
      std::int32_t db = b - blue[static_cast<std::size_t>(i)];
      std::int32_t packed = ((dr * dr + dg * dg + db * db) << 8) | i;
      best = std::min(best, packed);
    }
    return entries > 0 ? best & 0xFF : 0;
  }

  int entries;
  std::array<Bgr, 256> colours{};
  std::array<std::int32_t, 256> red{};
  std::array<std::int32_t, 256> green{};
  std::array<std::int32_t, 256> blue{};
};

// Writes one colour into pixels of an image: the first colour-table index
// holding exactly that colour (nothing when none does), the 5-6-5 word, or
// the three bytes.
struct PixelWriter {
  PixelWriter(const Image& target, Bgr c) : bits(bit_count(target)), colour(c), word(pack_565(c)) {
    if (bits <= 8) {
      valid = false;
      for (std::uint32_t i = 0; i < target.colour_count && i < 256; ++i)
        if (colour_entry(target, static_cast<int>(i)) == c) {
          index = static_cast<int>(i);
          valid = true;
          break;
        }
    } else {
      valid = bits == 16 || bits == 24;
    }
  }

  void put(std::uint8_t* row, int x) const {
    switch (bits) {
      case 1:
        if (index != 0)
          row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
        else
          row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] & ~(0x80 >> (x & 7)));
        break;
      case 4:
        if (x & 1)
          row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | index);
        else
          row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | (index << 4));
        break;
      case 8:
        row[x] = static_cast<std::uint8_t>(index);
        break;
      case 16:
        row[2 * x] = static_cast<std::uint8_t>(word);
        row[2 * x + 1] = static_cast<std::uint8_t>(word >> 8);
        break;
      case 24:
        row[3 * x] = colour.blue;
        row[3 * x + 1] = colour.green;
        row[3 * x + 2] = colour.red;
        break;
      default:
        break;
    }
  }

  int bits;
  Bgr colour;
  std::uint16_t word;
  int index = 0;
  bool valid = false;
};

inline std::uint8_t clamp_byte(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Error diffusion along one working row. For each component the error e of
// a pixel goes 3e/Q to the right neighbour and to the pixel above (the next
// stored row), e/4 to the pixel above right, each sum clamped to 0-255;
// integer division truncates towards zero. The values still to receive an
// error from the current pixel are carried in registers (the right
// neighbour, and the pixel above that already got its part from the left),
// which keeps the per-pixel chain short; the order of additions and clamps
// is the same as adding into the rows one share at a time. Q is a constant
// so that the divisions are shifts.
template <int Q>
struct Diffusion {
  Diffusion(const std::uint8_t* s, const std::uint8_t* a)
      : value{s[0], s[1], s[2]}, above{a[0], a[1], a[2]} {}

  // Pushes the errors of pixel x (component c) and moves to pixel x + 1.
  inline void step(int c, int e, const std::uint8_t* s, std::uint8_t* a, int x) {
    int share = (3 * e) / Q;
    a[3 * x + c] = clamp_byte(above[c] + share);
    above[c] = clamp_byte(a[3 * x + 3 + c] + e / 4);
    value[c] = clamp_byte(s[3 * x + 3 + c] + share);
  }
  // The extra pixel right of the row keeps what it was given.
  void finish(std::uint8_t* a, int width) {
    for (int c = 0; c < 3; ++c) a[3 * width + c] = static_cast<std::uint8_t>(above[c]);
  }

  int value[3];  // the current pixel, its error from the left included
  int above[3];  // the pixel above it, its error from the left included
};

// Per component value v (0-255): the error between v and what the module
// shows for its 5-6-5 form, as the right/above share 3e/8 and the above-right
// share e/4. The error depends on v alone, so a table replaces the arithmetic
// in the row loop.
struct Shares565 {
  Shares565() {
    for (int v = 0; v < 256; ++v) {
      int e5 = v - ((v & 0xF8) | (v >> 5));
      int e6 = v - ((v & 0xFC) | (v >> 6));
      share5[v] = static_cast<std::int8_t>((3 * e5) / 8);
      quarter5[v] = static_cast<std::int8_t>(e5 / 4);
      share6[v] = static_cast<std::int8_t>((3 * e6) / 8);
      quarter6[v] = static_cast<std::int8_t>(e6 / 4);
    }
  }
  std::int8_t share5[256], quarter5[256], share6[256], quarter6[256];
};

// One working row into 5-6-5 words; s is the current row, a the next one.
void dither_row_16(const std::uint8_t* s, std::uint8_t* a, std::uint8_t* o, int width) {
  static const Shares565 t;
  int vb = s[0], vg = s[1], vr = s[2];
  int ab = a[0], ag = a[1], ar = a[2];
  for (int x = 0; x < width; ++x, o += 2, s += 3, a += 3) {
    unsigned word = ((vr & 0xF8u) << 8) | ((vg & 0xFCu) << 3) | (static_cast<unsigned>(vb) >> 3);
    o[0] = static_cast<std::uint8_t>(word);
    o[1] = static_cast<std::uint8_t>(word >> 8);
    int sb = t.share5[vb], sg = t.share6[vg], sr = t.share5[vr];
    a[0] = clamp_byte(ab + sb);
    a[1] = clamp_byte(ag + sg);
    a[2] = clamp_byte(ar + sr);
    ab = clamp_byte(a[3] + t.quarter5[vb]);
    ag = clamp_byte(a[4] + t.quarter6[vg]);
    ar = clamp_byte(a[5] + t.quarter5[vr]);
    vb = clamp_byte(s[3] + sb);
    vg = clamp_byte(s[4] + sg);
    vr = clamp_byte(s[5] + sr);
  }
  a[0] = static_cast<std::uint8_t>(ab);
  a[1] = static_cast<std::uint8_t>(ag);
  a[2] = static_cast<std::uint8_t>(ar);
}

// Diffused colours repeat a lot; a direct-mapped cache of exact colours
// saves most palette searches without changing any result.
struct NearestCache {
  static constexpr std::uint32_t slots = 16384;
  std::vector<std::uint32_t> key = std::vector<std::uint32_t>(slots, 0xFFFFFFFFu);
  std::vector<std::uint8_t> index = std::vector<std::uint8_t>(slots, 0);
};

// One working row into palette indices of 1, 4 or 8 bits.
template <int Q>
void dither_row_palette(const std::uint8_t* s, std::uint8_t* a, std::uint8_t* o, int width, int bits,
                        const SearchPalette& palette, NearestCache& cache) {
  Diffusion<Q> d(s, a);
  for (int x = 0; x < width; ++x) {
    int b = d.value[0], g = d.value[1], red = d.value[2];
    auto key = static_cast<std::uint32_t>(b | (g << 8) | (red << 16));
    std::uint32_t slot = (key * 0x9E3779B1u) >> 18;
    int k;
    if (cache.key[slot] == key) {
      k = cache.index[slot];
    } else {
      k = palette.nearest(red, g, b);
      cache.key[slot] = key;
      cache.index[slot] = static_cast<std::uint8_t>(k);
    }
    if (bits == 8)
      o[x] = static_cast<std::uint8_t>(k);
    else if (bits == 4)
      o[x >> 1] = static_cast<std::uint8_t>((x & 1) ? ((o[x >> 1] & 0xF0) | k) : ((o[x >> 1] & 0x0F) | (k << 4)));
    else if (k != 0)
      o[x >> 3] = static_cast<std::uint8_t>(o[x >> 3] | (0x80 >> (x & 7)));
    else
      o[x >> 3] = static_cast<std::uint8_t>(o[x >> 3] & ~(0x80 >> (x & 7)));
    const Bgr& shown = palette.colours[static_cast<std::size_t>(k)];
    d.step(0, b - shown.blue, s, a, x);
    d.step(1, g - shown.green, s, a, x);
    d.step(2, red - shown.red, s, a, x);
  }
  d.finish(a, width);
}

}  // namespace

// --- depth conversions --------------------------------------------------------

bool convert_to_24_bit(Image& image) {
  if (is_empty(image)) return false;
  int bits = bit_count(image);
  if (bits == 24) return true;
  Image result;
  if (!create_image(result, image_width(image), image_height(image), 24)) return false;
  RowReader reader(image);
  int height = image_height(image);
  for (int r = 0; r < height; ++r) reader.read(r, stored_row(result, r));
  image = std::move(result);
  return true;
}

bool convert_to_16_bit(Image& image, bool dither, const Bgr* transparent) {
  if (is_empty(image)) return false;
  if (is_565(image)) return true;
  int width = image_width(image);
  int height = image_height(image);
  Image result;
  if (!create_image(result, width, height, 16)) return false;
  if (dither) {
    if (!dither_into(image, result)) return false;
    if (transparent != nullptr && !copy_colour_mask(result, image, *transparent, 0)) return false;
  } else {
    try {
      RowReader reader(image);
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
      for (int r = 0; r < height; ++r) {
        const std::uint8_t* p = reader.read(r, buffer.data());
        std::uint8_t* o = stored_row(result, r);
        for (int x = 0; x < width; ++x, p += 3, o += 2) {
          const unsigned word = pack_565(Bgr{p[0], p[1], p[2]});
          o[0] = static_cast<std::uint8_t>(word);
          o[1] = static_cast<std::uint8_t>(word >> 8);
        }
      }
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  image = std::move(result);
  return true;
}

// --- error diffusion ----------------------------------------------------------

bool dither_into(const Image& source, Image& target) {
  int width = image_width(target);
  int height = image_height(target);
  if (is_empty(source) || is_empty(target) || image_width(source) != width || image_height(source) != height)
    return false;
  int bits = bit_count(target);
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16) return false;
  try {
    RowReader reader(source);
    const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
    // Two working rows, each one pixel longer than the picture so that the
    // error of the last pixel has somewhere to go.
    std::vector<std::uint8_t> work(2 * (row_bytes + 3));
    std::vector<std::uint8_t> buffer(row_bytes);
    std::uint8_t* cur = work.data();
    std::uint8_t* next = cur + row_bytes + 3;
    auto load = [&](std::uint8_t* into, int r) {
      std::memcpy(into, reader.read(r, buffer.data()), row_bytes);
      into[row_bytes] = into[row_bytes + 1] = into[row_bytes + 2] = 0;
    };
    load(cur, 0);

    int entries = bits <= 8 ? static_cast<int>(std::min<std::uint32_t>(target.colour_count, 256)) : 0;
    SearchPalette palette(target, entries);
    std::unique_ptr<NearestCache> cache;
    if (bits <= 8) cache = std::make_unique<NearestCache>();

    for (int r = 0; r < height; ++r) {
      if (r + 1 < height)
        load(next, r + 1);
      else
        std::memset(next, 0, row_bytes + 3);
      std::uint8_t* o = stored_row(target, r);
      // Below 8 bits per pixel the palette is coarse and a quarter of the
      // error is passed on each way (divisor 16); otherwise 3/8.
      if (bits == 16)
        dither_row_16(cur, next, o, width);
      else if (bits == 8)
        dither_row_palette<8>(cur, next, o, width, bits, palette, *cache);
      else
        dither_row_palette<16>(cur, next, o, width, bits, palette, *cache);
      std::swap(cur, next);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int nearest_colour_index(const Image& palette, Bgr colour, int entries) {
  if (bit_count(palette) > 8 || is_empty(palette)) return 0;
  entries = std::clamp(entries, 0, static_cast<int>(std::min<std::uint32_t>(palette.colour_count, 256)));
  SearchPalette search(palette, entries);
  return search.nearest(colour.red, colour.green, colour.blue);
}

// --- single colours -------------------------------------------------------------

int find_unused_colour(const Image& image, Bgr& colour) {
  if (is_empty(image)) return 0;
  int bits = bit_count(image);
  if (bits == 1) return 0;
  // One bit per 5-6-5 key: the keys the image uses, in any order.
  std::array<std::uint64_t, 1024> used{};
  auto mark = [&used](unsigned key) { used[key >> 6] |= std::uint64_t{1} << (key & 63); };
  int width = image_width(image);
  int height = image_height(image);
  if (bits <= 8) {
    for (std::uint32_t i = 0; i < image.colour_count && i < 256; ++i) mark(pack_565(colour_entry(image, static_cast<int>(i))));
  } else if (bits == 16) {
    for (int r = 0; r < height; ++r) {
      const std::uint8_t* p = stored_row(image, r);
      for (int x = 0; x < width; ++x, p += 2) mark(static_cast<unsigned>(p[0] | (p[1] << 8)));
    }
  } else {
    try {
      RowReader reader(image);
      std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
      for (int r = 0; r < height; ++r) {
        const std::uint8_t* p = reader.read(r, buffer.data());
        for (int x = 0; x < width; ++x, p += 3) mark(pack_565(Bgr{p[0], p[1], p[2]}));
      }
    } catch (const std::bad_alloc&) {
      return 0;
    }
  }
  // The candidates walk through colour space in steps that come back to the
  // start after 32 candidates. When all 32 are in use there is no safe key
  // colour among them, and any other choice would make pixels the picture
  // really shows transparent; so the search gives up (result 0) and the
  // caller reports that it cannot convert the picture.
  std::uint8_t red = 0xA8, green = 0xF8, blue = 0x58;
  for (int step = 0; step < 32; ++step) {
    std::uint16_t key = pack_565(rgb(red, green, blue));
    if ((used[key >> 6] & (std::uint64_t{1} << (key & 63))) == 0) {
      colour = unpack_565(key);
      return 1;
    }
    blue = static_cast<std::uint8_t>(blue + 8);
    green = static_cast<std::uint8_t>(green - 24);
    red = static_cast<std::uint8_t>(red - 56);
  }
  return 0;
}

void set_pixel_colour(Image& image, int x, int y, Bgr colour) {
  if (is_empty(image) || x < 0 || y < 0 || x >= image_width(image) || y >= image_height(image)) return;
  PixelWriter writer(image, colour);
  if (writer.valid) writer.put(row_pointer(image, y), x);
}

bool copy_colour_mask(Image& target, const Image& source, Bgr colour, int mode) {
  int width = image_width(target);
  int height = image_height(target);
  if (is_empty(target) || is_empty(source) || image_width(source) != width || image_height(source) != height)
    return false;
  PixelWriter writer(target, colour);
  if (!writer.valid) return true;  // the target has no entry for the colour
  auto put = [&](int x, int r) {
    if (x >= 0 && x < width && r >= 0 && r < height) writer.put(stored_row(target, r), x);
  };
  try {
    RowReader reader(source);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(width) * 3);
    for (int r = 0; r < height; ++r) {
      const std::uint8_t* p = reader.read(r, buffer.data());
      for (int x = 0; x < width; ++x, p += 3) {
        if (p[0] != colour.blue || p[1] != colour.green || p[2] != colour.red) continue;
        put(x, r);
        if (mode & 1) {
          put(x - 1, r);
          put(x + 1, r);
          put(x, r - 1);
          put(x, r + 1);
        }
        if (mode & 2) {
          put(x - 1, r - 1);
          put(x + 1, r - 1);
          put(x - 1, r + 1);
          put(x + 1, r + 1);
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (mode > 0) {
    for (int x = 0; x < width; ++x) {
      put(x, 0);
      put(x, height - 1);
    }
    for (int r = 0; r < height; ++r) {
      put(0, r);
      put(width - 1, r);
    }
  }
  return true;
}

}  // namespace vexa::imagefiles
