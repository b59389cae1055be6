// PNG reader: chunks with their CRC-32, one decompression of the joined
// image data, the five scanline filters, Adam7 interlacing, and the
// conversion of every colour type and bit depth into a bitmap this program
// handles (1, 4 or 8 bits with a colour table, or 24 bits), with tRNS and
// alpha turned into the set's transparent key colour.
#include "imagefiles/png.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/colour.h"
#include "imagefiles/dispatch.h"
#include "imagefiles/reader_support.h"

namespace vexa::imagefiles {

namespace {

constexpr std::array<std::uint8_t, 8> png_signature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

constexpr std::uint32_t chunk_type(const char (&name)[5]) {
  return (static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<std::uint8_t>(name[3]));
}

constexpr std::uint32_t chunk_ihdr = chunk_type("IHDR");
constexpr std::uint32_t chunk_plte = chunk_type("PLTE");
constexpr std::uint32_t chunk_trns = chunk_type("tRNS");
constexpr std::uint32_t chunk_gama = chunk_type("gAMA");
constexpr std::uint32_t chunk_idat = chunk_type("IDAT");
constexpr std::uint32_t chunk_iend = chunk_type("IEND");

enum ColourType { grey = 0, truecolour = 2, indexed = 3, grey_alpha = 4, truecolour_alpha = 6 };

// One Adam7 pass: first column and row, column and row step.
struct Pass {
  std::uint32_t x0, y0, dx, dy;
};
constexpr std::array<Pass, 7> adam7 = {{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                        {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}};

std::uint32_t pass_extent(std::uint32_t size, std::uint32_t start, std::uint32_t step) {
  return size > start ? (size - start + step - 1) / step : 0;
}

// The most any deflate stream can expand: a 258-byte match coded in two bits.
constexpr std::uint64_t deflate_max_ratio = 1032;

// Everything the chunks say about the picture.
struct PngState {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  int interlace = 0;
  bool have_header = false;

  std::array<Bgr, 256> palette{};  // PLTE entries as read (not yet gamma-corrected)
  int palette_count = 0;

  bool have_trns = false;
  int trns_length = 0;
  std::uint8_t trns_grey = 0;
  Bgr trns_colour;
  std::array<std::uint8_t, 256> alpha{};

  int alpha_threshold = 128;
  bool use_gamma = false;
  std::uint64_t max_image_bytes = base::limits::image_bytes;
  std::array<std::uint8_t, 256> gamma{};
  bool gamma_identity = true;

  std::vector<Bytes> idat;  // the IDAT chunks' data, in file order
  std::size_t idat_bytes = 0;
};

int channels_of(int colour_type) {
  switch (colour_type) {
    case truecolour: return 3;
    case grey_alpha: return 2;
    case truecolour_alpha: return 4;
    default: return 1;
  }
}

// Bit depths a colour type allows. Other pairs (true colour with 4 bits, a
// 16-bit palette) describe no defined sample layout, so such files are
// rejected at IHDR rather than decoded into something arbitrary.
bool valid_depth(int colour_type, int depth) {
  switch (colour_type) {
    case grey: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case indexed: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case truecolour:
    case grey_alpha:
    case truecolour_alpha: return depth == 8 || depth == 16;
    default: return false;
  }
}

void set_identity_gamma(PngState& s) {
  for (int i = 0; i < 256; ++i) s.gamma[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  s.gamma_identity = true;
}

// IHDR: width, height, bit depth, colour type, compression, filter, interlace.
bool read_ihdr(PngState& s, Bytes data) {
  if (data.size() < 13) return false;
  s.width = base::get_u32_be(data.data());
  s.height = base::get_u32_be(data.data() + 4);
  s.bit_depth = data[8];
  s.colour_type = data[9];
  int compression = data[10];
  int filter = data[11];
  s.interlace = data[12];
  set_identity_gamma(s);
  if (compression != 0 || filter != 0 || s.interlace > 1) return false;
  if (!valid_depth(s.colour_type, s.bit_depth)) return false;
  if (s.width < 1 || s.height < 1 || s.width > base::limits::image_side || s.height > base::limits::image_side) return false;
  s.have_header = true;
  return true;
}

// PLTE: red, green, blue triples. An 8-bit index reaches 256 entries at most,
// so a longer chunk is cut to 768 bytes: the entries dropped could not be
// shown by any pixel.
void read_plte(PngState& s, Bytes data) {
  std::size_t entries = std::min<std::size_t>(data.size() / 3, 256);
  for (std::size_t i = 0; i < entries; ++i)
    s.palette[i] = rgb(data[3 * i], data[3 * i + 1], data[3 * i + 2]);
  s.palette_count = static_cast<int>(entries);
}

// tRNS: a grey value, an RGB triple, or one alpha byte per palette entry. As
// with PLTE, palette alphas beyond 256 entries belong to no index and are
// dropped. A grey or RGB tRNS too short for its values is ignored (the file
// then has no transparency) instead of reading past the chunk.
void read_trns(PngState& s, Bytes data) {
  bool wide = s.bit_depth == 16;
  auto sample = [&](std::size_t i) { return data[2 * i + (wide ? 0 : 1)]; };
  switch (s.colour_type) {
    case grey:
      if (data.size() < 2) return;
      s.trns_grey = sample(0);
      break;
    case truecolour:
      if (data.size() < 6) return;
      s.trns_colour = rgb(sample(0), sample(1), sample(2));
      break;
    case indexed: {
      s.alpha.fill(255);
      std::size_t n = std::min<std::size_t>(data.size(), 256);
      std::memcpy(s.alpha.data(), data.data(), n);
      s.trns_length = static_cast<int>(n);
      break;
    }
    default: return;  // alpha channels carry their own transparency
  }
  s.have_trns = true;
}

// gAMA, used only when gamma correction is switched on. A value of 0 has no
// meaning as an exponent and is ignored, like a value of exactly 1.0.
void read_gama(PngState& s, Bytes data) {
  if (!s.use_gamma || data.size() < 4) return;
  std::uint32_t g = base::get_u32_be(data.data());
  if (g == 0 || g == 100000) return;
  double exponent = 100000.0 / g;
  for (int i = 0; i < 256; ++i)
    s.gamma[static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(static_cast<int>(255.0 * std::pow(i / 255.0, exponent) + 0.5));
  s.gamma_identity = false;
}

// --- scanline filters ---------------------------------------------------------
//
// Sub, average and Paeth depend on the byte bpp places to the left, which
// has just been reconstructed; that value is carried in a local per byte of
// the pixel instead of being read back from the row, so the bytes of one
// pixel form independent chains the processor runs side by side. Up has no
// such chain and is left to the compiler's vectoriser.

template <int bpp>
void unfilter_sub(std::uint8_t* row, std::size_t n) {
  std::uint8_t left[bpp] = {};
  for (std::size_t i = 0; i < n; i += bpp)
    for (int k = 0; k < bpp; ++k) row[i + k] = left[k] = static_cast<std::uint8_t>(row[i + k] + left[k]);
}

void unfilter_up(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) row[i] = static_cast<std::uint8_t>(row[i] + prior[i]);
}

template <int bpp>
void unfilter_average(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
  unsigned left[bpp] = {};
  for (std::size_t i = 0; i < n; i += bpp)
    for (int k = 0; k < bpp; ++k) {
      left[k] = (row[i + k] + ((left[k] + prior[i + k]) >> 1)) & 0xFFu;
      row[i + k] = static_cast<std::uint8_t>(left[k]);
    }
}

// The Paeth predictor of left a, above b and upper left c: whichever is
// closest to a + b - c, ties going to a, then b. Written as selections, not
// branches: the choice follows the picture's content, which a branch
// predictor cannot guess.
inline int paeth_predictor(int a, int b, int c) {
  int pa = b - c;  // |p - a| with p = a + b - c
  int pb = a - c;  // |p - b|
  int pc = pa + pb;
  pa = pa < 0 ? -pa : pa;
  pb = pb < 0 ? -pb : pb;
  pc = pc < 0 ? -pc : pc;
  bool b_closer = pb < pa;
  int nearest = b_closer ? pb : pa;
  int predictor = b_closer ? b : a;
  return pc < nearest ? c : predictor;
}

template <int bpp>
void unfilter_paeth(std::uint8_t* row, const std::uint8_t* prior, std::size_t n) {
  // Left of the first pixel a and c are 0, so its predictor is b.
  int left[bpp] = {};
  int upper_left[bpp] = {};
  for (std::size_t i = 0; i < n; i += bpp)
    for (int k = 0; k < bpp; ++k) {
      int above = prior[i + k];
      left[k] = (row[i + k] + paeth_predictor(left[k], above, upper_left[k])) & 0xFF;
      upper_left[k] = above;
      row[i + k] = static_cast<std::uint8_t>(left[k]);
    }
}

// Removes the filters of rows scanlines in place; each is one filter byte and
// row_bytes bytes (a multiple of bpp). The first row's prior row is zero_row.
// Fails on a filter type that does not exist: the data are damaged.
template <int bpp>
bool unfilter_rows_bpp(std::uint8_t* data, std::size_t row_bytes, std::size_t rows, const std::uint8_t* zero_row) {
  const std::uint8_t* prior = zero_row;
  for (std::size_t y = 0; y < rows; ++y) {
    std::uint8_t* line = data + y * (row_bytes + 1);
    std::uint8_t* row = line + 1;
    switch (line[0]) {
      case 0: break;
      case 1: unfilter_sub<bpp>(row, row_bytes); break;
      case 2: unfilter_up(row, prior, row_bytes); break;
      case 3: unfilter_average<bpp>(row, prior, row_bytes); break;
      case 4: unfilter_paeth<bpp>(row, prior, row_bytes); break;
      default: return false;
    }
    prior = row;
  }
  return true;
}

bool unfilter_rows(std::uint8_t* data, std::size_t row_bytes, std::size_t rows, int bpp,
                   const std::uint8_t* zero_row) {
  switch (bpp) {
    case 1: return unfilter_rows_bpp<1>(data, row_bytes, rows, zero_row);
    case 2: return unfilter_rows_bpp<2>(data, row_bytes, rows, zero_row);
    case 3: return unfilter_rows_bpp<3>(data, row_bytes, rows, zero_row);
    case 4: return unfilter_rows_bpp<4>(data, row_bytes, rows, zero_row);
    case 6: return unfilter_rows_bpp<6>(data, row_bytes, rows, zero_row);
    case 8: return unfilter_rows_bpp<8>(data, row_bytes, rows, zero_row);
    default: return false;
  }
}

// --- the unfiltered rows -------------------------------------------------------

// The unfiltered picture, handed to the bitmap builders one row at a time.
// A plain picture's rows are read where they were unfiltered. A row of an
// interlaced picture is assembled on request, from the passes that hold its
// pixels, into one scratch row: no second picture-sized buffer is needed,
// and the row is still in the cache when the builder reads it.
struct RawRows {
  const std::uint8_t* first = nullptr;  // plain: row y starts at first + y * pitch
  std::size_t pitch = 0;

  bool interlaced = false;
  int bits = 0;                                      // bits per pixel
  std::array<const std::uint8_t*, 7> pass_first{};  // first unfiltered row of each pass; null when empty
  std::array<std::size_t, 7> pass_pitch{};
  std::array<std::uint32_t, 7> pass_width{};
  std::uint8_t* scratch = nullptr;  // one row of the picture
  std::size_t row_bytes = 0;

  const std::uint8_t* row(std::uint32_t y) const;
};

template <int bytes>
void place_pixels(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t count, std::uint32_t step) {
  for (std::uint32_t i = 0; i < count; ++i, src += bytes, dst += static_cast<std::size_t>(step) * bytes)
    std::memcpy(dst, src, bytes);
}

// Samples below a byte are OR-ed into place: the row must start zeroed.
void place_samples(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t x0, std::uint32_t count,
                   std::uint32_t step, int bits) {
  unsigned mask = (1u << bits) - 1;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::size_t sbit = static_cast<std::size_t>(i) * bits;
    unsigned sample = (src[sbit >> 3] >> (8 - bits - (sbit & 7))) & mask;
    std::size_t dbit = (static_cast<std::size_t>(x0) + static_cast<std::size_t>(i) * step) * bits;
    dst[dbit >> 3] = static_cast<std::uint8_t>(dst[dbit >> 3] | (sample << (8 - bits - (dbit & 7))));
  }
}

const std::uint8_t* RawRows::row(std::uint32_t y) const {
  if (!interlaced) return first + static_cast<std::size_t>(y) * pitch;
  if (bits < 8) std::memset(scratch, 0, row_bytes);
  // Every pixel belongs to exactly one pass, so whole-byte pixels fill the row.
  for (std::size_t p = 0; p < adam7.size(); ++p) {
    const Pass& pass = adam7[p];
    if (pass_first[p] == nullptr || y < pass.y0 || (y - pass.y0) % pass.dy != 0) continue;
    const std::uint8_t* src = pass_first[p] + static_cast<std::size_t>((y - pass.y0) / pass.dy) * pass_pitch[p];
    std::uint32_t count = pass_width[p];
    std::uint8_t* at = scratch + static_cast<std::size_t>(pass.x0) * static_cast<std::size_t>(bits / 8);
    switch (bits) {
      case 8: place_pixels<1>(src, at, count, pass.dx); break;
      case 16: place_pixels<2>(src, at, count, pass.dx); break;
      case 24: place_pixels<3>(src, at, count, pass.dx); break;
      case 32: place_pixels<4>(src, at, count, pass.dx); break;
      case 48: place_pixels<6>(src, at, count, pass.dx); break;
      case 64: place_pixels<8>(src, at, count, pass.dx); break;
      default: place_samples(src, scratch, pass.x0, count, pass.dx, bits); break;
    }
  }
  return scratch;
}

// Unfilters every pass of an interlaced picture in place and records where
// each one's rows lie. Passes that are empty for the picture's size hold no
// scanlines and are skipped.
bool unfilter_passes(std::uint8_t* data, std::uint32_t width, std::uint32_t height, const std::uint8_t* zero_row,
                     RawRows& raw) {
  int bpp = raw.bits < 8 ? 1 : raw.bits / 8;
  for (std::size_t p = 0; p < adam7.size(); ++p) {
    const Pass& pass = adam7[p];
    std::uint32_t pw = pass_extent(width, pass.x0, pass.dx);
    std::uint32_t ph = pass_extent(height, pass.y0, pass.dy);
    if (pw == 0 || ph == 0) continue;
    std::size_t pass_row = (static_cast<std::size_t>(pw) * raw.bits + 7) / 8;
    if (!unfilter_rows(data, pass_row, ph, bpp, zero_row)) return false;
    raw.pass_first[p] = data + 1;
    raw.pass_pitch[p] = pass_row + 1;
    raw.pass_width[p] = pw;
    data += static_cast<std::size_t>(ph) * (pass_row + 1);
  }
  return true;
}

// --- building the bitmap --------------------------------------------------------

std::uint8_t* bitmap_row(Image& image, std::uint32_t height, std::uint32_t y) {
  return image.dib.data() + image.pixels + static_cast<std::size_t>(image.row_stride) * (height - 1 - y);
}

unsigned sample_at(const std::uint8_t* row, std::uint32_t x, int bits) {
  std::size_t bit = static_cast<std::size_t>(x) * bits;
  return (row[bit >> 3] >> (8 - bits - (bit & 7))) & ((1u << bits) - 1);
}

// The largest palette index any pixel uses.
int largest_index(const PngState& s, const RawRows& raw) {
  int largest = 0;
  for (std::uint32_t y = 0; y < s.height; ++y) {
    const std::uint8_t* row = raw.row(y);
    if (s.bit_depth == 8) {
      for (std::uint32_t x = 0; x < s.width; ++x) largest = std::max<int>(largest, row[x]);
    } else {
      for (std::uint32_t x = 0; x < s.width; ++x)
        largest = std::max<int>(largest, static_cast<int>(sample_at(row, x, s.bit_depth)));
    }
  }
  return largest;
}

// 1-bit bitmap: the PNG rows byte for byte; the bits right of the last pixel
// are cleared so that the row padding is zero.
void build_1_bit(Image& image, const PngState& s, const RawRows& raw, int fill) {
  std::size_t bytes = (s.width + 7) / 8;
  std::uint8_t tail = static_cast<std::uint8_t>(0xFF << ((8 - s.width % 8) % 8));
  for (std::uint32_t y = 0; y < s.height; ++y) {
    std::uint8_t* dst = bitmap_row(image, s.height, y);
    if (fill < 0)
      std::memcpy(dst, raw.row(y), bytes);
    else
      std::memset(dst, fill ? 0xFF : 0x00, bytes);
    dst[bytes - 1] &= tail;
  }
}

// 4-bit bitmap: every 1-, 2- or 4-bit sample, through map, into a nibble,
// high nibble first. A PNG byte of 8 / depth samples becomes 4 / depth bitmap
// bytes, taken whole from a table of all 256 byte values; a row's last byte
// may carry samples right of the last pixel, so the nibbles there are cleared
// afterwards and the row padding stays zero. The widest expansion, 1-bit
// samples, writes 4 bytes per 8 pixels, which is exactly the row stride.
template <int depth>
void expand_4_bit(Image& image, const PngState& s, const RawRows& raw, const std::array<std::uint8_t, 256>& map) {
  constexpr int samples = 8 / depth;
  constexpr int out_bytes = 4 / depth;
  std::array<std::array<std::uint8_t, out_bytes>, 256> expand{};
  for (unsigned v = 0; v < 256; ++v)
    for (int i = 0; i < samples; ++i) {
      unsigned nibble = map[(v >> (8 - depth * (i + 1))) & ((1u << depth) - 1)] & 0x0Fu;
      expand[v][static_cast<std::size_t>(i / 2)] |= static_cast<std::uint8_t>((i & 1) ? nibble : nibble << 4);
    }
  std::size_t in_bytes = (static_cast<std::size_t>(s.width) * depth + 7) / 8;
  std::size_t used = (static_cast<std::size_t>(s.width) + 1) / 2;
  for (std::uint32_t y = 0; y < s.height; ++y) {
    const std::uint8_t* src = raw.row(y);
    std::uint8_t* dst = bitmap_row(image, s.height, y);
    for (std::size_t j = 0; j < in_bytes; ++j) std::memcpy(dst + j * out_bytes, expand[src[j]].data(), out_bytes);
    if (s.width & 1) dst[used - 1] &= 0xF0;
    std::memset(dst + used, 0, image.row_stride - used);
  }
}

void build_4_bit(Image& image, const PngState& s, const RawRows& raw, const std::array<std::uint8_t, 256>& map) {
  switch (s.bit_depth) {
    case 1: expand_4_bit<1>(image, s, raw, map); break;
    case 2: expand_4_bit<2>(image, s, raw, map); break;
    default: expand_4_bit<4>(image, s, raw, map); break;
  }
}

// 8-bit bitmap: one byte per pixel through map (identity: copied), or the
// high byte of a 16-bit grey sample.
void build_8_bit(Image& image, const PngState& s, const RawRows& raw, const std::array<std::uint8_t, 256>& map,
                 bool identity) {
  for (std::uint32_t y = 0; y < s.height; ++y) {
    const std::uint8_t* src = raw.row(y);
    std::uint8_t* dst = bitmap_row(image, s.height, y);
    if (s.bit_depth == 16) {
      for (std::uint32_t x = 0; x < s.width; ++x) dst[x] = src[2 * x];
    } else if (identity) {
      std::memcpy(dst, src, s.width);
    } else {
      for (std::uint32_t x = 0; x < s.width; ++x) dst[x] = map[src[x]];
    }
  }
}

// Word-at-a-time pixel copies assume the little-endian byte order of words.
constexpr bool little_endian = std::endian::native == std::endian::little;

// The key colour for pixels whose alpha sample (its high byte for 16 bits)
// is below the threshold, and the same colour as the low three bytes of a
// little-endian word.
struct Keying {
  Bgr colour;
  std::uint32_t word = 0;
  int threshold = 0;
};

// One 24-bit row (blue, green, red) from count PNG pixels of step bytes whose
// red, green, blue and alpha (high) bytes lie at r, g, b and a; with gamma
// each colour passes through the table; keyed, a pixel below the alpha
// threshold gets the key colour instead.
template <int step, int r, int g, int b, int a, bool with_gamma, bool keyed>
void bgr_row(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t count, const std::uint8_t* table,
             const Keying& key) {
  std::uint32_t x = 0;
  if constexpr (!with_gamma && (step == 3 || step == 4) && r == 0 && g == 1 && b == 2 && little_endian) {
    // 8-bit RGB and RGBA, a word per pixel: the fourth byte read is the next
    // pixel's or the alpha, the fourth written is overwritten by the next
    // pixel. The last pixel is copied byte by byte, so that neither leaves
    // the row. The key is chosen with a mask, not a branch: which pixels are
    // transparent follows the picture, which a branch predictor cannot learn.
    for (; x + 1 < count; ++x, src += step, dst += 3) {
      std::uint32_t v;
      std::memcpy(&v, src, 4);
      v = ((v >> 16) & 0xFFu) | (v & 0xFF00u) | ((v & 0xFFu) << 16);
      if constexpr (keyed) {
        std::uint32_t clear = 0u - static_cast<std::uint32_t>(src[a] < key.threshold);
        v = (v & ~clear) | (key.word & clear);
      }
      std::memcpy(dst, &v, 4);
    }
  }
  for (; x < count; ++x, src += step, dst += 3) {
    if constexpr (keyed) {
      if (src[a] < key.threshold) {
        dst[0] = key.colour.blue;
        dst[1] = key.colour.green;
        dst[2] = key.colour.red;
        continue;
      }
    }
    if constexpr (with_gamma) {
      dst[0] = table[src[b]];
      dst[1] = table[src[g]];
      dst[2] = table[src[r]];
    } else {
      dst[0] = src[b];
      dst[1] = src[g];
      dst[2] = src[r];
    }
  }
}

template <int step, int r, int g, int b, int a, bool with_gamma, bool keyed>
void bgr_rows(Image& image, const PngState& s, const RawRows& raw, const Keying& key) {
  for (std::uint32_t y = 0; y < s.height; ++y)
    bgr_row<step, r, g, b, a, with_gamma, keyed>(raw.row(y), bitmap_row(image, s.height, y), s.width,
                                                 s.gamma.data(), key);
}

// The 24-bit picture of a true-colour or grey-with-alpha PNG; keyed (only
// with an alpha channel), transparent pixels get the key colour.
template <bool with_gamma, bool keyed>
void build_24_bit_as(Image& image, const PngState& s, const RawRows& raw, const Keying& key) {
  bool wide = s.bit_depth == 16;
  switch (s.colour_type) {
    case truecolour:
      if constexpr (!keyed) {
        wide ? bgr_rows<6, 0, 2, 4, 0, with_gamma, false>(image, s, raw, key)
             : bgr_rows<3, 0, 1, 2, 0, with_gamma, false>(image, s, raw, key);
      }
      break;
    case truecolour_alpha:
      wide ? bgr_rows<8, 0, 2, 4, 6, with_gamma, keyed>(image, s, raw, key)
           : bgr_rows<4, 0, 1, 2, 3, with_gamma, keyed>(image, s, raw, key);
      break;
    default:  // grey with alpha: the grey value three times
      wide ? bgr_rows<4, 0, 0, 0, 2, with_gamma, keyed>(image, s, raw, key)
           : bgr_rows<2, 0, 0, 0, 1, with_gamma, keyed>(image, s, raw, key);
      break;
  }
}

template <bool keyed>
void build_24_bit(Image& image, const PngState& s, const RawRows& raw, const Keying& key) {
  if (s.gamma_identity)
    build_24_bit_as<false, keyed>(image, s, raw, key);
  else
    build_24_bit_as<true, keyed>(image, s, raw, key);
}

Bgr gamma_corrected(const PngState& s, Bgr c) {
  return Bgr{s.gamma[c.blue], s.gamma[c.green], s.gamma[c.red]};
}

bool build_grey(ImageSet& set, const PngState& s, const RawRows& raw) {
  Image& image = set.images[1];
  int levels = s.bit_depth >= 8 ? 256 : 1 << s.bit_depth;
  int bits = s.bit_depth == 1 ? 1 : (s.bit_depth <= 4 ? 4 : 8);
  if (!create_bitmap(image, s.width, s.height, bits, levels, static_cast<std::uint32_t>(levels))) return false;
  int step = 256 / (levels - 1);
  for (int k = 0; k < levels; ++k) {
    std::uint8_t v = s.gamma[static_cast<std::size_t>(std::min(k * step, 255))];
    set_colour_entry(image, k, Bgr{v, v, v});
  }
  std::array<std::uint8_t, 256> identity{};
  for (int i = 0; i < 256; ++i) identity[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  if (bits == 1)
    build_1_bit(image, s, raw, -1);
  else if (bits == 4)
    build_4_bit(image, s, raw, identity);
  else
    build_8_bit(image, s, raw, identity, true);

  // The transparent grey's entry becomes pure green, which no grey level is.
  // A tRNS value above the largest level matches no pixel and is ignored.
  if (s.have_trns && s.trns_grey < levels) {
    Bgr green = rgb(0, 255, 0);
    set_colour_entry(image, s.trns_grey, green);
    set.transparent = 1;
    set.transparent_colour = green;
  }
  return true;
}

bool is_black_and_white(const PngState& s) {
  if (s.palette_count != 2) return false;
  auto grey_level = [](Bgr c) { return c.red == c.green && c.green == c.blue ? c.red : -1; };
  int a = grey_level(s.palette[0]);
  int b = grey_level(s.palette[1]);
  return (a == 0 && b == 255) || (a == 255 && b == 0);
}

bool build_indexed(ImageSet& set, const PngState& s, const RawRows& raw) {
  Image& image = set.images[1];
  // A palette image needs its palette; without one no pixel has a colour.
  if (s.palette_count == 0) return false;
  // Entries no sample can address are dropped (a 1-bit image can only show
  // two). An index beyond the palette is invalid in a PNG; instead of
  // rejecting the picture, the table is extended with black entries up to the
  // largest index used, which is how such files are commonly shown.
  int addressable = 1 << s.bit_depth;
  int entries = std::min(s.palette_count, addressable);
  if (entries < addressable) entries = std::max(entries, largest_index(s, raw) + 1);
  bool black_white = s.bit_depth == 1 && is_black_and_white(s);
  int bits = black_white ? 1 : (s.bit_depth <= 4 ? 4 : 8);
  if (!create_bitmap(image, s.width, s.height, bits, entries, static_cast<std::uint32_t>(entries))) return false;
  for (int i = 0; i < entries; ++i) {
    Bgr c = i < s.palette_count ? s.palette[static_cast<std::size_t>(i)] : Bgr{};
    set_colour_entry(image, i, gamma_corrected(s, c));
  }

  // The key index: the first entry covered by tRNS whose alpha is below the
  // threshold. Every index with such an alpha is drawn as the key index.
  int key = -1;
  std::array<std::uint8_t, 256> map{};
  bool identity = true;
  for (int i = 0; i < 256; ++i) {
    bool clear = s.have_trns && i < s.trns_length && i < entries && s.alpha[static_cast<std::size_t>(i)] < s.alpha_threshold;
    if (clear && key < 0) key = i;
    map[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(clear ? key : i);
    identity = identity && !(clear && key != i);
  }

  if (black_white) {
    // The pixels stay as they are: both entries are different, so the key
    // entry's own colour (black or white) marks exactly the transparent
    // pixels and serves as the key colour. When both entries are
    // transparent, every pixel becomes the key index.
    bool both = key == 0 && map[1] == 0;
    build_1_bit(image, s, raw, both ? 0 : -1);
    if (key >= 0) {
      set.transparent = 1;
      set.transparent_colour = colour_entry(image, key);
    }
    return true;
  }
  if (bits == 4)
    build_4_bit(image, s, raw, map);
  else
    build_8_bit(image, s, raw, map, identity);
  if (key >= 0) {
    // The key entry gets a colour no entry uses, so that only the transparent
    // pixels show it. When every candidate colour is taken (a full table can
    // hold them all) nothing can be keyed and the picture stays opaque.
    Bgr unused;
    if (find_unused_colour(image, unused)) {
      set_colour_entry(image, key, unused);
      set.transparent = 1;
      set.transparent_colour = unused;
    }
  }
  return true;
}

bool build_truecolour(ImageSet& set, const PngState& s, const RawRows& raw) {
  Image& image = set.images[1];
  if (!create_bitmap(image, s.width, s.height, 24, 0, 0)) return false;
  build_24_bit<false>(image, s, raw, Keying{});
  if (s.colour_type == truecolour) {
    // The tRNS colour is compared with the stored pixels as it is (the
    // pixels are not changed).
    if (s.have_trns) {
      set.transparent = 1;
      set.transparent_colour = s.trns_colour;
    }
    return true;
  }
  // Alpha: a key colour that no pixel uses, then every pixel below the
  // threshold takes it. The picture is built once more for that, choosing
  // each pixel's colour or the key by its alpha: each pixel is written again
  // without reading back what the first pass stored.
  Keying key;
  set.transparent = static_cast<std::uint16_t>(find_unused_colour(image, key.colour) ? 1 : 0);
  if (set.transparent) {
    set.transparent_colour = key.colour;
    key.word = key.colour.blue | (static_cast<std::uint32_t>(key.colour.green) << 8) |
               (static_cast<std::uint32_t>(key.colour.red) << 16);
    key.threshold = s.alpha_threshold;
    build_24_bit<true>(image, s, raw, key);
  }
  return true;
}

// Decompresses the zlib stream into out, which must receive exactly size
// bytes. The common case, a whole stream of exactly that size, takes one
// call of libdeflate. libdeflate only accepts such whole, well-formed
// streams, so anything else gets its verdict from zlib, whose inflate stops
// when the buffer is full: a stream that runs on past the last scanline, or
// lacks its end or checksum after it, has filled every pixel and is
// accepted (the surplus belongs to no pixel); one that ends early or is
// damaged before the buffer is full fails.
bool inflate_image_data(Bytes stream, std::uint8_t* out, std::size_t size) {
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  if (inflater == nullptr) return false;
  if (libdeflate_zlib_decompress(inflater.get(), stream.data(), stream.size(), out, size, nullptr) ==
      LIBDEFLATE_SUCCESS)
    return true;
  uLongf produced = static_cast<uLongf>(size);
  int result = uncompress(out, &produced, stream.data(), static_cast<uLong>(stream.size()));
  return (result == Z_OK && produced == size) || result == Z_BUF_ERROR;
}

// IEND with image data: decompress, unfilter, build slot 1.
bool decode_image(ImageSet& set, PngState& s) {
  int bits = s.bit_depth * channels_of(s.colour_type);
  std::uint64_t needed = 0;
  if (!png_image_data_size(s.width, s.height, bits, s.interlace == 1, needed)) return false;
  if (needed > s.idat_bytes * deflate_max_ratio) return false;  // cannot hold the picture
  if (needed > s.max_image_bytes) return false;

  // The buffer holds exactly the scanlines of the picture; they are
  // unfiltered where they are.
  LargeBuffer buffer;
  if (!allocate_large(buffer, static_cast<std::size_t>(needed))) return false;
  std::uint8_t* data = buffer.data.get();

  // One contiguous compressed stream: the single IDAT in place, or a copy of
  // all of them joined.
  LargeBuffer joined;
  Bytes stream = s.idat.front();
  if (s.idat.size() > 1) {
    if (!allocate_large(joined, s.idat_bytes)) return false;
    std::uint8_t* end = joined.data.get();
    for (Bytes part : s.idat) end = std::copy(part.begin(), part.end(), end);
    stream = Bytes(joined.data.get(), joined.size);
  }
  if (!inflate_image_data(stream, data, buffer.size)) return false;
  joined = LargeBuffer{};

  std::size_t row_bytes = (static_cast<std::size_t>(s.width) * bits + 7) / 8;
  std::vector<std::uint8_t> zero_row;
  std::vector<std::uint8_t> scratch;
  RawRows raw{.first = data + 1, .pitch = row_bytes + 1};
  try {
    zero_row.assign(row_bytes, 0);
    if (s.interlace == 1) {
      scratch.assign(row_bytes, 0);
      raw = RawRows{.interlaced = true, .bits = bits, .scratch = scratch.data(), .row_bytes = row_bytes};
      if (!unfilter_passes(data, s.width, s.height, zero_row.data(), raw)) return false;
    } else {
      int bpp = bits < 8 ? 1 : bits / 8;
      if (!unfilter_rows(data, row_bytes, s.height, bpp, zero_row.data())) return false;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  switch (s.colour_type) {
    case grey: return build_grey(set, s, raw);
    case indexed: return build_indexed(set, s, raw);
    default: return build_truecolour(set, s, raw);
  }
}

}  // namespace

bool png_image_data_size(std::uint32_t width, std::uint32_t height, int bits_per_pixel, bool interlaced,
                         std::uint64_t& size) {
  if (width < 1 || height < 1 || width > base::limits::image_side || height > base::limits::image_side) return false;
  if (bits_per_pixel < 1 || bits_per_pixel > 64) return false;
  // With sides below 2^16 and at most 64 bits per pixel every term stays
  // below 2^38, so the sum cannot overflow 64 bits.
  auto scanlines = [&](std::uint64_t w, std::uint64_t h) { return h * (1 + (w * bits_per_pixel + 7) / 8); };
  std::uint64_t total = 0;
  if (!interlaced) {
    total = scanlines(width, height);
  } else {
    for (const Pass& pass : adam7) {
      std::uint32_t pw = pass_extent(width, pass.x0, pass.dx);
      std::uint32_t ph = pass_extent(height, pass.y0, pass.dy);
      if (pw != 0 && ph != 0) total += scanlines(pw, ph);
    }
  }
  // The decompressed data are held in memory at once; the same bound as for
  // a bitmap keeps a small hostile file from claiming gigabytes.
  if (total > base::limits::image_bytes) return false;
  size = total;
  return true;
}

// Reads a PNG from its bytes into slot 1. Returns 1, or 0 (slot 1 empty)
// for a damaged or unsupported file; reports nothing.
int read_png(ImageSet& set, Bytes file, const ReadOptions& options) {
  release_image(set.images[1]);
  set.transparent = 0;
  PngState s;
  s.alpha.fill(255);
  s.alpha_threshold = options.alpha_threshold;
  s.use_gamma = options.gamma != 0;
  s.max_image_bytes = options.max_image_bytes;
  set_identity_gamma(s);

  ByteCursor cursor{file};
  Bytes signature;
  if (!cursor.take(png_signature.size(), signature) ||
      std::memcmp(signature.data(), png_signature.data(), png_signature.size()) != 0)
    return 0;

  // chunk -> length type data crc, every number big-endian
  for (;;) {
    std::uint32_t length = 0;
    Bytes typed;  // type and data, the range the CRC covers
    std::uint32_t crc = 0;
    if (!cursor.u32_be(length) || length > cursor.left() || !cursor.take(std::size_t{4} + length, typed) ||
        !cursor.u32_be(crc))
      return 0;
    if (libdeflate_crc32(0, typed.data(), typed.size()) != crc) return 0;
    std::uint32_t type = base::get_u32_be(typed.data());
    Bytes data = typed.subspan(4);

    if (type == chunk_ihdr) {
      if (!read_ihdr(s, data)) return 0;
    } else if (type == chunk_plte) {
      read_plte(s, data);
    } else if (type == chunk_trns) {
      read_trns(s, data);
    } else if (type == chunk_gama) {
      read_gama(s, data);
    } else if (type == chunk_idat) {
      if (s.have_header) {
        try {
          s.idat.push_back(data);
        } catch (const std::bad_alloc&) {
          return 0;
        }
        s.idat_bytes += data.size();
      }
    } else if (type == chunk_iend && !s.idat.empty()) {
      if (decode_image(set, s)) return 1;
      release_image(set.images[1]);
      set.transparent = 0;
      return 0;
    }
  }
}

}  // namespace vexa::imagefiles
