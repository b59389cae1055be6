#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <unordered_map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imagefiles/gif.h"
#include "resources/image.h"
#include "test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::rgb;

// --- a small GIF writer -------------------------------------------------------

// Codes packed least significant bit first, each in its own width.
struct CodeWriter {
  std::vector<std::uint8_t> bytes;
  std::uint32_t acc = 0;
  int bits = 0;
  void put(int code, int width) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    bits += width;
    for (; bits >= 8; bits -= 8, acc >>= 8) bytes.push_back(static_cast<std::uint8_t>(acc));
  }
  std::vector<std::uint8_t> finish() {
    if (bits > 0) bytes.push_back(static_cast<std::uint8_t>(acc));
    return bytes;
  }
};

// A plain greedy LZW encoder. With clear_when_full it sends a clear code when
// the table is full, otherwise it goes on with the full table.
std::vector<std::uint8_t> lzw_encode(const std::vector<std::uint8_t>& indices, int min_size,
                                     bool clear_when_full = true) {
  const int clear = 1 << min_size;
  int next = clear + 2, width = min_size + 1;
  std::unordered_map<int, int> table;
  CodeWriter w;
  w.put(clear, width);
  int current = indices.empty() ? -1 : indices[0];
  for (std::size_t i = 1; i < indices.size(); ++i) {
    int key = current << 8 | indices[i];
    auto found = table.find(key);
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    w.put(current, width);
    if (next < 4096) {
      table[key] = next++;
      if (next > (1 << width) && width < 12) ++width;
    }
    if (next == 4096 && clear_when_full) {
      w.put(clear, width);
      table.clear();
      next = clear + 2;
      width = min_size + 1;
    }
    current = indices[i];
  }
  if (current >= 0) w.put(current, width);
  w.put(clear + 1, width);
  return w.finish();
}

struct Gif {
  std::vector<std::uint8_t> bytes;

  void u16(int v) {
    bytes.push_back(static_cast<std::uint8_t>(v));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void table(const std::vector<Bgr>& colours) {
    for (const Bgr& c : colours) bytes.insert(bytes.end(), {c.red, c.green, c.blue});
  }
  static int size_field(std::size_t entries) {
    int n = 0;
    while ((2u << n) < entries) ++n;
    return n;
  }
  Gif(int width, int height, const std::vector<Bgr>& global, int background = 0, const char* signature = "GIF89a") {
    bytes.assign(signature, signature + 6);
    u16(width);
    u16(height);
    bytes.push_back(static_cast<std::uint8_t>(global.empty() ? 0 : 0x80 | size_field(global.size())));
    bytes.push_back(static_cast<std::uint8_t>(background));
    bytes.push_back(0);
    table(global);
  }
  void control(int disposal, int delay, int transparent = -1) {
    bytes.insert(bytes.end(), {0x21, 0xF9, 4,
                               static_cast<std::uint8_t>(disposal << 2 | (transparent >= 0 ? 1 : 0))});
    u16(delay);
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0), 0});
  }
  void descriptor(int left, int top, int width, int height, const std::vector<Bgr>& local, bool interlaced) {
    bytes.push_back(0x2C);
    u16(left);
    u16(top);
    u16(width);
    u16(height);
    bytes.push_back(static_cast<std::uint8_t>((local.empty() ? 0 : 0x80 | size_field(local.size())) |
                                              (interlaced ? 0x40 : 0)));
    table(local);
  }
  void data(int min_size, const std::vector<std::uint8_t>& lzw) {
    bytes.push_back(static_cast<std::uint8_t>(min_size));
    for (std::size_t at = 0; at < lzw.size(); at += 255) {
      std::size_t n = std::min<std::size_t>(255, lzw.size() - at);
      bytes.push_back(static_cast<std::uint8_t>(n));
      bytes.insert(bytes.end(), lzw.begin() + static_cast<long>(at), lzw.begin() + static_cast<long>(at + n));
    }
    bytes.push_back(0);
  }
  // indices in picture order, top row first
  void image(int left, int top, int width, int height, const std::vector<std::uint8_t>& indices,
             const std::vector<Bgr>& local = {}, int min_size = 2, bool interlaced = false) {
    descriptor(left, top, width, height, local, interlaced);
    std::vector<std::uint8_t> order = indices;
    if (interlaced) {
      order.clear();
      for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = start; y < height; y += step)
          order.insert(order.end(), indices.begin() + y * width, indices.begin() + (y + 1) * width);
    }
    data(min_size, lzw_encode(order, min_size));
  }
  Bytes end() {
    bytes.push_back(0x3B);
    return Bytes(bytes);
  }
};

const std::vector<Bgr> four = {rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255), rgb(255, 255, 255)};
const std::vector<Bgr> two = {rgb(10, 20, 30), rgb(200, 100, 50)};

