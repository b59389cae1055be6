#include "imagefiles/bmp.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "base/format.h"
#include "imagefiles/colour.h"

namespace vexa::imagefiles {

namespace {

constexpr std::size_t alpha_mask_offset = 52;  // in version 4 and 5 info headers

constexpr std::uint32_t plain = 0;
constexpr std::uint32_t rle8 = 1;
constexpr std::uint32_t rle4 = 2;
constexpr std::uint32_t bit_fields = 3;

// Pixel writer of the run-length decoder: a pixel outside the picture is
// dropped, so no run or delta can write outside the pixel area.
struct RleTarget {
  std::uint8_t* pixels;
  std::uint64_t stride;
  std::uint64_t width;
  std::uint64_t height;
  bool four_bit;

  void put(std::uint64_t x, std::uint64_t y, std::uint8_t value) const {
    if (x >= width || y >= height) return;
    std::uint8_t* row = pixels + stride * y;
    if (!four_bit) {
      row[x] = value;
    } else if (x & 1) {
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0xF0) | (value & 0x0F));
    } else {
      row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & 0x0F) | (value << 4));
    }
  }
};

// Turns a top-down picture into the bottom-up order every image operation
// expects, by reversing the stored rows.
void flip_rows(Image& image) {
  std::uint32_t height = static_cast<std::uint32_t>(image_height(image));
  std::uint8_t* pixels = image.dib.data() + image.pixels;
  for (std::uint32_t low = 0, high = height - 1; low < high; ++low, --high)
    std::swap_ranges(pixels + static_cast<std::size_t>(image.row_stride) * low,
                     pixels + static_cast<std::size_t>(image.row_stride) * (low + 1),
                     pixels + static_cast<std::size_t>(image.row_stride) * high);
}

// A 1-bit picture whose entry 0 is the darker colour gets white/black entries
// and inverted pixels, so that a set bit is always the drawn (dark) pixel.
void normalise_one_bit(Image& image) {
  if (image.colour_count < 2) return;
  Bgr zero = colour_entry(image, 0);
  Bgr one = colour_entry(image, 1);
  if (zero.red + zero.green + zero.blue >= one.red + one.green + one.blue) return;
  set_colour_entry(image, 0, rgb(255, 255, 255));
  set_colour_entry(image, 1, rgb(0, 0, 0));
  std::uint32_t size = header_field(image, dib::size_image);
  std::uint8_t* pixels = image.dib.data() + image.pixels;
  for (std::uint32_t i = 0; i < size; ++i) pixels[i] = static_cast<std::uint8_t>(~pixels[i]);
}

// Where a 32-bit pixel keeps each channel, as a mask over the pixel read as
// a little-endian word.
struct ChannelMasks {
  std::uint32_t red = 0x00FF0000, green = 0x0000FF00, blue = 0x000000FF, alpha = 0;
};

// The masks a 32-bit file describes: with bit fields, the red, green and
// blue masks of the header (or the three words behind a 40-byte header) and
// the alpha mask of a version 4 or 5 header; without, blue, green, red and a
// fourth byte that is alpha as soon as one pixel has it non-zero (a file
// with nothing there leaves it 0).
ChannelMasks channel_masks(const Image& image) {
  ChannelMasks m;
  const std::uint32_t header_size = header_field(image, dib::size);
  if (header_field(image, dib::compression) == bit_fields) {
    m.red = base::get_u32(image.dib.data() + dib::header_bytes);
    m.green = base::get_u32(image.dib.data() + dib::header_bytes + 4);
    m.blue = base::get_u32(image.dib.data() + dib::header_bytes + 8);
    if (header_size >= alpha_mask_offset + 4) m.alpha = header_field(image, alpha_mask_offset);
    return m;
  }
  const int width = image_width(image), height = image_height(image);
  for (int y = 0; y < height && m.alpha == 0; ++y) {
    const std::uint8_t* row = row_pointer(image, y);
    for (int x = 0; x < width; ++x)
      if (row[4 * x + 3] != 0) {
        m.alpha = 0xFF000000;
        break;
      }
  }
  return m;
}

// One channel of a pixel as 8 bits: a field of 8 bits or more gives its top
// 8 bits; a narrower one repeats its bits to fill 8 (so its largest value
// is 255 and 0 stays 0); an empty mask gives 0.
struct Channel {
  int shift = 0;
  int bits = 0;
  std::uint32_t mask = 0;

