#include "resources/bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "base/bytes.h"
#include "imagefiles/colour.h"

namespace vexa::resources {

namespace {

constexpr std::uint32_t header_bytes = 22;
constexpr std::uint32_t frame_entry_bytes = 8;
constexpr int max_chunk = 128;  // units per chunk of the run-length code

// A row token: a number of units, with repeat_flag set for "one unit repeated
// that many times", clear for "that many units copied literally".
constexpr std::uint32_t repeat_flag = 0x80000000u;

// One unit of U bytes as a number (the bytes in little-endian order).
template <int U>
inline std::uint32_t load_unit(const std::uint8_t* p) {
  if constexpr (U == 1) return p[0];
  else if constexpr (U == 2) return p[0] | (p[1] << 8);
  else return p[0] | (p[1] << 8) | (p[2] << 16);
}

// Splits one row of units into literal and repeat runs. The token list grows
// with the row (no fixed capacity), so any row the image limits allow fits;
// the caller keeps it between rows to avoid reallocating.
template <int U>
void tokenise_row(const std::uint8_t* row, std::size_t length, std::vector<std::uint32_t>& tokens) {
  tokens.clear();
  const std::uint8_t* cursor = row;
  std::uint32_t a = load_unit<U>(cursor);
  cursor += U;
  std::size_t c = U;
  if (c == length) {
    tokens.push_back(1);
    return;
  }
  std::uint32_t b = load_unit<U>(cursor);
  cursor += U;
  c += U;
  while (c <= length) {
    if (a == b) {  // repeat run: count how often a comes again
      std::uint32_t n = 1;
      while (a == b) {
        ++n;
        if (c == length) {
          c = length + 1;
          break;
        }
        a = b;
        b = load_unit<U>(cursor);
        cursor += U;
        c += U;
      }
      tokens.push_back(repeat_flag | n);
      if (c < length) {
        a = b;
        b = load_unit<U>(cursor);
        cursor += U;
        c += U;
      } else if (c == length) {
        tokens.push_back(1);  // the row's last unit stands alone
        c = length + 1;
      }
    } else {  // literal run: it stops just before the next repeat run starts
      std::uint32_t n = 0;
      while (a != b) {
        if (c == length) {
          n += 2;
          c = length + 1;
          break;
        }
        a = b;
        ++n;
        b = load_unit<U>(cursor);
        cursor += U;
        c += U;
      }
      tokens.push_back(n);
    }
  }
}

// Writes the tokens of one row as chunks of at most 128 units: control byte
// n - 1 and n literal units, or control byte 0x80 | (n - 1) and one unit.
// A chunk is never more than twice the bytes it stands for (1 + u bytes for
// at least u), so out needs room for twice the row. Returns the bytes written.
std::size_t emit_row(const std::uint8_t* row, std::size_t u, const std::vector<std::uint32_t>& tokens,
                     std::uint8_t* out) {
  const std::uint8_t* source = row;
  std::uint8_t* at = out;
  for (std::uint32_t token : tokens) {
    std::uint32_t n = token & ~repeat_flag;
    if (token & repeat_flag) {
      const std::uint8_t* value = source;
      source += n * u;
      while (n > 0) {
        std::uint32_t m = std::min<std::uint32_t>(n, max_chunk);
        *at++ = static_cast<std::uint8_t>(0x80 | (m - 1));
        std::memcpy(at, value, u);
        at += u;
        n -= m;
      }
    } else {
      while (n > 0) {
        std::uint32_t m = std::min<std::uint32_t>(n, max_chunk);
        *at++ = static_cast<std::uint8_t>(m - 1);
        std::memcpy(at, source, m * u);
        at += m * u;
        source += m * u;
        n -= m;
      }
    }
  }
  return static_cast<std::size_t>(at - out);
}

// Codes one row into out (room for 2 * row_bytes); returns the bytes written.
std::size_t encode_row(const std::uint8_t* row, std::size_t row_bytes, int unit, std::vector<std::uint32_t>& tokens,
                       std::uint8_t* out) {
  switch (unit) {
    case 1: tokenise_row<1>(row, row_bytes, tokens); break;
    case 2: tokenise_row<2>(row, row_bytes, tokens); break;
    default: tokenise_row<3>(row, row_bytes, tokens); break;
  }
  return emit_row(row, static_cast<std::size_t>(unit), tokens, out);
}

// Bytes of one stored pixel unit: the run-length code works on these.
int unit_size(int depth) { return depth <= 8 ? 1 : depth / 8; }

std::uint64_t row_bytes(const imagefiles::Image& image, int depth) {
  return (static_cast<std::uint64_t>(imagefiles::image_width(image)) * static_cast<std::uint64_t>(depth) + 7) / 8;
}

}  // namespace

std::size_t encode_rle_row(const std::uint8_t* row, std::size_t row_bytes, int unit, std::vector<std::uint8_t>& out) {
  if (row_bytes == 0 || (unit != 1 && unit != 2 && unit != 3) || row_bytes % static_cast<std::size_t>(unit) != 0)
    return 0;
  std::vector<std::uint32_t> tokens;
  std::size_t before = out.size();
  out.resize(before + 2 * row_bytes);
  std::size_t written = encode_row(row, row_bytes, unit, tokens, out.data() + before);
  out.resize(before + written);
  return written;
}

bool encode_bitmap(imagefiles::ImageSet& set, BitmapBlock& descriptor, int rle_mode, int dithering) {
  const int first = set.first_number;
  if (set.count == 0 || !has_image(set, first)) return false;
  const int format = descriptor.colour_format;
  if (format != colour_format_16 && format != colour_format_24) return false;
  const int slots = std::min<int>(set.count, base::limits::image_slots - first);

  int depth = bit_count(set.images[first]);
  const int source_depth = depth;
  if (depth == 24 && format == colour_format_16) depth = 16;
  if (depth == 16 && format == colour_format_24) depth = 24;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24) return false;