std::unique_ptr<GifImageSet> decode(Bytes file, int expected_result = 1) {
  auto gif = std::make_unique<GifImageSet>();
  EXPECT_EQ(read_gif_file(*gif, file), expected_result);
  return gif;
}

// Colour indices of a frame, top row first.
std::vector<std::uint8_t> indices_of(const resources::Image& image) {
  std::vector<std::uint8_t> v;
  for (int y = 0; y < resources::image_height(image); ++y)
    for (int x = 0; x < resources::image_width(image); ++x)
      v.push_back(static_cast<std::uint8_t>(resources::pixel_value(image, x, y)));
  return v;
}

std::vector<std::uint8_t> noise(std::size_t n, int modulo, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint8_t> v(n);
  // Runs of repeated and random indices, so that strings of every length occur.
  for (std::size_t i = 0; i < n; ++i)
    v[i] = static_cast<std::uint8_t>(random() % 3 == 0 && i > 0 ? v[i - 1] : random() % modulo);
  return v;
}

// --- decoding -----------------------------------------------------------------

TEST(GifDecode, SignatureScreenAndBackground) {
  for (const char* signature : {"GIF87a", "GIF89a"}) {
    Gif g(7, 5, four, 2, signature);
    g.image(0, 0, 1, 1, {1});
    auto gif = decode(g.end());
    EXPECT_EQ(gif->screen_width, 7);
    EXPECT_EQ(gif->screen_height, 5);
    EXPECT_EQ(gif->background, rgb(0, 0, 255));
    EXPECT_EQ(gif->frame_count, 1);
  }
  Gif wrong(1, 1, four, 0, "GIF88a");
  wrong.image(0, 0, 1, 1, {1});
  decode(wrong.end(), 0);
  Gif g(1, 1, four, 9);  // background index past the table: black
  g.image(0, 0, 1, 1, {1});
  std::vector<std::uint8_t> file = g.bytes;
  EXPECT_EQ(decode(g.end())->background, rgb(0, 0, 0));
  decode(Bytes(file.data(), 12), 0);       // no complete screen descriptor
  decode(Bytes(file.data(), 13 + 11), 0);  // the file ends inside the global table
}

TEST(GifDecode, FrameDepthAndColourTableFollowTheTableSize) {
  struct Case { int entries, bits, clr_used, min_size; };
  for (Case c : {Case{2, 1, 0, 2}, {4, 4, 4, 2}, {8, 4, 8, 3}, {16, 4, 0, 4}, {32, 8, 32, 5}, {256, 8, 0, 8}}) {
    std::vector<Bgr> table;
    for (int i = 0; i < c.entries; ++i) table.push_back(rgb(i, 255 - i, i * 7 % 256));
    const int width = 13, height = 7;  // odd width: partial bytes at the row end
    std::vector<std::uint8_t> pixels = noise(width * height, c.entries, static_cast<unsigned>(c.entries));
    Gif g(20, 20, {});
    g.image(3, 4, width, height, pixels, table, c.min_size);
    auto gif = decode(g.end());
    const resources::Image& image = gif->frames[0].image;
    EXPECT_EQ(resources::bit_count(image), c.bits) << c.entries;
    EXPECT_EQ(resources::header_field(image, resources::dib::clr_used), static_cast<std::uint32_t>(c.clr_used));
    EXPECT_EQ(resources::header_field(image, resources::dib::x_pels), 2500u);
    EXPECT_EQ(image.colour_count, static_cast<std::uint32_t>(c.entries));
    EXPECT_EQ(resources::colour_entry(image, c.entries - 1), table.back());
    EXPECT_EQ(indices_of(image), pixels) << c.entries;
    EXPECT_EQ(gif->frames[0].left, 3);
    EXPECT_EQ(gif->frames[0].top, 4);
  }
}

TEST(GifDecode, LzwRoundTripsWithFullTables) {
  // Large enough that the table fills: once with clear codes from the
  // encoder, once going on with the full table. Rows with and without
  // padding; 4-bit frames also so wide that early lines leave the decoder's
  // window of recent lines while codes still refer to them.
  struct Case { int min_size, width, height; };
  for (Case c : {Case{2, 300, 97}, {2, 301, 97}, {2, 9001, 40}, {5, 301, 97}, {8, 300, 97}, {8, 301, 97}}) {
    for (bool clear_when_full : {true, false}) {
      std::vector<std::uint8_t> pixels = noise(static_cast<std::size_t>(c.width * c.height), 1 << c.min_size,
                                               static_cast<unsigned>(c.min_size + c.width));
      std::vector<Bgr> table(static_cast<std::size_t>(1 << c.min_size));
      Gif g(c.width, c.height, table);
      g.descriptor(0, 0, c.width, c.height, {}, false);
      g.data(c.min_size, lzw_encode(pixels, c.min_size, clear_when_full));
      auto gif = decode(g.end());
      EXPECT_EQ(indices_of(gif->frames[0].image), pixels) << c.min_size << " " << c.width << clear_when_full;
    }
  }
}