  explicit Channel(std::uint32_t m) : mask(m) {
    if (m == 0) return;
    while (((m >> shift) & 1) == 0) ++shift;
    bits = std::bit_width(m >> shift);  // holes in a mask count as bits of the field
  }
  std::uint8_t operator()(std::uint32_t pixel) const {
    if (bits == 0) return 0;
    const std::uint32_t v = (pixel & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    std::uint32_t repeated = 0;
    int filled = 0;
    for (; filled < 8; filled += bits) repeated = repeated << bits | v;
    return static_cast<std::uint8_t>(repeated >> (filled - 8));
  }
};

// A 32-bit picture becomes a 24-bit one, each channel taken where its mask
// says. When the file carries alpha, pixels with alpha below the threshold
// get a key colour that no pixel of the result uses, and the set is marked
// transparent with it.
bool convert_32_bit(ImageSet& set, Image& image, int threshold) {
  const ChannelMasks masks = channel_masks(image);
  const Channel red(masks.red), green(masks.green), blue(masks.blue), alpha(masks.alpha);
  const int width = image_width(image), height = image_height(image);
  Image result;
  if (!create_image(result, width, height, 24)) return false;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* in = row_pointer(image, y);
    std::uint8_t* out = row_pointer(result, y);
    for (int x = 0; x < width; ++x, in += 4, out += 3) {
      const std::uint32_t pixel = base::get_u32(in);
      out[0] = blue(pixel);
      out[1] = green(pixel);
      out[2] = red(pixel);
    }
  }
  if (masks.alpha != 0) {
    Bgr key;
    set.transparent = static_cast<std::uint16_t>(find_unused_colour(result, key));
    set.transparent_colour = key;
    for (int y = 0; set.transparent != 0 && y < height; ++y) {
      const std::uint8_t* in = row_pointer(image, y);
      std::uint8_t* out = row_pointer(result, y);
      for (int x = 0; x < width; ++x, in += 4, out += 3)
        if (alpha(base::get_u32(in)) < threshold) {
          out[0] = key.blue;
          out[1] = key.green;
          out[2] = key.red;
        }
    }
  }
  image = std::move(result);
  return true;
}

int fail(Image& image) {
  release_image(image);
  return 0;
}

}  // namespace

int read_bmp(ImageSet& set, Bytes file, const ReadOptions& options) {
  Image& image = set.images[1];
  release_image(image);

  // File header: "BM", the file size, two reserved words, the pixel offset.
  // Only the signature and the size are used: the pixel rows are taken to
  // follow the colour table.
  ByteCursor in{file};
  std::uint8_t b = 0, m = 0;
  std::uint32_t stored_size = 0;
  if (!in.u8(b) || !in.u8(m) || b != 'B' || m != 'M') return 0;
  if (!in.u32(stored_size) || stored_size != file.size()) return 0;
  if (file.size() < bmp_file_header_bytes + dib::header_bytes) return 0;

  // The rest of the file is the bitmap block.
  try {
    image.dib.assign(file.begin() + bmp_file_header_bytes, file.end());
  } catch (const std::bad_alloc&) {
    return fail(image);
  }

  const std::uint32_t header_size = header_field(image, dib::size);
  const std::uint32_t compression = header_field(image, dib::compression);
  const int bits = bit_count(image);
  // Bit-field masks sit behind a 40-byte header or inside a longer one; a
  // header too short to hold them and too long to be followed by them
  // leaves nowhere to find them.
  if (compression == bit_fields && header_size > dib::header_bytes && header_size < dib::header_bytes + 12)
    return fail(image);
  // Only the combinations the format defines: run-length coding for 8 and 4
  // bits, bit fields for 16 and 32 bits. Compressions above 3 (embedded JPEG
  // or PNG, OS/2 Huffman and RLE24, alpha bit fields) are refused rather than
  // guessed at.
  if (compression > bit_fields) return fail(image);
  if (compression == rle8 && bits != 8) return fail(image);
  if (compression == rle4 && bits != 4) return fail(image);
  if (compression == bit_fields && bits != 16 && bits != 32) return fail(image);

  // A negative height marks rows stored top row first. Such a file is read
  // and its rows reversed, so the picture looks as intended. Run-length data
  // cannot be top-down (the format forbids it), so such a file is refused.
  const std::int32_t height = image_height(image);
  const bool top_down = height < 0;
  if (top_down) {
    if (compression == rle8 || compression == rle4 || height == INT32_MIN) return fail(image);
    set_header_field(image, dib::height, static_cast<std::uint32_t>(-height));
  }

  // The layout check refuses OS/2 1.x headers (12 and 16 bytes), unknown bit
  // counts, sizes beyond the limits, and pixel rows that end outside the file.
  if (!refresh_layout(image)) return fail(image);
  if (image.dib_size - image.pixels > options.max_image_bytes) return fail(image);
  const bool run_length = compression == rle8 || compression == rle4;
  if (!run_length) image.dib.resize(image.dib_size);  // drop trailing bytes
  if (top_down) flip_rows(image);

  if (bits == 1) {
    normalise_one_bit(image);
  } else if (run_length) {
    if (!decode_bmp_rle(image)) return fail(image);
  } else if (bits == 16) {
    // 5-6-5 with bit fields stays; every other 16-bit layout is read as 5-5-5.
    if (!convert_to_16_bit(image, false, nullptr)) return fail(image);
  } else if (bits == 32) {
    if (!convert_32_bit(set, image, options.alpha_threshold)) return fail(image);
  }
  return 1;
}

