// TGA (Truevision Targa) reader: colour-mapped, true-colour and grey images,
// raw or run-length coded, rows in any of the four orders, 32-bit alpha
// turned into the set's transparent key colour.
#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "imagefiles/colour.h"
#include "imagefiles/dispatch.h"
#include "imagefiles/reader_support.h"

namespace vexa::imagefiles {

namespace {

constexpr std::size_t header_size = 18;

enum TgaType { mapped = 1, truecolour = 2, grey = 3, mapped_rle = 9, truecolour_rle = 10, grey_rle = 11 };

struct TgaHeader {
  int id_length = 0;
  int map_type = 0;
  int type = 0;
  int map_first = 0;
  int map_length = 0;
  int map_bits = 0;
  int width = 0;
  int height = 0;
  int depth = 0;
  int descriptor = 0;
};

int signed16(const std::uint8_t* p) { return static_cast<std::int16_t>(base::get_u16(p)); }

// header -> id_length map_type type map_first map_length map_bits
//           x_origin y_origin width height depth descriptor
bool read_header(ByteCursor& cursor, TgaHeader& h) {
  Bytes b;
  if (!cursor.take(header_size, b)) return false;
  h.id_length = b[0];
  h.map_type = b[1];
  h.type = b[2];
  h.map_first = signed16(&b[3]);
  h.map_length = signed16(&b[5]);
  h.map_bits = b[7];
  h.width = signed16(&b[12]);
  h.height = signed16(&b[14]);
  h.depth = b[16];
  h.descriptor = b[17];
  return true;
}

bool is_mapped(int type) { return type == mapped || type == mapped_rle; }
bool is_rle(int type) { return type >= mapped_rle; }

// What this reader accepts. Colour maps must have 24-bit entries. Beyond
// that, combinations with no sensible picture are rejected rather than
// guessed at: a colour-mapped image needs a map (there would be no colours
// otherwise) and 8-bit indices, a true-colour image 16, 24 or 32 bits (8
// bits would need a table it does not have), and a map never has a negative
// first entry or length.
bool acceptable(const TgaHeader& h) {
  if (h.type != mapped && h.type != truecolour && h.type != grey && h.type != mapped_rle &&
      h.type != truecolour_rle && h.type != grey_rle)
    return false;
  if (h.depth != 8 && h.depth != 16 && h.depth != 24 && h.depth != 32) return false;
  if (h.map_type > 1) return false;
  if (h.map_type == 1 && (h.map_bits != 24 || h.map_first < 0 || h.map_length < 0)) return false;
  if (is_mapped(h.type) && (h.map_type != 1 || h.map_length == 0 || h.depth != 8)) return false;
  if ((h.type == truecolour || h.type == truecolour_rle) && h.depth == 8) return false;
  return h.width > 0 && h.height > 0;
}

// Reads all pixels of the picture, in file order, into out (width * height
// pixels of bpp bytes). Run-length packets are read as one stream over the
// whole picture: a packet that runs over the end of a row continues at the
// start of the next one, which is how Targa writers that code the picture as
// a single run mean it; only a packet that runs past the last pixel is cut
// there. Missing data fail.
bool decode_pixels(ByteCursor& cursor, const TgaHeader& h, std::uint8_t* out, std::size_t pixels, int bpp) {
  std::size_t total = pixels * static_cast<std::size_t>(bpp);
  if (!is_rle(h.type)) {
    Bytes raw;
    if (!cursor.take(total, raw)) return false;
    std::memcpy(out, raw.data(), total);
    return true;
  }
  std::size_t done = 0;
  while (done < pixels) {
    std::uint8_t packet = 0;
    if (!cursor.u8(packet)) return false;
    std::size_t n = std::min<std::size_t>((packet & 0x7F) + 1, pixels - done);
    std::uint8_t* dst = out + done * bpp;
    Bytes values;
    if (packet & 0x80) {  // run: one value n times
      if (!cursor.take(static_cast<std::size_t>(bpp), values)) return false;
      for (std::size_t i = 0; i < n; ++i) std::memcpy(dst + i * bpp, values.data(), static_cast<std::size_t>(bpp));
    } else {  // literal: n values
      if (!cursor.take(n * bpp, values)) return false;
      std::memcpy(dst, values.data(), n * bpp);
    }
    done += n;
  }
  return true;
}

// Where file row r, file pixel i lands: right-to-left rows (descriptor bit 4)
// fill from the right end, top-down files (bit 5) start with the top row.
struct Placement {
  bool right_to_left;
  bool top_down;
  int width;
  int height;
  int stored_row(int r) const { return top_down ? height - 1 - r : r; }
  int column(int i) const { return right_to_left ? width - 1 - i : i; }
};

std::uint8_t* stored_row(Image& image, int row) {
  return image.dib.data() + image.pixels + static_cast<std::size_t>(image.row_stride) * static_cast<std::size_t>(row);
}

void place_rows(Image& image, const std::uint8_t* raw, const Placement& at, int depth) {
  int bpp = depth / 8;
  for (int r = 0; r < at.height; ++r) {
    const std::uint8_t* src = raw + static_cast<std::size_t>(r) * at.width * bpp;
    std::uint8_t* dst = stored_row(image, at.stored_row(r));
    for (int i = 0; i < at.width; ++i, src += bpp) {
      std::size_t x = static_cast<std::size_t>(at.column(i));
      switch (depth) {
        case 8: dst[x] = src[0]; break;
        case 16:  // the top bit is an attribute, not part of the colour
          dst[2 * x] = src[0];
          dst[2 * x + 1] = static_cast<std::uint8_t>(src[1] & 0x7F);
          break;
        default:  // 24 and 32 bits: blue, green, red; a fourth byte is alpha
          std::memcpy(dst + 3 * x, src, 3);
          break;
      }
    }
  }
}

// Pixels whose alpha byte is below the threshold take the key colour.
void key_transparent_pixels(Image& image, const std::uint8_t* raw, const Placement& at, int threshold, Bgr key) {
  for (int r = 0; r < at.height; ++r) {
    const std::uint8_t* src = raw + static_cast<std::size_t>(r) * at.width * 4;
    std::uint8_t* dst = stored_row(image, at.stored_row(r));
    for (int i = 0; i < at.width; ++i, src += 4) {
      if (src[3] >= threshold) continue;
      std::uint8_t* p = dst + 3 * static_cast<std::size_t>(at.column(i));
      p[0] = key.blue;
      p[1] = key.green;
      p[2] = key.red;
    }
  }
}

bool read_image(ImageSet& set, Bytes file, const ReadOptions& options) {
  ByteCursor cursor{file};
  TgaHeader h;
  if (!read_header(cursor, h) || !acceptable(h)) return false;
  if (!cursor.skip(static_cast<std::size_t>(h.id_length))) return false;
  Bytes map;
  if (h.map_type == 1 && !cursor.take(static_cast<std::size_t>(h.map_length) * 3, map)) return false;

  // Sides are at most 32767, so the products below fit easily. Before any
  // allocation the pixel data must be able to describe the picture: raw data
  // need every byte, and a run-length packet of 1 + bpp bytes gives at most
  // 128 pixels.
  int bpp = h.depth / 8;
  std::size_t pixels = static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height);
  std::size_t raw_bytes = pixels * static_cast<std::size_t>(bpp);
  if (raw_bytes > options.max_image_bytes) return false;
  std::size_t most = is_rle(h.type) ? cursor.left() / (1 + static_cast<std::size_t>(bpp)) * 128
                                    : cursor.left() / static_cast<std::size_t>(bpp);
  if (pixels > most) return false;
  LargeBuffer raw;
  if (!allocate_large(raw, raw_bytes) || !decode_pixels(cursor, h, raw.data.get(), pixels, bpp)) return false;

