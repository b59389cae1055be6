#include "imagefiles/bitmap_block.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "base/format.h"
#include "base/limits.h"

namespace vexa::imagefiles {

namespace {

constexpr std::uint8_t escape = 0x1B;  // the signature: ESC 'U' 'L'
// Header byte 15.
constexpr std::uint8_t same_width_flag = 1;
constexpr std::uint8_t same_height_flag = 2;
// Frame entry byte 7: the delay and the coding flag.
constexpr std::uint8_t delay_bits = 0x7F;
constexpr std::uint8_t coded_flag = 0x80;
// Frame entries hold 24-bit offsets; a block that needs more cannot be
// described (it would not fit any module's memory either).
constexpr std::uint32_t largest_offset = 0xFFFFFF;
constexpr int max_chunk = 128;  // units per chunk of the run-length code

bool valid_depth(int bits) { return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24; }
bool has_palette(int bits) { return bits == 4 || bits == 8; }

// Bytes of one stored pixel unit: the run-length code works on these.
int unit_bytes(int depth) { return depth <= 8 ? 1 : depth / 8; }

// Bytes of one unpadded pixel row, as the block stores it.
std::uint64_t row_bytes(std::uint64_t width, int depth) { return (width * static_cast<std::uint64_t>(depth) + 7) / 8; }

// The fewest data bytes that can hold an image: raw rows, or when coded one
// longest repeat chunk per 128 units of every row.
std::uint64_t least_data_bytes(std::uint64_t row, std::uint64_t height, int unit, bool coded) {
  if (!coded) return row * height;
  const std::uint64_t units = row / static_cast<std::uint64_t>(unit);
  const std::uint64_t chunks = (units + max_chunk - 1) / max_chunk;
  return chunks * (1 + static_cast<std::uint64_t>(unit)) * height;
}

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
        *at++ = static_cast<std::uint8_t>(coded_flag | (m - 1));
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

// The rows of image appended to block, run-length coded; returns the bytes
// appended. Throws when memory runs out.
std::size_t append_coded_rows(std::vector<std::uint8_t>& block, const Image& image, std::size_t row, int unit) {
  const std::size_t start = block.size();
  const auto height = static_cast<std::size_t>(image_height(image));
  block.resize(start + 2 * row * height);
  std::vector<std::uint32_t> tokens;
  std::size_t coded = 0;
  for (std::size_t y = 0; y < height; ++y)
    coded += encode_row(row_pointer(image, static_cast<int>(y)), row, unit, tokens, block.data() + start + coded);
  block.resize(start + coded);
  return coded;
}

}  // namespace

BlockLayout block_layout(const BlockHeader& header) {
  BlockLayout l;
  const bool instrument = header.kind == block_instrument;
  l.header_bytes = instrument ? instrument_header_bytes : bitmap_header_bytes;
  l.entry_bytes = instrument ? instrument_entry_bytes : bitmap_entry_bytes;
  l.palette = l.header_bytes;
  if (has_palette(header.depth))
    l.palette_bytes = static_cast<std::uint32_t>(header.palette_entries) * (header.colour_format == colour_format_16 ? 2 : 3);
  l.frame_table = l.palette + l.palette_bytes;
  l.entries = header.last >= header.first ? header.last - header.first + 1 : 0;
  l.image_data = l.frame_table + static_cast<std::uint64_t>(l.entry_bytes) * static_cast<std::uint64_t>(l.entries);
  return l;
}

bool read_block_header(base::Bytes block, BlockHeader& header) {
  header = BlockHeader{};
  base::ByteCursor in{block};
  base::Bytes b;
  if (!in.take(bitmap_header_bytes, b)) return false;
  BlockHeader h;
  h.signature = b[0] == escape && b[1] == 'U' && b[2] == 'L';
  h.colour_zero = base::get_u16(&b[3]);
  h.colour_one = base::get_u16(&b[5]);
  h.kind = static_cast<char>(b[7]);
  h.colour_format = b[8] == '1' && b[9] == '6' ? colour_format_16 : colour_format_24;
  h.depth = b[10];
  h.transparent = b[11];
  if (has_palette(h.depth)) {
    h.key = b[12];
    h.palette_entries = b[13] == 0 ? 256 : b[13];
  } else if (h.depth == 1) {
    h.own_colours = b[12] != 0;
  } else {
    h.key = base::get_u24(&b[12]);
  }
  h.same_width = (b[15] & same_width_flag) != 0;
  h.same_height = (b[15] & same_height_flag) != 0;
  h.first = b[16];
  h.last = b[17];
  h.width = base::get_u16(&b[18]);
  h.height = base::get_u16(&b[20]);
  if (h.kind == block_instrument) {
    std::uint16_t v[6];
    for (std::uint16_t& value : v)
      if (!in.u16(value)) return false;
    h.pivot_x = v[0];
    h.pivot_y = v[1];
    h.start_angle = v[2];
    h.end_angle = v[3];
    h.further = {v[4], v[5]};
  }
  header = h;
  return true;
}

bool write_block_header(const BlockHeader& h, std::span<std::uint8_t> block) {
  const BlockLayout l = block_layout(h);
  if (block.size() < l.header_bytes) return false;
  std::uint8_t* b = block.data();
  std::memset(b, 0, l.header_bytes);
  b[0] = escape;
  b[1] = 'U';
  b[2] = 'L';
  base::put_u16(b + 3, h.colour_zero);
  base::put_u16(b + 5, h.colour_one);
  b[7] = static_cast<std::uint8_t>(h.kind);
  b[8] = h.colour_format == colour_format_16 ? '1' : '2';
  b[9] = h.colour_format == colour_format_16 ? '6' : '4';
  b[10] = static_cast<std::uint8_t>(h.depth);
  b[11] = static_cast<std::uint8_t>(h.transparent);
  if (has_palette(h.depth)) {
    b[12] = static_cast<std::uint8_t>(h.key);
    b[13] = static_cast<std::uint8_t>(h.palette_entries % 256);
  } else if (h.depth == 1) {
    b[12] = h.own_colours ? 1 : 0;
  } else {
    base::put_u24(b + 12, h.key);
  }
  b[15] = static_cast<std::uint8_t>((h.same_width ? same_width_flag : 0) | (h.same_height ? same_height_flag : 0));
  b[16] = static_cast<std::uint8_t>(h.first);
  b[17] = static_cast<std::uint8_t>(h.last);
  base::put_u16(b + 18, static_cast<std::uint32_t>(h.width));
  base::put_u16(b + 20, static_cast<std::uint32_t>(h.height));
  if (h.kind == block_instrument) {
    const int values[6] = {h.pivot_x, h.pivot_y, h.start_angle, h.end_angle, h.further[0], h.further[1]};
    for (int i = 0; i < 6; ++i) base::put_u16(b + bitmap_header_bytes + 2 * i, static_cast<std::uint32_t>(values[i]));
  }
  return true;
}

bool read_frame_entry(base::Bytes block, const BlockHeader& header, int i, FrameEntry& entry) {
  entry = FrameEntry{};
  const BlockLayout l = block_layout(header);
  base::ByteCursor in{block};
  std::uint16_t width = 0, height = 0;
  std::uint32_t offset = 0;
  std::uint8_t flags = 0;
  if (i < 0 || i >= l.entries || !in.seek(l.frame_table + static_cast<std::uint64_t>(l.entry_bytes) * static_cast<std::uint64_t>(i)) ||
      !in.u16(width) || !in.u16(height) || !in.u24(offset) || !in.u8(flags))
    return false;
  if (l.entry_bytes == instrument_entry_bytes) {
    std::uint16_t x = 0, y = 0;
    if (!in.u16(x) || !in.u16(y)) return false;
    entry.x = x;
    entry.y = y;
  }
  entry.width = width;
  entry.height = height;
  entry.offset = offset;
  entry.delay = static_cast<std::uint8_t>(flags & delay_bits);
  entry.coded = (flags & coded_flag) != 0;
  return true;
}

bool write_frame_entry(std::span<std::uint8_t> block, const BlockHeader& header, int i, const FrameEntry& entry) {
  const BlockLayout l = block_layout(header);
  const std::uint64_t at = l.frame_table + static_cast<std::uint64_t>(l.entry_bytes) * static_cast<std::uint64_t>(i);
  if (i < 0 || i >= l.entries || at + l.entry_bytes > block.size()) return false;
  std::uint8_t* e = block.data() + at;
  base::put_u16(e, static_cast<std::uint32_t>(entry.width));
  base::put_u16(e + 2, static_cast<std::uint32_t>(entry.height));
  base::put_u24(e + 4, entry.offset);
  e[7] = static_cast<std::uint8_t>((entry.delay & delay_bits) | (entry.coded ? coded_flag : 0));
  if (l.entry_bytes == instrument_entry_bytes) {
    base::put_u16(e + 8, static_cast<std::uint32_t>(entry.x));
    base::put_u16(e + 10, static_cast<std::uint32_t>(entry.y));
  }
  return true;
}

bool read_block_palette(base::Bytes block, const BlockHeader& header, std::vector<Bgr>& colours) {
  colours.clear();
  const BlockLayout l = block_layout(header);
  base::ByteCursor in{block};
  base::Bytes p;
  if (!in.seek(l.palette) || !in.take(l.palette_bytes, p)) return false;
  const std::size_t size = header.colour_format == colour_format_16 ? 2 : 3;
  for (std::size_t at = 0; at + size <= p.size(); at += size)
    colours.push_back(size == 2 ? unpack_565(base::get_u16(&p[at])) : Bgr{p[at], p[at + 1], p[at + 2]});
  return true;
}

bool write_block_palette(std::span<std::uint8_t> block, const BlockHeader& header, std::span<const Bgr> colours) {
  const BlockLayout l = block_layout(header);
  const std::size_t size = header.colour_format == colour_format_16 ? 2 : 3;
  if (l.palette + size * colours.size() > block.size()) return false;
  std::uint8_t* p = block.data() + l.palette;
  for (const Bgr& c : colours) {
    if (size == 2) {
      base::put_u16(p, pack_565(c));
    } else {
      p[0] = c.blue;
      p[1] = c.green;
      p[2] = c.red;
    }
    p += size;
  }
  return true;
}

bool validate_block(base::Bytes block, BlockSummary& summary) {
  summary = BlockSummary{};
  BlockHeader& h = summary.header;
  if (!read_block_header(block, h) || !h.signature) return false;
  if (h.kind != block_bitmap && h.kind != block_instrument) return false;
  if (!valid_depth(h.depth) || (h.kind == block_instrument && h.depth != 16) || h.last < h.first) return false;
  const BlockLayout& l = summary.layout = block_layout(h);
  if (l.image_data > block.size()) return false;
  if (h.transparent != 0 && has_palette(h.depth) && h.key >= static_cast<std::uint32_t>(h.palette_entries)) return false;
  summary.size = static_cast<std::uint32_t>(block.size());
  const int unit = unit_bytes(h.depth);
  for (int i = 0; i < l.entries; ++i) {
    FrameEntry f;
    if (!read_frame_entry(block, h, i, f)) return false;
    if (f.width == 0) continue;
    if (f.height == 0) return false;
    const std::uint64_t row = row_bytes(static_cast<std::uint64_t>(f.width), h.depth);
    if (f.offset > block.size() ||
        least_data_bytes(row, static_cast<std::uint64_t>(f.height), unit, f.coded) > block.size() - f.offset)
      return false;
    ++summary.images;
    if (f.coded) ++summary.coded_images;
    summary.width = std::max(summary.width, f.width);
    summary.height = std::max(summary.height, f.height);
    summary.pixel_bytes += (static_cast<std::uint64_t>(f.width) * static_cast<std::uint64_t>(h.depth) + 31) / 32 * 4 *
                           static_cast<std::uint64_t>(f.height);
  }
  return true;
}

std::string describe_block(const BlockSummary& s) {
  const BlockHeader& h = s.header;
  std::string text = base::format("%s%d %s, %u bytes, %d-bit", h.kind == block_instrument ? "I" : "G", h.colour_format,
                                  h.kind == block_instrument ? "instrument" : "bitmap block", s.size, h.depth);
  if (has_palette(h.depth)) text += base::format(", %d colours", h.palette_entries);
  text += base::format(", numbers %d..%d, %d image%s", h.first, h.last, s.images, s.images == 1 ? "" : "s");
  if (s.coded_images > 0) text += base::format(" (%d run-length coded)", s.coded_images);
  text += base::format(", largest %dx%d dots", s.width, s.height);
  if (h.transparent != 0) text += ", transparent";
  return text;
}

bool decode_frame(base::Bytes block, const BlockHeader& header, const FrameEntry& entry, Image* image) {
  const int unit = unit_bytes(header.depth);
  const std::uint64_t row = row_bytes(static_cast<std::uint64_t>(entry.width), header.depth);
  base::ByteCursor in{block};
  if (!in.seek(entry.offset)) return false;
  base::Bytes p;
  for (int y = 0; y < entry.height; ++y) {
    std::uint8_t* out = image != nullptr ? row_pointer(*image, y) : nullptr;
    if (!entry.coded) {
      if (!in.take(row, p)) return false;
      if (out != nullptr) std::memcpy(out, p.data(), row);
      continue;
    }
    std::uint64_t filled = 0;
    while (filled < row) {
      std::uint8_t control = 0;
      if (!in.u8(control)) return false;
      const std::uint64_t bytes = ((control & delay_bits) + 1ull) * static_cast<std::uint64_t>(unit);
      if (bytes > row - filled) return false;
      if (control & coded_flag) {
        if (!in.take(static_cast<std::uint64_t>(unit), p)) return false;
        if (out != nullptr)
          for (std::uint64_t i = 0; i < bytes; i += static_cast<std::uint64_t>(unit))
            std::memcpy(out + filled + i, p.data(), static_cast<std::size_t>(unit));
      } else {
        if (!in.take(bytes, p)) return false;
        if (out != nullptr) std::memcpy(out + filled, p.data(), bytes);
      }
      filled += bytes;
    }
  }
  return true;
}

bool append_frame(std::vector<std::uint8_t>& block, const BlockHeader& header, int i, const Image& image,
                  FrameEntry entry, int rle_mode) {
  const std::size_t offset = block.size();
  if (offset > largest_offset) return false;
  entry.width = image_width(image);
  entry.height = image_height(image);
  entry.offset = static_cast<std::uint32_t>(offset);
  entry.coded = false;
  const int unit = unit_bytes(header.depth);
  const auto row = static_cast<std::size_t>(row_bytes(static_cast<std::uint64_t>(entry.width), header.depth));
  const std::size_t raw = row * static_cast<std::size_t>(entry.height);
  try {
    if (rle_mode == 1 || (rle_mode == 2 && row / static_cast<std::size_t>(unit) > 2)) {
      const std::size_t coded = append_coded_rows(block, image, row, unit);
      // Automatic mode keeps the code only when it saves more than a tenth.
      entry.coded = rle_mode == 1 || coded < raw - raw / 10;
      if (!entry.coded) block.resize(offset);
    }
    if (!entry.coded) {
      block.resize(offset + raw);
      for (int y = 0; y < entry.height; ++y)
        std::memcpy(block.data() + offset + row * static_cast<std::size_t>(y), row_pointer(image, y), row);
    }
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return write_frame_entry(block, header, i, entry);
}

}  // namespace vexa::imagefiles
