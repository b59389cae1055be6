#include "imagefiles/gif.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/reader_support.h"

namespace vexa::imagefiles {

namespace {

constexpr int extension_introducer = 0x21;
constexpr int image_separator = 0x2C;
constexpr int graphic_control_label = 0xF9;

constexpr int lzw_codes = 4096;  // codes are at most 12 bits wide
constexpr int lzw_max_width = 12;
// Short strings are copied as one 8-byte word.
constexpr std::uint32_t word = 8;

// Graphic control values; they apply to every image that follows until the
// next graphic control extension replaces them.
struct GraphicControl {
  std::uint16_t delay = 0;
  std::uint16_t disposal = 0;
  std::int32_t transparent_index = -1;
};

// Work areas of the decoder, reused from one image to the next: the LZW
// table (each code's prefix code, last index, string length, and where the
// string stands whole in the output), the stack for a string that runs over
// a line's end, and the ring of recent lines of 1- and 4-bit frames.
// The tables are not cleared: every entry is written before it is read (the
// roots for each image, other codes when they are defined).
struct Decoder {
  std::array<std::uint16_t, lzw_codes> prefix;
  std::array<std::uint8_t, lzw_codes> suffix;
  std::array<std::uint16_t, lzw_codes> length;
  std::array<const std::uint8_t*, lzw_codes> place;  // null: not known
  std::array<int, lzw_codes> place_line;             // the output line holding it
  std::array<std::uint8_t, lzw_codes> stack;
  std::array<std::uint8_t, 256 + word> roots;  // the root codes' strings
  std::vector<std::uint8_t> lines;  // with a word of slack behind
  std::uint64_t frame_bytes = 0;  // all frame blocks so far
  std::uint64_t max_bytes = base::limits::image_bytes;  // what they may take together
};

inline std::uint64_t load_64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// data sub-blocks -> { length byte, that many bytes } 0
// Reads the codes of one image least significant bit first across its data
// sub-blocks, straight from the file's bytes. The file's end ends the list.
struct CodeReader {
  const std::uint8_t* p;          // next byte not yet in the bit buffer
  const std::uint8_t* block_end;  // end of the current sub-block
  const std::uint8_t* file_end;
  bool ended = false;  // the terminating length 0 or the file's end was reached
  std::uint64_t bits = 0;
  int count = 0;  // bits in the buffer

  // Steps to the next non-empty sub-block; false at the end of the list,
  // where p stays (behind the terminating 0) with an empty block.
  bool next_block() {
    if (!ended && p < file_end) {
      std::size_t n = *p++;
      std::size_t left = static_cast<std::size_t>(file_end - p);
      if (n != 0 && left != 0) {
        block_end = p + std::min(n, left);
        return true;
      }
    }
    ended = true;
    block_end = p;
    return false;
  }

  // Fills the buffer to at least 57 bits where the data allow. Inside a
  // block of 8 or more bytes left it loads 8 at once: the bytes above the
  // new count are the very bytes the next refill puts there.
  void refill() {
    while (count <= 56) {
      if (block_end - p >= 8) {
        bits |= load_64(p) << count;
        p += (63 - count) >> 3;
        count |= 56;
        return;
      }
      if (p == block_end && !next_block()) return;
      bits |= static_cast<std::uint64_t>(*p++) << count;
      count += 8;
    }
  }