  Image& image = set.images[1];
  int bits = h.depth == 32 ? 24 : h.depth;
  // A grey picture that carries a colour map shows its values through the
  // map, as a colour-mapped one does; without one they are grey levels.
  if (is_mapped(h.type) || (bits == 8 && h.map_type == 1 && h.map_length > 0)) {
    // Entry first + k of the table is map entry k, so that pixel value v
    // shows map entry v - first, as Targa defines the first-entry field
    // (a file may store only the tail of a larger map). Entries below first
    // are black. Indices no 8-bit pixel can reach are dropped; an index past
    // the table is shown black, the table growing up to the largest used.
    int entries = std::min(h.map_first + h.map_length, 256);
    const std::uint8_t* index = raw.data.get();
    int largest = *std::max_element(index, index + pixels);
    entries = std::max(entries, largest + 1);
    std::uint32_t clr_used = entries < 256 ? static_cast<std::uint32_t>(entries) : 0;
    if (!create_bitmap(image, h.width, h.height, 8, entries, clr_used)) return false;
    for (int k = 0; k < h.map_length && h.map_first + k < entries; ++k) {
      const std::uint8_t* e = &map[3 * static_cast<std::size_t>(k)];
      set_colour_entry(image, h.map_first + k, Bgr{e[0], e[1], e[2]});
    }
  } else if (bits == 8) {  // grey without a map: 8-bit true colour is rejected above
    if (!create_bitmap(image, h.width, h.height, 8, 256, 0)) return false;
    for (int i = 0; i < 256; ++i) {
      auto v = static_cast<std::uint8_t>(i);
      set_colour_entry(image, i, Bgr{v, v, v});
    }
  } else {
    if (!create_bitmap(image, h.width, h.height, bits, 0, 0)) return false;
    if (bits == 16) {  // 5-5-5 bit fields
      std::uint8_t* masks = image.dib.data() + dib::header_bytes;
      base::put_u32(masks, 0x7C00);
      base::put_u32(masks + 4, 0x03E0);
      base::put_u32(masks + 8, 0x001F);
    }
  }

  Placement at{(h.descriptor & 0x10) != 0, (h.descriptor & 0x20) != 0, h.width, h.height};
  place_rows(image, raw.data.get(), at, h.depth);
  if (h.depth == 32) {
    Bgr key;
    set.transparent = static_cast<std::uint16_t>(find_unused_colour(image, key) ? 1 : 0);
    if (set.transparent) {
      set.transparent_colour = key;
      key_transparent_pixels(image, raw.data.get(), at, options.alpha_threshold, key);
    }
  }
  return true;
}

}  // namespace

// Reads a TGA from its bytes into slot 1. Returns 1, or 0 (slot 1 empty) for
// a damaged or unsupported file; reports nothing.
int read_tga(ImageSet& set, Bytes file, const ReadOptions& options) {
  release_image(set.images[1]);
  set.transparent = 0;
  if (read_image(set, file, options)) return 1;
  release_image(set.images[1]);
  set.transparent = 0;
  return 0;
}

}  // namespace vexa::imagefiles
