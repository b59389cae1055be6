// The raster image record. An Image is one bitmap in device-independent
// bitmap layout (info header, colour table or bit-field masks, padded pixel
// rows stored bottom row first) in one owned block, plus the sizes and offsets
// derived from it. An ImageSet is 256 numbered slots with one display time per
// slot and one transparent colour for the whole set: every file reader fills
// one, every resource compiler consumes one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/limits.h"

namespace vexa::imagefiles {

// A colour in the byte order of a colour-table entry and of a 24-bit pixel.
struct Bgr {
  std::uint8_t blue = 0;
  std::uint8_t green = 0;
  std::uint8_t red = 0;
  friend bool operator==(const Bgr&, const Bgr&) = default;
};

inline constexpr Bgr rgb(int red, int green, int blue) {
  return Bgr{static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
             static_cast<std::uint8_t>(red)};
}

// Byte offsets of the info header fields.
namespace dib {
inline constexpr std::size_t size = 0;         // 32-bit header size
inline constexpr std::size_t width = 4;        // 32-bit signed
inline constexpr std::size_t height = 8;       // 32-bit signed, positive: bottom-up
inline constexpr std::size_t planes = 12;      // 16-bit
inline constexpr std::size_t bit_count = 14;   // 16-bit
inline constexpr std::size_t compression = 16; // 32-bit: 0 plain, 1 RLE8, 2 RLE4, 3 bit fields
inline constexpr std::size_t size_image = 20;
inline constexpr std::size_t x_pels = 24;
inline constexpr std::size_t y_pels = 28;
inline constexpr std::size_t clr_used = 32;
inline constexpr std::size_t clr_important = 36;
inline constexpr std::size_t header_bytes = 40;
inline constexpr std::uint32_t pels_per_metre = 2500;  // images the compiler creates
}  // namespace dib

struct Image {
  std::vector<std::uint8_t> dib;  // empty: no image (an empty slot)
  std::uint32_t dib_size = 0;
  std::uint32_t colour_count = 0;
  std::uint32_t row_stride = 0;
  std::uint32_t colour_table = 0;  // offset of the first colour-table entry
  std::uint32_t pixels = 0;        // offset of the first stored (bottom) row
};

struct ImageSet {
  std::uint16_t count = 0;
  std::uint16_t first_number = 0;
  std::uint16_t transparent = 0;
  Bgr transparent_colour;
  std::array<Image, base::limits::image_slots> images;
  std::array<std::uint8_t, base::limits::image_slots> delays{};
};

// --- header fields ------------------------------------------------------------

inline bool is_empty(const Image& image) { return image.dib.empty(); }
std::int32_t image_width(const Image& image);
std::int32_t image_height(const Image& image);
int bit_count(const Image& image);
std::uint32_t header_field(const Image& image, std::size_t offset);
void set_header_field(Image& image, std::size_t offset, std::uint32_t value);
// A 16-bit image stored as 5-6-5 (bit fields with red mask 0xF800).
bool is_565(const Image& image);

// --- colours -------------------------------------------------------------------

// 8-bit components to a 5-6-5 word, and back; the low bits of each component
// repeat its top bits, so 0x0000 and 0xFFFF come back as black and white.
inline constexpr std::uint16_t pack_565(Bgr c) {
  return static_cast<std::uint16_t>(((c.red & 0xF8) << 8) | ((c.green & 0xFC) << 3) | (c.blue >> 3));
}
inline constexpr Bgr unpack_565(std::uint16_t w) {
  return Bgr{static_cast<std::uint8_t>(((w & 0x1F) << 3) | ((w & 0x1C) >> 2)),
             static_cast<std::uint8_t>(((w & 0x7E0) >> 3) | ((w & 0x600) >> 9)),
             static_cast<std::uint8_t>(((w >> 8) & 0xF8) | ((w & 0xE000) >> 13))};
}
// The colour the module shows for a colour: its 5-6-5 word expanded again.
inline constexpr Bgr round_565(Bgr c) { return unpack_565(pack_565(c)); }
// A 5-5-5 word (the default 16-bit layout of files) to 8-bit components.
inline constexpr Bgr unpack_555(std::uint16_t w) {
  return Bgr{static_cast<std::uint8_t>(((w & 0x1F) << 3) | ((w & 0x1C) >> 2)),
             static_cast<std::uint8_t>(((w & 0x3E0) >> 2) | ((w & 0x380) >> 7)),
             static_cast<std::uint8_t>(((w & 0x7C00) >> 7) | ((w & 0x7000) >> 12))};
}

// Entry i (0..255) of the default palette of 4- and 8-bit images.
Bgr default_palette(int i);

Bgr colour_entry(const Image& image, int index);
void set_colour_entry(Image& image, int index, Bgr colour);

// Start of the stored row holding picture row y (y = 0 is the top row).
std::uint8_t* row_pointer(Image& image, int y);
const std::uint8_t* row_pointer(const Image& image, int y);
// The colour of the pixel at column x, picture row y (colour-table entry for
// 1 to 8 bits, 5-6-5 or 5-5-5 for 16 bits, the bytes for 24 bits, bytes 1-3
// for 32 bits).
Bgr pixel_colour(const Image& image, int x, int y);
// The raw value of the pixel (index, 16-bit word, or 24-bit b | g << 8 | r << 16).
std::uint32_t pixel_value(const Image& image, int x, int y);

// --- image operations ---------------------------------------------------------

// Recomputes the derived fields from the block. Returns false (and leaves the
// image as it is) when the header is not one this program handles or the
// block is shorter than the layout needs: zero or negative sizes, a side above
// base::limits::image_side, a bit count other than 1, 4, 8, 16, 24 or 32, more than
// 256 colour-table entries, or pixel rows that would end outside the block.
bool refresh_layout(Image& image);

// Replaces the block by a zero-filled one of a bottom-up bitmap: the 40-byte
// header (one plane, compression 3 for 16 bits, 2500 pixels per metre,
// biClrUsed and biClrImportant = clr_used), table_entries colour-table
// entries up to 8 bits or the 5-6-5 masks for 16 bits (a reader of another
// layout overwrites them), then the pixel rows; the derived fields are
// refreshed. Every bitmap this program builds gets its header here. prepare, when given, sees the
// reserved block before it is filled (the readers ask for huge pages there).
// Returns false, the image empty, when a side is outside 1..image_side, the
// rows exceed image_bytes, table_entries is above 256, clr_used disagrees
// with the table, or memory runs out.
bool create_dib(Image& image, std::int64_t width, std::int64_t height, int bits, std::uint32_t table_entries,
                std::uint32_t clr_used, void (*prepare)(void* block, std::size_t size) = nullptr);

// Builds a zero-filled bitmap (the old block is released). Depth 0 with a
// template takes the template's depth; the colour table comes from the
// template, or is white/black for 1 bit and the default palette for 4 and 8
// bits; 16 bits get 5-6-5 bit fields. Returns false when the size is out of
// the limits or memory runs out; the image is then empty.
bool create_image(Image& image, int width, int height, int bits, const Image* templ = nullptr);
bool duplicate_image(const Image& source, Image& target);
void release_image(Image& image);

// --- set operations -----------------------------------------------------------

void clear_set(ImageSet& set);
bool copy_set(const ImageSet& source, ImageSet& target);
// Moves the source's images behind the target's; returns the next free number.
int append_set(ImageSet& target, ImageSet& source);

// True when the slot number lies in the set's used range and holds an image.
bool has_image(const ImageSet& set, int slot);

}  // namespace vexa::imagefiles
