#include "imagefiles/native.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "base/bytes.h"
#include "base/limits.h"
#include "base/paths.h"
#include "imagefiles/bitmap_block.h"

namespace vexa::imagefiles {

namespace {

constexpr std::uint8_t escape = 0x1B;
constexpr Bgr white = rgb(255, 255, 255);
constexpr Bgr black = rgb(0, 0, 0);
constexpr std::array<Bgr, 2> white_black = {white, black};

bool valid_depth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24; }

// Bytes of one unpadded pixel row, as the module's formats store it.
std::uint64_t row_bytes(std::uint64_t width, int bits) { return (width * static_cast<std::uint64_t>(bits) + 7) / 8; }

// Builds the image a native file describes: 40-byte header, the file's
// depth, 2500 pixels per metre, zeroed rows (bottom-up), and for 1 to 8 bits
// a colour table of the given colours. A palette shorter than the depth
// allows gives a table of that length (biClrUsed = its length); an empty or
// a full-length one gives the full table, and entries the file did not give
// stay black. Colours beyond what the depth can index are dropped: no pixel
// can refer to them. 16 bits get the 5-6-5 masks. False when a side is 0,
// the size is beyond the limits, or memory runs out (the image is empty).
bool build_image(Image& image, std::uint32_t width, std::uint32_t height, int bits, std::span<const Bgr> colours) {
  release_image(image);
  if (!valid_depth(bits)) return false;
  const std::uint32_t full = bits <= 8 ? 1u << bits : 0;
  const std::uint32_t entries =
      bits > 8 ? 0 : (!colours.empty() && colours.size() < full ? static_cast<std::uint32_t>(colours.size()) : full);
  if (!create_dib(image, width, height, bits, entries, entries < full ? entries : 0)) return false;
  for (std::uint32_t i = 0; i < entries; ++i)
    set_colour_entry(image, static_cast<int>(i), i < colours.size() ? colours[i] : black);
  return true;
}

// The head of a BLH or BLV file: with the module's image command in front it
// is 7 bytes (width and height at offsets 5 and 6), without it 2 bytes.
struct MonoHead {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  const std::uint8_t* data = nullptr;
  std::uint64_t data_bytes = 0;
};

bool read_mono_head(Bytes file, MonoHead& head) {
  ByteCursor in{file};
  Bytes p;
  const bool command = file.size() >= 3 && file[0] == escape && file[1] == 'U' && file[2] == 'L';
  if (!in.take(command ? 7 : 2, p)) return false;
  head.width = command ? p[5] : p[0];
  head.height = command ? p[6] : p[1];
  head.data = file.data() + in.at;
  head.data_bytes = in.left();
  return head.width >= 1 && head.height >= 1;
}

// BLH and BLV share everything but the bit each pixel comes from. The file's
// data length must be exactly what width and height call for. Only pixels
// inside the picture are taken, so padding bits of a file do not reach the
// image rows.
template <typename DataSize, typename BitOf>
int read_mono(ImageSet& set, Bytes file, DataSize data_size, BitOf bit_of) {
  Image& image = set.images[1];
  release_image(image);
  MonoHead head;
  if (!read_mono_head(file, head) || head.data_bytes != data_size(head)) return 0;
  if (!build_image(image, head.width, head.height, 1, white_black)) return 0;
  for (std::uint32_t y = 0; y < head.height; ++y) {
    std::uint8_t* row = row_pointer(image, static_cast<int>(y));
    for (std::uint32_t x = 0; x < head.width; ++x)
      if (bit_of(head, x, y)) row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
  }
  return 1;
}

int fail_set(ImageSet& set) {
  clear_set(set);
  return 0;
}

}  // namespace