  const std::uint32_t colours = set.images[first].colour_count;
  const std::uint64_t palette_bytes =
      depth == 4 || depth == 8 ? static_cast<std::uint64_t>(format) * colours : 0;

  // Size estimate (raw data), the largest sides and whether all sides agree.
  // Images are brought to the stored depth on the way.
  const imagefiles::Bgr* keep_exact = set.transparent ? &set.transparent_colour : nullptr;
  std::uint64_t estimate = header_bytes + palette_bytes + frame_entry_bytes * static_cast<std::uint64_t>(slots);
  std::int32_t max_width = 0, max_height = 0;
  const std::int32_t first_width = image_width(set.images[first]);
  const std::int32_t first_height = image_height(set.images[first]);
  bool same_width = true, same_height = true;
  for (int i = 0; i < slots; ++i) {
    imagefiles::Image& image = set.images[first + i];
    if (is_empty(image)) continue;
    if (depth != source_depth) {
      bool ok = depth == 16 ? imagefiles::convert_to_16_bit(image, (dithering & 1) != 0, keep_exact) : imagefiles::convert_to_24_bit(image);
      if (!ok) return false;
    }
    // Every image must now have the stored depth: a row of another depth
    // would be read past its end.
    if (bit_count(image) != depth) return false;
    std::int32_t w = imagefiles::image_width(image), h = image_height(image);
    max_width = std::max(max_width, w);
    max_height = std::max(max_height, h);
    same_width = same_width && w == first_width;
    same_height = same_height && h == first_height;
    estimate += row_bytes(image, depth) * static_cast<std::uint64_t>(h);
  }