  // Passes over whatever is left of the list.
  void skip_rest() {
    if (ended) return;
    p = block_end;
    while (next_block()) p = block_end;
  }
};

// colour table -> { red green blue } ...  Returns false when the file ends
// inside the table.
bool read_colour_table(ByteCursor& in, int entries, std::array<Bgr, 256>& table) {
  Bytes colours;
  if (!in.take(static_cast<std::size_t>(entries) * 3, colours)) return false;
  const std::uint8_t* p = colours.data();
  for (int i = 0; i < entries; ++i, p += 3) table[static_cast<std::size_t>(i)] = Bgr{p[2], p[1], p[0]};
  return true;
}

// Passes over a list of data sub-blocks.
void skip_sub_blocks(ByteCursor& in) {
  const std::uint8_t* here = in.bytes.data() + in.at;
  CodeReader r{here, here, in.bytes.data() + in.bytes.size()};
  r.skip_rest();
  in.seek(static_cast<std::size_t>(r.p - in.bytes.data()));
}

// A frame bitmap of width x height with the given colour table. A 4-bit
// frame may carry fewer than 16 entries: biClrUsed is the table size when it
// is below 2^bits, else 0, as for any bitmap with a full table.
bool create_frame_image(Image& image, int width, int height, int bits, const std::array<Bgr, 256>& table,
                        int entries) {
  const std::uint32_t used = entries < (1 << bits) ? static_cast<std::uint32_t>(entries) : 0;
  if (!create_bitmap(image, width, height, bits, entries, used)) return false;
  for (int i = 0; i < entries; ++i) set_colour_entry(image, i, table[static_cast<std::size_t>(i)]);
  return true;
}

// Writes a packed row of a 1- or 4-bit frame from one index per byte.
void pack_row(std::uint8_t* row, const std::uint8_t* line, int width, int bits) {
  int x = 0;
  if (bits == 4) {
    for (; x + 1 < width; x += 2) *row++ = static_cast<std::uint8_t>(line[x] << 4 | line[x + 1]);
    if (x < width) *row = static_cast<std::uint8_t>(line[x] << 4);
    return;
  }
  // 1 bit: the indices are already 0 or 1
  for (; x + 8 <= width; x += 8) {
    const std::uint8_t* p = line + x;
    *row++ = static_cast<std::uint8_t>(p[0] << 7 | p[1] << 6 | p[2] << 5 | p[3] << 4 | p[4] << 3 | p[5] << 2 |
                                       p[6] << 1 | p[7]);
  }
  if (x < width) {
    std::uint8_t b = 0;
    for (int bit = 7; x < width; ++x, --bit) b = static_cast<std::uint8_t>(b | line[x] << bit);
    *row = b;
  }
}

// LZW decoding of one image into the frame's rows, line by line from the
// top; interlaced images come in four passes (every 8th line from 0, every
// 8th from 4, every 4th from 2, every 2nd from 1). An 8-bit frame is
// written in place, narrower frames through a ring of recent lines, one
// index per byte, each line packed into its row when done. root maps the
// root codes to the stored indices (it folds indices outside the colour
// table into it). The rows the data do not reach keep their index 0, as
// does the rest of a line where the data end; all decoded pixels of such a
// partial line are kept.
//
// A code's string is its prefix code's string plus one index. A new code's
// string is exactly the previous string followed by the first index of the
// current one, and that is what the output holds at the previous string's
// place when both lie in one line: the string is then copied from there
// (root strings from a table of their own). Otherwise, a string that fits
// the rest of the line is written backwards straight into it while the
// prefix chain is walked; only a string that runs over the line's end goes
// through the stack. The places stay valid in an 8-bit frame, whose rows are
// the output, and for as long as their line is in the ring of a narrower
// frame. A string of up to 8 indices is copied as one word when 8 bytes are
// left in the line: the bytes past it are overwritten by the strings that
// follow, or cleared when the data end in this line. A place is only
// recorded where a word can be read without passing the buffer's end.
template <bool in_place>
[[gnu::noinline]] void decode_image(Decoder& d, CodeReader& r, int min_size, const std::array<std::uint8_t, 256>& root,
                  Image& frame, int width, int height, int ring_lines, bool interlaced) {
  static constexpr int pass_start[4] = {0, 4, 2, 1};
  static constexpr int pass_step[4] = {8, 8, 4, 2};

  const int bits = bit_count(frame);
  const std::uint32_t clear = 1u << min_size;
  const std::uint32_t end_code = clear + 1;
  std::uint16_t* prefix = d.prefix.data();
  std::uint8_t* suffix = d.suffix.data();
  std::uint16_t* length = d.length.data();
  const std::uint8_t** place = d.place.data();
  int* place_line = d.place_line.data();
  std::uint8_t* stack = d.stack.data();
  d.roots.fill(0);  // a word copied from the last roots reads past them
  for (std::uint32_t i = 0; i < clear; ++i) {
    suffix[i] = root[i];
    length[i] = 1;
    d.roots[i] = root[i];
    place[i] = d.roots.data() + i;
    place_line[i] = 1 << 30;  // never out of the ring
  }
  const std::uint8_t* const frame_end = frame.dib.data() + frame.dib.size();

  std::uint32_t next = clear + 2;
  int code_width = min_size + 1;
  std::uint32_t mask = (1u << code_width) - 1;
  // Codes below this, other than clear and end, are expanded directly. It
  // is 0 while the first code since a clear (or the start) is awaited.
  std::uint32_t direct_below = 0;
  std::uint32_t prev = 0;                    // the previous code
  const std::uint8_t* prev_place = nullptr;  // where its string was written whole
  std::size_t sp = 0;                        // indices waiting on the stack, the next one on top
  bool ended = false;
  const std::uint32_t w = static_cast<std::uint32_t>(width);
  int pass = 0;
  int y = 0;
  for (int line_number = 0; line_number < height && (!ended || sp > 0); ++line_number) {
    std::uint8_t* line = in_place ? row_pointer(frame, y)
                                  : d.lines.data() + static_cast<std::size_t>(line_number % ring_lines) * w;
    std::uint32_t x = 0;
    while (sp > 0 && x < w) line[x++] = stack[--sp];

    while (x < w && !ended) {
      if (r.count < code_width) {
        r.refill();
        if (r.count < code_width) {  // the data end ends the image
          ended = true;
          break;
        }
      }
      const std::uint32_t code = static_cast<std::uint32_t>(r.bits) & mask;
      r.bits >>= code_width;
      r.count -= code_width;

      std::uint32_t c = code;   // the code whose string is written
      std::uint32_t extra = 0;  // 1: the string's own first index follows it
      if (code >= direct_below || code - clear < 2) {
        if (code == clear) {
          next = clear + 2;
          code_width = min_size + 1;
          mask = (1u << code_width) - 1;
          direct_below = 0;
          continue;
        }
        if (code == end_code) {
          ended = true;
          break;
        }
        if (direct_below == 0) {
          // The first code since a clear must be a root; an undefined one
          // is taken as index 0. It defines no new code.
          c = code < clear ? code : 0;
          line[x] = suffix[c];
          prev = c;
          prev_place = line + x;
          ++x;
          direct_below = next;
          continue;
        }
        if (code != next) {
          // A code beyond the table cannot be expanded: the data are
          // damaged from here on, and the image ends as if they had ended.
          ended = true;
          break;
        }
        c = prev;  // the code being defined: the previous string plus its own first index
        extra = 1;
      }

      const std::uint32_t n = length[c];
      std::uint8_t first;
      const std::uint8_t* here = nullptr;
      if (n + extra <= w - x) {
        std::uint8_t* out = line + x;
        const std::uint8_t* from = place[c];
        if (from != nullptr && (in_place || line_number - place_line[c] < ring_lines)) {
          first = from[0];
          if (n <= word && w - x >= word) {
            std::uint64_t v;
            std::memcpy(&v, from, word);
            std::memcpy(out, &v, word);
          } else if (n <= 16) {
            for (std::uint32_t i = 0; i < n; ++i) out[i] = from[i];
          } else {
            std::memcpy(out, from, n);
          }
        } else {
          std::uint8_t* p = out + n - 1;
          std::uint32_t k = c;
          while (k >= clear) {
            *p-- = suffix[k];
            k = prefix[k];
          }
          first = suffix[k];
          *p = first;
        }
        if (extra) out[n] = first;
        x += n + extra;
        here = out;
      } else {
        std::uint32_t k = c;
        while (k >= clear) k = prefix[k];
        first = suffix[k];
        if (extra) stack[sp++] = first;
        for (k = c; k >= clear; k = prefix[k]) stack[sp++] = suffix[k];
        stack[sp++] = suffix[k];
        while (sp > 0 && x < w) line[x++] = stack[--sp];
      }

      // The next code: the previous string plus this string's first index.
      if (next < lzw_codes) {
        prefix[next] = static_cast<std::uint16_t>(prev);
        suffix[next] = first;
        length[next] = static_cast<std::uint16_t>(length[prev] + 1);
        bool whole = prev_place != nullptr && here == prev_place + length[prev];
        if constexpr (in_place) whole = whole && frame_end - prev_place >= static_cast<std::ptrdiff_t>(word);
        place[next] = whole ? prev_place : nullptr;
        place_line[next] = line_number;
        ++next;
        if (next == (1u << code_width) && code_width < lzw_max_width) mask = (1u << ++code_width) - 1;
        direct_below = next;
      }
      prev = extra ? code : c;
      prev_place = here;
    }
    prev_place = nullptr;  // the next line does not continue this one in memory

    std::memset(line + x, 0, w - x);
    if (!in_place) pack_row(row_pointer(frame, y), line, width, bits);
    if (interlaced) {
      y += pass_step[pass];
      while (y >= height && pass < 3) y = pass_start[++pass];
    } else {
      ++y;
    }
  }
}

// image descriptor -> left top width height packed [local colour table]
//                     min-code-size data-sub-blocks
// Returns 0 when the file must be refused (the frames together exceed the
// image limit or memory ran out), 1 when decoding goes on, 2 when it ends
// here (the file ends inside the descriptor or table, or no colour table).
int read_image(ByteCursor& in, Decoder& d, GifImageSet& gif, const GraphicControl& control,
               const std::array<Bgr, 256>& global_table, int global_entries) {
  Bytes descriptor;
  if (!in.take(9, descriptor)) return 2;
  const std::uint8_t* p = descriptor.data();
  const int left = base::get_u16(p);
  const int top = base::get_u16(p + 2);
  const int width = base::get_u16(p + 4);
  const int height = base::get_u16(p + 6);
  const int packed = p[8];
  const bool interlaced = (packed & 0x40) != 0;

  std::array<Bgr, 256> local_table;
  const std::array<Bgr, 256>* table = &global_table;
  int entries = global_entries;
  if (packed & 0x80) {
    entries = 2 << (packed & 7);
    if (!read_colour_table(in, entries, local_table)) return 2;
    table = &local_table;
  }
  if (entries == 0) {
    // No colour table at all: the pixels have no colours, and the file is
    // taken as holding no picture.
    clear_gif_set(gif);
    return 2;
  }

  // A file that ends here leaves the code size unknown (-1): the image
  // stays undecoded.
  std::uint8_t code_size = 0;
  const int min_size = in.u8(code_size) ? code_size : -1;
  // An image without pixels has nothing to show and is left out.
  if (width == 0 || height == 0) {
    skip_sub_blocks(in);
    return 1;
  }

  int bits = entries <= 2 ? 1 : entries <= 16 ? 4 : 8;
  std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
  std::uint64_t block = dib::header_bytes + static_cast<std::uint64_t>(entries) * 4 +
                        stride * static_cast<std::uint64_t>(height);
  // All frames of one file together stay within the limit of one image, so
  // that a file of many huge, nearly empty frames cannot exhaust memory.
  if (d.frame_bytes + block > d.max_bytes) return 0;

  GifFrame& frame = gif.frames[gif.frame_count];
  if (!create_frame_image(frame.image, width, height, bits, *table, entries)) return 0;
  d.frame_bytes += block;
  frame.left = static_cast<std::uint16_t>(left);
  frame.top = static_cast<std::uint16_t>(top);
  frame.delay = control.delay;
  frame.disposal = control.disposal;
  // A transparent index outside the table names no colour; since indices
  // outside the table are folded into it (below), no pixel can carry it.
  frame.transparent_index = control.transparent_index < entries ? control.transparent_index : -1;
  ++gif.frame_count;

  if (min_size >= 2 && min_size <= 8) {
    // A narrower frame decodes into a ring of about 256 KB of recent lines.
    const int ring_lines = std::max(1, (1 << 18) / width);
    const std::size_t ring_bytes = static_cast<std::size_t>(ring_lines) * static_cast<std::size_t>(width) + word;
    if (bits != 8 && d.lines.size() < ring_bytes) {
      try {
        d.lines.resize(ring_bytes);
      } catch (const std::bad_alloc&) {
        return 0;
      }
    }
    // Indices outside the colour table have no colour. A 1-bit frame keeps
    // the rule that any index other than 0 is a set bit; wider frames take
    // such indices as 0, which keeps every stored index inside the table.
    std::array<std::uint8_t, 256> root{};
    for (int i = 0; i < 256; ++i)
      root[static_cast<std::size_t>(i)] =
          static_cast<std::uint8_t>(bits == 1 ? (i != 0) : (i < entries ? i : 0));
    const std::uint8_t* here = in.bytes.data() + in.at;
    CodeReader r{here, here, in.bytes.data() + in.bytes.size()};
    if (bits == 8)
      decode_image<true>(d, r, min_size, root, frame.image, width, height, ring_lines, interlaced);
    else
      decode_image<false>(d, r, min_size, root, frame.image, width, height, ring_lines, interlaced);
    r.skip_rest();
    in.seek(static_cast<std::size_t>(r.p - in.bytes.data()));
  } else {
    // Any other code size leaves the image undecoded (all index 0).
    skip_sub_blocks(in);
  }
  return 1;
}

// Rounds every channel to its top 5 bits, as the transparent key is compared.
Bgr key_bits(Bgr c) {
  return Bgr{static_cast<std::uint8_t>(c.blue & 0xF8), static_cast<std::uint8_t>(c.green & 0xF8),
             static_cast<std::uint8_t>(c.red & 0xF8)};
}

// True when an entry of the table other than skip equals key in the top 5
// bits of every channel.
bool key_collides(const Image& image, int skip, Bgr key) {
  for (int i = 0; i < static_cast<int>(image.colour_count); ++i)
    if (i != skip && key_bits(colour_entry(image, i)) == key) return true;
  return false;
}

// The transparent key colour of a set: the transparent entry's colour in the
// top 5 bits of every channel, moved along blue + 8, green + 24, red + 56
// while another entry of the first frame's table looks the same.
Bgr choose_key_colour(const Image& image, int transparent_index) {
  Bgr key = key_bits(colour_entry(image, transparent_index));
  // The steps wrap around after 32 candidates. A table that holds all of
  // them (possible with 256 entries) would keep the search going for ever,
  // so after one round every 5-bit colour is tried in turn; a table of at
  // most 256 entries always leaves one of the 32768 free.
  for (int step = 0; step < 32; ++step) {
    if (!key_collides(image, transparent_index, key)) return key;
    key.blue = static_cast<std::uint8_t>(key.blue + 8);
    key.green = static_cast<std::uint8_t>(key.green + 24);
    key.red = static_cast<std::uint8_t>(key.red + 56);
  }
  for (int k = 0; k < 32768; ++k) {
    Bgr c{static_cast<std::uint8_t>((k & 31) << 3), static_cast<std::uint8_t>(((k >> 5) & 31) << 3),
          static_cast<std::uint8_t>((k >> 10) << 3)};
    if (!key_collides(image, transparent_index, c)) return c;
  }
  return key;
}

void fill_rectangle(Image& screen, int left, int top, int right, int bottom, Bgr colour) {
  for (int y = top; y < bottom; ++y) {
    std::uint8_t* p = row_pointer(screen, y) + 3 * static_cast<std::size_t>(left);
    for (int x = left; x < right; ++x, p += 3) {
      p[0] = colour.blue;
      p[1] = colour.green;
      p[2] = colour.red;
    }
  }
}

// Draws a frame into a screen at its position, clipped to the screen: every
// pixel whose index is not the transparent one takes its colour from the
// frame's own table.
void draw_frame(Image& screen, const GifFrame& frame) {
  const Image& image = frame.image;
  const int width = image_width(image);
  const int height = image_height(image);
  const int bits = bit_count(image);
  const int right = std::min(image_width(screen), frame.left + width);
  const int bottom = std::min(image_height(screen), frame.top + height);
  if (frame.left >= right || frame.top >= bottom) return;

  std::array<Bgr, 256> colours{};
  for (int i = 0; i < static_cast<int>(image.colour_count) && i < 256; ++i)
    colours[static_cast<std::size_t>(i)] = colour_entry(image, i);
  std::array<bool, 256> drawn;
  drawn.fill(true);
  if (frame.transparent_index >= 0 && frame.transparent_index < 256)
    drawn[static_cast<std::size_t>(frame.transparent_index)] = false;

  for (int y = frame.top; y < bottom; ++y) {
    const std::uint8_t* row = row_pointer(image, y - frame.top);
    std::uint8_t* p = row_pointer(screen, y) + 3 * static_cast<std::size_t>(frame.left);
    for (int x = 0; x < right - frame.left; ++x, p += 3) {
      unsigned index;
      if (bits == 8)
        index = row[x];
      else if (bits == 4)
        index = (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
      else
        index = (row[x >> 3] >> (7 - (x & 7))) & 1;
      if (!drawn[index]) continue;
      const Bgr& c = colours[index];
      p[0] = c.blue;
      p[1] = c.green;
      p[2] = c.red;
    }
  }
}

// Hundredths of a second to the tenths of the delays table, at least 1. The
// table holds bytes, which a delay above 25.5 s wraps around, as the
// module's tables of compiled animations always have.
std::uint8_t delay_tenths(int delay) {
  int tenths = delay > 10 ? (delay + 4) / 10 : 1;
  return static_cast<std::uint8_t>(tenths & 0xFF);
}

// Several frames: every frame is composed onto its own copy of the logical
// screen, a 24-bit picture in the slot after the previous screen's.
int compose_frames(ImageSet& set, const GifImageSet& gif, std::uint64_t max_bytes) {
  // The screens go to slots 1 and up, and the set's last slot is 255: a
  // 256th frame has no number to take and is left out.
  const int n = std::min<int>(gif.frame_count, base::limits::image_slots - 1);
  const int sw = gif.screen_width;
  const int sh = gif.screen_height;
  if (sw == 0 || sh == 0) return 0;
  // The colours of the screens are counted with all of them stacked into
  // one picture, so that they keep one table: that picture must be within
  // the limits of one.
  const std::uint64_t rows = static_cast<std::uint64_t>(sh) * static_cast<std::uint64_t>(n);
  const std::uint64_t stride = ((static_cast<std::uint64_t>(sw) * 24 + 31) / 32) * 4;
  if (rows > static_cast<std::uint64_t>(base::limits::image_side) || stride * rows > max_bytes) return 0;
  if (!create_image(set.images[1], sw, sh, 24)) return 0;
  fill_rectangle(set.images[1], 0, 0, sw, sh, gif.background);

  for (int i = 0; i < n; ++i) {
    const GifFrame& frame = gif.frames[static_cast<std::size_t>(i)];
    Image& screen = set.images[static_cast<std::size_t>(1 + i)];
    Image* next = i + 1 < n ? &set.images[static_cast<std::size_t>(2 + i)] : nullptr;
    // Disposal 3 restores the screen as it was before the frame.
    if (next != nullptr && frame.disposal == 3 && !duplicate_image(screen, *next)) return 0;
    draw_frame(screen, frame);
    // Disposal 0 (none given) and 1 (keep) leave the frame in place, and 2
    // restores its area to the background. The values 4 to 7 are undefined;
    // they keep the frame like 0, which is what a frame without a disposal
    // wish gets, so every screen starts from a defined picture.
    if (next != nullptr && frame.disposal != 3) {
      if (!duplicate_image(screen, *next)) return 0;
      if (frame.disposal == 2)
        fill_rectangle(*next, std::min<int>(frame.left, sw), std::min<int>(frame.top, sh),
                       std::min(sw, frame.left + image_width(frame.image)),
                       std::min(sh, frame.top + image_height(frame.image)), gif.background);
    }
    set.delays[static_cast<std::size_t>(1 + i)] = delay_tenths(frame.delay);
  }
  set.count = static_cast<std::uint16_t>(n);
  return 1;
}

}  // namespace

void clear_gif_set(GifImageSet& gif) {
  for (GifFrame& frame : gif.frames) {
    release_image(frame.image);
    frame = GifFrame{};
  }
  gif.frame_count = 0;
  gif.screen_width = 0;
  gif.screen_height = 0;
  gif.background = Bgr{};
}

// file -> header screen-descriptor [global colour table] block* trailer
int read_gif_file(GifImageSet& gif, Bytes file, const ReadOptions& options) {
  clear_gif_set(gif);
  ByteCursor in{file};
  Bytes head;
  if (!in.take(13, head)) return 0;
  const std::uint8_t* p = head.data();
  if (std::memcmp(p, "GIF89a", 6) != 0 && std::memcmp(p, "GIF87a", 6) != 0) return 0;
  gif.screen_width = base::get_u16(p + 6);
  gif.screen_height = base::get_u16(p + 8);
  const int packed = p[10];
  const int background_index = p[11];

  std::array<Bgr, 256> global_table{};
  int global_entries = 0;
  if (packed & 0x80) {
    global_entries = 2 << (packed & 7);
    if (!read_colour_table(in, global_entries, global_table)) return 0;
    // An index past the table leaves the background black, as without a
    // global table.
    if (background_index < global_entries) gif.background = global_table[static_cast<std::size_t>(background_index)];
  }

  std::unique_ptr<Decoder> decoder(new (std::nothrow) Decoder);
  if (!decoder) return 0;
  decoder->max_bytes = options.max_image_bytes;
  GraphicControl control;
  while (gif.frame_count < gif_max_frames) {
    std::uint8_t b = 0;
    if (!in.u8(b)) break;  // the file's end
    if (b == 0) continue;  // stray zero bytes between blocks
    if (b == extension_introducer) {
      // extension -> 0x21 label data-sub-blocks
      std::uint8_t label = 0;
      if (!in.u8(label)) break;
      std::size_t at = in.at;
      skip_sub_blocks(in);
      // graphic control -> 4 { packed delay-low delay-high transparent-index } 0
      // One whose first sub-block is shorter than 4 bytes carries no values
      // and changes nothing.
      if (label == graphic_control_label && in.at - at >= 5 && file[at] >= 4) {
        const std::uint8_t* g = file.data() + at + 1;
        control.transparent_index = (g[0] & 1) ? g[3] : -1;
        control.disposal = static_cast<std::uint16_t>((g[0] >> 2) & 7);
        control.delay = base::get_u16(g + 1);
      }
      continue;
    }
    if (b != image_separator) break;  // the trailer or an unknown byte
    int result = read_image(in, *decoder, gif, control, global_table, global_entries);
    if (result == 0) {
      clear_gif_set(gif);
      return 0;
    }
    if (result == 2) break;
  }
  return 1;
}

int read_gif(ImageSet& set, Bytes file, const ReadOptions& options, int& colour_depth) {
  clear_set(set);
  colour_depth = 0;
  std::unique_ptr<GifImageSet> gif;
  try {
    gif = std::make_unique<GifImageSet>();
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (!read_gif_file(*gif, file, options)) return 0;
  // A file without a single picture (no image, or no colour table) fails
  // rather than giving an empty set, which no resource could use.
  if (gif->frame_count == 0) return 0;
  set.first_number = 1;

  // The transparency of the first frame becomes the set's key colour.
  GifFrame& first = gif->frames[0];
  if (first.transparent_index >= 0) {
    Bgr key = choose_key_colour(first.image, first.transparent_index);
    set.transparent = 1;
    set.transparent_colour = key;
    set_colour_entry(first.image, first.transparent_index, key);
    gif->background = key;
  } else {
    set.transparent = 0;
  }

  const int depth = bit_count(first.image);
  if (gif->frame_count == 1) {
    // A still picture keeps its own size; its position and the logical
    // screen do not matter.
    set.images[1] = std::move(first.image);
    release_image(first.image);
    set.count = 1;
  } else if (!compose_frames(set, *gif, options.max_image_bytes)) {
    clear_set(set);
    return 0;
  }
  colour_depth = depth;
  return 1;
}

}  // namespace vexa::imagefiles