TEST(GifDecode, InterlacedLinesArePlacedOnce) {
  std::vector<Bgr> table(16);
  for (int height = 1; height <= 20; ++height) {
    std::vector<std::uint8_t> pixels;
    for (int y = 0; y < height; ++y) pixels.insert(pixels.end(), 3, static_cast<std::uint8_t>(y % 16));
    Gif g(3, height, table);
    g.image(0, 0, 3, height, pixels, {}, 4, true);
    EXPECT_EQ(indices_of(decode(g.end())->frames[0].image), pixels) << height;
  }
}

TEST(GifDecode, GraphicControlValuesApplyUntilReplaced) {
  Gif g(2, 2, four);
  g.image(0, 0, 1, 1, {1});
  g.control(2, 15, 3);
  g.bytes.insert(g.bytes.end(), {0x21, 0xFE, 2, 'h', 'i', 0});  // a comment between
  g.image(0, 0, 1, 1, {1});
  g.image(1, 1, 1, 1, {2});
  g.control(9 & 7, 300);
  g.image(0, 0, 1, 1, {0});
  auto gif = decode(g.end());
  ASSERT_EQ(gif->frame_count, 4);
  const int expected[4][3] = {{0, 0, -1}, {15, 2, 3}, {15, 2, 3}, {300, 1, -1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(gif->frames[i].delay, expected[i][0]) << i;
    EXPECT_EQ(gif->frames[i].disposal, expected[i][1]) << i;
    EXPECT_EQ(gif->frames[i].transparent_index, expected[i][2]) << i;
  }
}

TEST(GifDecode, LocalTablesGlobalTableAndNoTable) {
  Gif g(4, 4, four);
  g.image(0, 0, 2, 1, {0, 1}, two);
  g.image(0, 0, 2, 1, {3, 2});
  auto gif = decode(g.end());
  ASSERT_EQ(gif->frame_count, 2);
  EXPECT_EQ(resources::pixel_colour(gif->frames[0].image, 1, 0), rgb(200, 100, 50));
  EXPECT_EQ(resources::pixel_colour(gif->frames[1].image, 0, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::colour_entry(gif->frames[0].image, 0), rgb(10, 20, 30));

  // An image with neither table empties the whole set, earlier frames too.
  Gif none(4, 4, {});
  none.image(0, 0, 1, 1, {0}, two);
  none.image(0, 0, 1, 1, {0});
  none.image(0, 0, 1, 1, {0}, two);
  EXPECT_EQ(decode(none.end())->frame_count, 0);
}

TEST(GifDecode, DamagedDataKeepTheDecodedPixels) {
  // Cut data: the pixels decoded so far stay, everything after is index 0,
  // in 4-bit and in 8-bit frames.
  for (int min_size : {2, 8}) {
    const int width = 40, height = 30;
    std::vector<std::uint8_t> pixels = noise(width * height, 3, 7);
    for (auto& p : pixels) ++p;  // indices 1-3, so 0 marks an undecoded pixel
    std::vector<std::uint8_t> lzw = lzw_encode(pixels, min_size);
    lzw.resize(lzw.size() / 2);
    Gif g(width, height, std::vector<Bgr>(static_cast<std::size_t>(1 << min_size)));
    g.descriptor(0, 0, width, height, {}, false);
    g.data(min_size, lzw);
    std::vector<std::uint8_t> got = indices_of(decode(g.end())->frames[0].image);
    std::size_t kept = 0;
    while (kept < got.size() && got[kept] == pixels[kept]) ++kept;
    EXPECT_GT(kept, pixels.size() / 4);
    EXPECT_LT(kept, pixels.size());
    EXPECT_NE(kept % width, 0u);  // the data end inside a line
    for (std::size_t i = kept; i < got.size(); ++i) ASSERT_EQ(got[i], 0) << min_size << " " << i;
  }

  // Hand-made code streams, min code size 2: clear 4, end 5, first free 6;
  // codes are 3 bits wide until code 7 is defined, then 4.
  auto codes = [](std::initializer_list<std::pair<int, int>> list) {
    CodeWriter w;
    for (auto [code, width] : list) w.put(code, width);
    return w.finish();
  };
  struct Case { std::vector<std::uint8_t> lzw; std::vector<std::uint8_t> pixels; };
  const Case cases[] = {
      // code 6 while it is being defined: 1 + its own first index
      {codes({{4, 3}, {1, 3}, {6, 3}, {5, 3}}), {1, 1, 1, 0, 0, 0}},
      // an undefined first code after a clear is index 0
      {codes({{4, 3}, {6, 3}, {2, 3}, {5, 3}}), {0, 2, 0, 0, 0, 0}},
      // the same at the start of the data, without a clear
      {codes({{7, 3}, {3, 3}, {5, 3}}), {0, 3, 0, 0, 0, 0}},
      // 7 is beyond the table (next free is 6): the image ends there
      {codes({{4, 3}, {1, 3}, {7, 3}, {2, 3}, {2, 3}, {5, 3}}), {1, 0, 0, 0, 0, 0}},
      // the last string (1 1 3) runs past the image: only its first two fit
      {codes({{4, 3}, {1, 3}, {6, 3}, {3, 3}, {7, 4}, {2, 4}, {5, 4}}), {1, 1, 1, 3, 1, 1}},
      // the end code ends the image; what follows is not decoded
      {codes({{4, 3}, {2, 3}, {5, 3}, {3, 3}, {3, 3}}), {2, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Gif h(3, 2, four);
    h.descriptor(0, 0, 3, 2, {}, false);
    h.data(2, c.lzw);
    h.image(0, 0, 1, 1, {3});  // decoding goes on after damaged data
    auto gif = decode(h.end());
    ASSERT_EQ(gif->frame_count, 2);
    EXPECT_EQ(indices_of(gif->frames[0].image), c.pixels);
    EXPECT_EQ(indices_of(gif->frames[1].image), std::vector<std::uint8_t>{3});
  }

  // A code size outside 2-8 leaves the image undecoded.
  for (int min_size : {0, 1, 9, 12}) {
    Gif h(2, 1, four);
    h.descriptor(0, 0, 2, 1, {}, false);
    h.data(min_size, {0xFF, 0xFF, 0xFF});
    EXPECT_EQ(indices_of(decode(h.end())->frames[0].image), (std::vector<std::uint8_t>{0, 0})) << min_size;
  }
}

TEST(GifDecode, IndicesOutsideTheColourTable) {
  // 8 entries, 4-bit frame: index 12 has no colour and is stored as 0; a
  // transparent index outside the table is no transparency.
  std::vector<Bgr> eight(8, rgb(1, 2, 3));
  Gif g(4, 1, eight);
  g.control(0, 0, 12);
  g.image(0, 0, 4, 1, {12, 7, 15, 1}, {}, 4);
  // 2 entries, 1-bit frame: any index other than 0 is a set bit.
  g.image(0, 0, 4, 1, {3, 0, 2, 1}, two, 2);
  auto gif = decode(g.end());
  EXPECT_EQ(indices_of(gif->frames[0].image), (std::vector<std::uint8_t>{0, 7, 0, 1}));
  EXPECT_EQ(gif->frames[0].transparent_index, -1);
  EXPECT_EQ(indices_of(gif->frames[1].image), (std::vector<std::uint8_t>{1, 0, 1, 1}));
}

TEST(GifDecode, BlockStructure) {
  // Stray zero bytes and unknown extensions are skipped; an unknown block
  // byte ends the file like the trailer; so does a cut descriptor.
  Gif g(2, 2, four);
  g.bytes.insert(g.bytes.end(), {0, 0, 0x21, 0x99, 3, 1, 2, 3, 2, 4, 5, 0});
  g.image(0, 0, 1, 1, {2});
  g.image(0, 0, 0, 5, {});  // no pixels: left out
  g.image(1, 1, 1, 1, {1});
  std::vector<std::uint8_t> prefix = g.bytes;
  g.bytes.push_back(0x77);
  g.image(0, 0, 1, 1, {3});
  auto gif = decode(g.end());
  ASSERT_EQ(gif->frame_count, 2);
  EXPECT_EQ(gif->frames[1].left, 1);
  prefix.insert(prefix.end(), {0x2C, 0, 0, 0, 0});
  EXPECT_EQ(decode(Bytes(prefix))->frame_count, 2);

  // A frame larger than any image may be is refused before allocation.
  Gif huge(1, 1, four);
  huge.image(0, 0, 65535, 65535, {});
  decode(huge.end(), 0);
}

TEST(GifDecode, AtMost256Frames) {
  Gif g(1, 1, two);
  for (int i = 0; i < 300; ++i) g.image(0, 0, 1, 1, {static_cast<std::uint8_t>(i % 3 == 0)});
  auto gif = decode(g.end());
  ASSERT_EQ(gif->frame_count, 256);
  EXPECT_EQ(resources::pixel_value(gif->frames[255].image, 0, 0), 1u);  // 255 = 3 * 85
  EXPECT_EQ(resources::pixel_value(gif->frames[254].image, 0, 0), 0u);
}

}  // namespace
}  // namespace vexa::imagefiles