  // Twice the estimate: the run-length code of an image is at most twice its
  // raw size, so even forced coding (mode 1) fits.
  std::vector<std::uint8_t>().swap(descriptor.block);
  descriptor.block_size = 0;
  try {
    descriptor.block.assign(2 * estimate, 0);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  std::uint8_t* h = descriptor.block.data();
  descriptor.palette = header_bytes;
  descriptor.frame_table = header_bytes + static_cast<std::uint32_t>(palette_bytes);
  descriptor.image_data = descriptor.frame_table + frame_entry_bytes * static_cast<std::uint32_t>(slots);

  const imagefiles::Image& head = set.images[first];
  h[0] = 0x1B;
  h[1] = 'U';
  h[2] = 'L';
  h[7] = 'G';
  h[8] = format == colour_format_16 ? '1' : '2';
  h[9] = format == colour_format_16 ? '6' : '4';
  h[10] = static_cast<std::uint8_t>(depth);
  h[11] = static_cast<std::uint8_t>(set.transparent);
  h[15] = static_cast<std::uint8_t>((same_width ? 1 : 0) | (same_height ? 2 : 0));
  h[16] = static_cast<std::uint8_t>(first);
  h[17] = static_cast<std::uint8_t>(first + slots - 1);
  base::put_u16(h + 18, static_cast<std::uint16_t>(max_width));
  base::put_u16(h + 20, static_cast<std::uint16_t>(max_height));

  switch (depth) {
    case 1: {
      // Plain white/black glyphs leave the colours to the module; any other
      // pair is stored so the module draws it.
      std::uint16_t zero = imagefiles::pack_565(imagefiles::colour_entry(head, 0));
      std::uint16_t one = imagefiles::pack_565(imagefiles::colour_entry(head, 1));
      if ((zero != 0x0000 && zero != 0xFFFF) || (one != 0x0000 && one != 0xFFFF)) {
        base::put_u16(h + 3, zero);
        base::put_u16(h + 5, one);
        h[12] = 1;
      }
      break;
    }
    case 4:
    case 8: {
      h[13] = static_cast<std::uint8_t>(colours % 256);
      std::uint8_t* p = h + descriptor.palette;
      for (std::uint32_t i = 0; i < colours; ++i) {
        imagefiles::Bgr c = imagefiles::colour_entry(head, static_cast<int>(i));
        if (format == colour_format_16) {
          imagefiles::write_value(p, imagefiles::pack_565(c), 2);
        } else {
          *p++ = c.blue;
          *p++ = c.green;
          *p++ = c.red;
        }
      }
      if (h[11] != 0) {
        int match = -1;
        for (std::uint32_t i = 0; i < colours; ++i)
          if (imagefiles::colour_entry(head, static_cast<int>(i)) == set.transparent_colour) match = static_cast<int>(i);
        if (match >= 0)
          h[12] = static_cast<std::uint8_t>(match);
        else
          h[11] = 0;  // the key colour is not in the palette: nothing is transparent
      }
      break;
    }
    case 16:
      base::put_u16(h + 12, pack_565(set.transparent_colour));
      break;
    default:
      h[12] = set.transparent_colour.blue;
      h[13] = set.transparent_colour.green;
      h[14] = set.transparent_colour.red;
      break;
  }

  const int unit = unit_size(depth);
  std::uint64_t offset = descriptor.image_data;
  std::vector<std::uint32_t> tokens;
  std::vector<std::uint8_t> packed;  // one image's code, twice its raw size
  for (int i = 0; i < slots; ++i) {
    const int slot = first + i;
    std::uint8_t* entry = h + descriptor.frame_table + frame_entry_bytes * static_cast<std::uint32_t>(i);
    std::memset(entry, 0, frame_entry_bytes);
    const imagefiles::Image& image = set.images[slot];
    if (is_empty(image)) continue;
    // The frame table holds 24-bit offsets; a block that needs more cannot
    // be described (it would not fit any module's memory either).
    if (offset > 0xFFFFFF) return false;
    const std::int32_t width = imagefiles::image_width(image), height = image_height(image);
    base::put_u16(entry, static_cast<std::uint16_t>(width));
    base::put_u16(entry + 2, static_cast<std::uint16_t>(height));
    std::uint8_t* at = entry + 4;
    imagefiles::write_value(at, static_cast<std::uint32_t>(offset), 3);
    entry[7] = static_cast<std::uint8_t>(set.delays[slot] & 0x7F);

    const std::size_t row = static_cast<std::size_t>(row_bytes(image, depth));
    const std::size_t raw = row * static_cast<std::size_t>(height);
    bool compress = rle_mode == 1 || (rle_mode == 2 && row / static_cast<std::size_t>(unit) > 2);
    if (compress) {
      try {
        if (packed.size() < 2 * raw) packed.resize(2 * raw);
      } catch (const std::bad_alloc&) {
        return false;
      }
      std::size_t coded = 0;
      for (std::int32_t y = 0; y < height; ++y)
        coded += encode_row(imagefiles::row_pointer(image, y), row, unit, tokens, packed.data() + coded);
      // Automatic mode keeps the code only when it saves more than a tenth.
      if (rle_mode == 1 || coded < raw - raw / 10) {
        if (offset + coded > descriptor.block.size()) return false;
        std::memcpy(h + offset, packed.data(), coded);
        offset += coded;
        entry[7] |= 0x80;
        continue;
      }
    }
    for (std::int32_t y = 0; y < height; ++y) {
      std::memcpy(h + offset, imagefiles::row_pointer(image, y), row);
      offset += row;
    }
  }

  descriptor.block_size = static_cast<std::uint32_t>(offset);
  descriptor.block.resize(descriptor.block_size);
  return true;
}

}  // namespace vexa::resources