// BH7: 7 bytes not examined, "BH7", width, height (16 bits each), depth,
// palette entry count (0 = 256 for 8 bits), the palette as red, green, blue
// (4 and 8 bits only), then the rows from the top, unpadded.
int read_bh7(ImageSet& set, Bytes file, const ReadOptions&) {
  Image& image = set.images[1];
  release_image(image);
  ByteCursor in{file};
  Bytes signature;
  std::uint16_t width = 0, height = 0;
  std::uint8_t bits = 0, count = 0;
  if (!in.seek(7) || !in.take(3, signature) || std::memcmp(signature.data(), "BH7", 3) != 0) return 0;
  if (!in.u16(width) || !in.u16(height) || !in.u8(bits) || !in.u8(count)) return 0;
  // Only the depths the module shows are accepted: rows of another bit count
  // could not be encoded for it later, so such a file fails here, where the
  // message names it.
  if (!valid_depth(bits)) return 0;
  const bool palette = bits == 4 || bits == 8;
  const std::uint64_t entries = !palette ? 0 : (count == 0 && bits == 8 ? 256 : count);
  const std::uint64_t row = row_bytes(width, bits);
  if (file.size() != 16 + 3 * entries + row * height) return 0;

  std::vector<Bgr> colours;
  Bytes table;
  if (!in.take(3 * entries, table)) return 0;
  for (std::uint64_t i = 0; i < entries; ++i)
    colours.push_back(rgb(table[3 * i], table[3 * i + 1], table[3 * i + 2]));
  if (bits == 1) colours.assign(white_black.begin(), white_black.end());
  if (!build_image(image, width, height, bits, colours)) return 0;

  for (int y = 0; y < height; ++y) {
    Bytes p;
    if (!in.take(row, p)) return 0;
    std::memcpy(row_pointer(image, y), p.data(), row);
  }
  return 1;
}

int read_blh(ImageSet& set, Bytes file, const ReadOptions&) {
  // Rows from the top, (width + 7) / 8 bytes each, leftmost pixel in bit 7.
  return read_mono(
      set, file, [](const MonoHead& h) -> std::uint64_t { return (h.width + 7ull) / 8 * h.height; },
      [](const MonoHead& h, std::uint32_t x, std::uint32_t y) {
        return (h.data[y * ((h.width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1;
      });
}

int read_blv(ImageSet& set, Bytes file, const ReadOptions&) {
  // Bands of 8 pixel rows from the top, one byte per column, top pixel of
  // the band in bit 0.
  return read_mono(
      set, file, [](const MonoHead& h) -> std::uint64_t { return static_cast<std::uint64_t>(h.width) * ((h.height + 7) / 8); },
      [](const MonoHead& h, std::uint32_t x, std::uint32_t y) {
        return (h.data[(y / 8) * h.width + x] >> (y % 8)) & 1;
      });
}

// G16/G24: one bitmap block. The sizes and flags of the header are not
// used: every frame entry carries its own size.
//
// Everything the frame table points at is checked: a block that
// validate_block refuses, an instrument, or one whose data end early or run
// past a row, is refused as a whole. The encoder never writes such a block,
// so it is damaged, and a partly loaded font or animation would only fail
// later with a less clear message.
int read_g16(ImageSet& set, Bytes file) {
  clear_set(set);
  BlockSummary block;
  std::vector<Bgr> colours;
  // Several entries may point at the same short run-length data, so a small
  // file could otherwise make the reader allocate 256 of the largest
  // pictures: all images of one file together stay within the size limit of
  // one image, checked before anything is allocated.
  if (!validate_block(file, block) || block.header.kind != block_bitmap ||
      block.pixel_bytes > base::limits::image_bytes || !read_block_palette(file, block.header, colours))
    return 0;
  const BlockHeader& h = block.header;
  if (h.depth == 1) colours.assign(white_black.begin(), white_black.end());

  set.first_number = static_cast<std::uint16_t>(h.first);
  set.transparent = static_cast<std::uint16_t>(h.transparent);
  if (set.transparent != 0) {
    if (h.depth == 16) {
      set.transparent_colour = unpack_565(static_cast<std::uint16_t>(h.key));
    } else if (h.depth == 24) {
      set.transparent_colour = Bgr{static_cast<std::uint8_t>(h.key), static_cast<std::uint8_t>(h.key >> 8),
                                   static_cast<std::uint8_t>(h.key >> 16)};
    } else if (h.depth == 4 || h.depth == 8) {
      set.transparent_colour = colours[h.key];  // the check kept the index inside the palette
    }  // 1 bit: the transparent colour stays black
  }

  for (int i = 0; i < block.layout.entries; ++i) {
    FrameEntry f;
    if (!read_frame_entry(file, h, i, f)) return fail_set(set);
    const auto slot = static_cast<std::size_t>(h.first + i);
    ++set.count;  // an empty entry still holds its number
    if (f.width == 0) continue;
    Image& image = set.images[slot];
    if (!build_image(image, static_cast<std::uint32_t>(f.width), static_cast<std::uint32_t>(f.height), h.depth, colours) ||
        !decode_frame(file, h, f, &image))
      return fail_set(set);
    set.delays[slot] = f.delay;
  }
  return 1;
}

}  // namespace vexa::imagefiles