int decode_bmp_rle(Image& image) {
  const std::uint32_t compression = header_field(image, dib::compression);
  const int bits = bit_count(image);
  if (!((compression == rle8 && bits == 8) || (compression == rle4 && bits == 4))) return 0;
  if (image.pixels > image.dib.size()) return 0;

  // The uncompressed block: header and colour table copied, pixels zeroed.
  Image decoded;
  try {
    decoded.dib.assign(image.dib_size, 0);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  std::copy(image.dib.begin(), image.dib.begin() + image.pixels, decoded.dib.begin());
  set_header_field(decoded, dib::compression, plain);
  if (!refresh_layout(decoded)) return 0;

  const bool four_bit = compression == rle4;
  const RleTarget target{decoded.dib.data() + decoded.pixels, decoded.row_stride,
                         static_cast<std::uint64_t>(image_width(decoded)),
                         static_cast<std::uint64_t>(image_height(decoded)), four_bit};
  ByteCursor in{Bytes(image.dib.data() + image.pixels, image.dib.size() - image.pixels)};
  // Positions may run past the row or the picture (long runs, deltas); the
  // pixels there are dropped. Rows do not wrap: a run that leaves its row
  // loses the rest, as the row's end-of-line code will follow.
  std::uint64_t x = 0, y = 0;
  while (y < target.height) {
    std::uint8_t count = 0, value = 0;
    // Coded data that end before the picture is complete are truncated: refuse.
    if (!in.u8(count) || !in.u8(value)) return 0;
    if (count > 0) {  // encoded run
      for (std::uint64_t i = 0; i < count; ++i) {
        std::uint8_t pixel = !four_bit ? value : (i & 1) ? (value & 0x0F) : (value >> 4);
        target.put(x + i, y, pixel);
      }
      x += count;
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        y = target.height;
        break;
      case 2: {  // delta: right and up (forward in storage)
        std::uint8_t dx = 0, dy = 0;
        if (!in.u8(dx) || !in.u8(dy)) return 0;
        x += dx;
        y += dy;
        break;
      }
      default: {  // absolute run of value pixels, padded to a 16-bit boundary
        const std::uint64_t n = value;
        if (!four_bit) {
          for (std::uint64_t i = 0; i < n; ++i) {
            std::uint8_t pixel = 0;
            if (!in.u8(pixel)) return 0;
            target.put(x + i, y, pixel);
          }
          if (n & 1) in.skip(1);
        } else {
          std::uint8_t pair = 0;
          for (std::uint64_t i = 0; i < n; ++i) {
            if (!(i & 1) && !in.u8(pair)) return 0;
            target.put(x + i, y, (i & 1) ? (pair & 0x0F) : (pair >> 4));
          }
          if (n % 4 == 1 || n % 4 == 2) in.skip(1);
        }
        x += n;
        break;
      }
    }
  }
  image = std::move(decoded);
  return 1;
}

std::array<std::uint8_t, bmp_file_header_bytes> bmp_file_header(const Image& image) {
  const auto file_size = static_cast<std::uint32_t>(image.dib_size + bmp_file_header_bytes);
  std::array<std::uint8_t, bmp_file_header_bytes> header{'B', 'M'};
  base::put_u32(header.data() + 2, file_size);
  base::put_u32(header.data() + 10, file_size - header_field(image, dib::size_image));
  return header;
}

std::vector<std::uint8_t> bmp_file_bytes(const Image& image) {
  const auto header = bmp_file_header(image);
  const std::size_t block = std::min<std::size_t>(image.dib_size, image.dib.size());
  std::vector<std::uint8_t> file(header.size() + block);
  std::memcpy(file.data(), header.data(), header.size());
  if (block > 0) std::memcpy(file.data() + header.size(), image.dib.data(), block);
  return file;
}

int write_bmp_file(const Image& image, const std::string& file_name) {
  if (is_empty(image) || image.dib.size() < image.dib_size) return 0;
  const auto header = bmp_file_header(image);
  std::FILE* file = std::fopen(file_name.c_str(), "wb");
  if (file == nullptr) return 0;
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
            std::fwrite(image.dib.data(), 1, image.dib_size, file) == image.dib_size;
  ok = std::fclose(file) == 0 && ok;
  return ok ? 1 : 0;
}

int dump_images_as_bmp(const ImageSet& set, const std::string& base_name) {
  for (int number = set.first_number; number < set.first_number + set.count; ++number) {
    if (!has_image(set, number)) continue;
    if (!write_bmp_file(set.images[number], base::format("%s_%03d.bmp", base_name.c_str(), number))) return 0;
  }
  return 1;
}

}  // namespace vexa::imagefiles
