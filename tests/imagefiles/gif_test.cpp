#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "driver/output.h"
#include "imagefiles/gif.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::rgb;
using test::ByteList;

// --- a small GIF writer -------------------------------------------------------

// Codes packed least significant bit first, each in its own width.
struct CodeWriter {
  ByteList bytes;
  std::uint32_t acc = 0;
  int bits = 0;
  void put(int code, int width) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    for (bits += width; bits >= 8; bits -= 8, acc >>= 8) bytes.push_back(static_cast<std::uint8_t>(acc));
  }
  ByteList finish() {
    if (bits > 0) bytes.push_back(static_cast<std::uint8_t>(acc));
    return bytes;
  }
};

// A plain greedy LZW encoder. With clear_when_full it sends a clear code when
// the table is full, otherwise it goes on with the full table.
ByteList lzw_encode(const ByteList& indices, int min_size, bool clear_when_full = true) {
  const int clear = 1 << min_size;
  int next = clear + 2, width = min_size + 1;
  std::unordered_map<int, int> table;
  CodeWriter w;
  w.put(clear, width);
  int current = indices.empty() ? -1 : indices[0];
  for (std::size_t i = 1; i < indices.size(); ++i) {
    auto found = table.find(current << 8 | indices[i]);
    if (found != table.end()) {
      current = found->second;
      continue;
    }
    w.put(current, width);
    if (next < 4096) {
      table[current << 8 | indices[i]] = next++;
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
  ByteList bytes;
  void u16(int v) { bytes.insert(bytes.end(), {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }
  void table(const std::vector<Bgr>& colours) {
    for (const Bgr& c : colours) bytes.insert(bytes.end(), {c.red, c.green, c.blue});
  }
  static int flags(const std::vector<Bgr>& table) {
    int n = 0;
    while ((2u << n) < table.size()) ++n;
    return table.empty() ? 0 : 0x80 | n;
  }
  Gif(int width, int height, const std::vector<Bgr>& global, int background = 0, const char* signature = "GIF89a") {
    bytes.assign(signature, signature + 6);
    u16(width);
    u16(height);
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(flags(global)), static_cast<std::uint8_t>(background), 0});
    table(global);
  }
  void control(int disposal, int delay, int transparent = -1) {
    bytes.insert(bytes.end(), {0x21, 0xF9, 4, static_cast<std::uint8_t>(disposal << 2 | (transparent >= 0 ? 1 : 0))});
    u16(delay);
    bytes.insert(bytes.end(), {static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0), 0});
  }
  void descriptor(int left, int top, int width, int height, const std::vector<Bgr>& local, bool interlaced) {
    bytes.push_back(0x2C);
    for (int v : {left, top, width, height}) u16(v);
    bytes.push_back(static_cast<std::uint8_t>(flags(local) | (interlaced ? 0x40 : 0)));
    table(local);
  }
  void data(int min_size, const ByteList& lzw) {
    bytes.push_back(static_cast<std::uint8_t>(min_size));
    for (std::size_t at = 0; at < lzw.size(); at += 255) {
      std::size_t n = std::min<std::size_t>(255, lzw.size() - at);
      bytes.push_back(static_cast<std::uint8_t>(n));
      bytes.insert(bytes.end(), lzw.begin() + static_cast<long>(at), lzw.begin() + static_cast<long>(at + n));
    }
    bytes.push_back(0);
  }
  // indices in picture order, top row first
  void image(int left, int top, int width, int height, const ByteList& indices, const std::vector<Bgr>& local = {},
             int min_size = 2, bool interlaced = false) {
    descriptor(left, top, width, height, local, interlaced);
    ByteList order = indices;
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

const Bgr red = rgb(255, 0, 0), green = rgb(0, 255, 0), blue = rgb(0, 0, 255), white = rgb(255, 255, 255);
const std::vector<Bgr> four = {red, green, blue, white};
const std::vector<Bgr> two = {rgb(10, 20, 30), rgb(200, 100, 50)};

std::unique_ptr<GifImageSet> decode(Bytes file, int expected_result = 1) {
  auto gif = std::make_unique<GifImageSet>();
  EXPECT_EQ(read_gif_file(*gif, file), expected_result);
  return gif;
}

ByteList indices_of(const resources::Image& image) {
  std::vector<unsigned> v = test::values_of(image);
  return ByteList(v.begin(), v.end());
}

// Runs of repeated and random indices, so that strings of every length occur.
ByteList noise(std::size_t n, int modulo, unsigned seed) {
  std::mt19937 random(seed);
  ByteList v(n);
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
    EXPECT_EQ(gif->background, blue);
    EXPECT_EQ(gif->frame_count, 1);
  }
  Gif wrong(1, 1, four, 0, "GIF88a");
  wrong.image(0, 0, 1, 1, {1});
  decode(wrong.end(), 0);
  Gif g(1, 1, four, 9);  // background index past the table: black
  g.image(0, 0, 1, 1, {1});
  ByteList file = g.bytes;
  EXPECT_EQ(decode(g.end())->background, rgb(0, 0, 0));
  decode(Bytes(file.data(), 12), 0);       // no complete screen descriptor
  decode(Bytes(file.data(), 13 + 11), 0);  // the file ends inside the global table
}

TEST(GifDecode, FrameDepthAndColourTableFollowTheTableSize) {
  struct Case { int entries, bits, clr_used, min_size; };
  for (Case c : {Case{2, 1, 0, 2}, {4, 4, 4, 2}, {8, 4, 8, 3}, {16, 4, 0, 4}, {32, 8, 32, 5}, {256, 8, 0, 8}}) {
    SCOPED_TRACE(c.entries);
    std::vector<Bgr> table;
    for (int i = 0; i < c.entries; ++i) table.push_back(rgb(i, 255 - i, i * 7 % 256));
    const int width = 13, height = 7;  // odd width: partial bytes at the row end
    ByteList pixels = noise(width * height, c.entries, static_cast<unsigned>(c.entries));
    Gif g(20, 20, {});
    g.image(3, 4, width, height, pixels, table, c.min_size);
    auto gif = decode(g.end());
    const resources::Image& image = gif->frames[0].image;
    EXPECT_EQ(resources::bit_count(image), c.bits);
    EXPECT_EQ(resources::header_field(image, resources::dib::clr_used), static_cast<std::uint32_t>(c.clr_used));
    EXPECT_EQ(image.colour_count, static_cast<std::uint32_t>(c.entries));
    EXPECT_EQ(resources::colour_entry(image, c.entries - 1), table.back());
    EXPECT_EQ(indices_of(image), pixels);
    EXPECT_EQ(std::pair(int{gif->frames[0].left}, int{gif->frames[0].top}), std::pair(3, 4));
    EXPECT_EQ(resources::header_field(image, resources::dib::x_pels), 2500u);
  }
}

TEST(GifDecode, LzwRoundTripsWithFullTables) {
  // Large enough that the table fills: once with clear codes from the
  // encoder, once going on with the full table. Rows with and without
  // padding; 4-bit frames also so wide that early lines leave the decoder's
  // window of recent lines while codes still refer to them.
  struct Case { int min_size, width, height; };
  for (Case c : {Case{2, 300, 97}, {2, 301, 97}, {2, 9001, 40}, {5, 301, 97}, {8, 300, 97}, {8, 301, 97}})
    for (bool clear_when_full : {true, false}) {
      ByteList pixels = noise(static_cast<std::size_t>(c.width * c.height), 1 << c.min_size,
                              static_cast<unsigned>(c.min_size + c.width));
      Gif g(c.width, c.height, std::vector<Bgr>(static_cast<std::size_t>(1 << c.min_size)));
      g.descriptor(0, 0, c.width, c.height, {}, false);
      g.data(c.min_size, lzw_encode(pixels, c.min_size, clear_when_full));
      EXPECT_EQ(indices_of(decode(g.end())->frames[0].image), pixels) << c.min_size << " " << c.width << clear_when_full;
    }
}

TEST(GifDecode, ControlValuesTablesAndBlockStructure) {
  // Graphic control values apply until replaced; a comment between.
  Gif g(2, 2, four);
  g.image(0, 0, 1, 1, {1});
  g.control(2, 15, 3);
  g.bytes.insert(g.bytes.end(), {0x21, 0xFE, 2, 'h', 'i', 0});
  g.image(0, 0, 1, 1, {1});
  g.image(1, 1, 1, 1, {2});
  g.control(9 & 7, 300);
  g.image(0, 0, 1, 1, {1}, two);
  auto gif = decode(g.end());
  ASSERT_EQ(gif->frame_count, 4);
  const int expected[4][3] = {{0, 0, -1}, {15, 2, 3}, {15, 2, 3}, {300, 1, -1}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(gif->frames[i].delay, expected[i][0]) << i;
    EXPECT_EQ(gif->frames[i].disposal, expected[i][1]) << i;
    EXPECT_EQ(gif->frames[i].transparent_index, expected[i][2]) << i;
  }
  // A local table replaces the global one for its frame only.
  EXPECT_EQ(resources::pixel_colour(gif->frames[3].image, 0, 0), rgb(200, 100, 50));
  EXPECT_EQ(resources::pixel_colour(gif->frames[2].image, 0, 0), blue);

  // An image with neither table empties the whole set, earlier frames too.
  Gif none(4, 4, {});
  none.image(0, 0, 1, 1, {0}, two);
  none.image(0, 0, 1, 1, {0});
  EXPECT_EQ(decode(none.end())->frame_count, 0);

  // Stray zero bytes and unknown extensions are skipped; an image without
  // pixels is left out; an unknown block byte ends the file like the
  // trailer; so does a cut descriptor.
  Gif b(2, 2, four);
  b.bytes.insert(b.bytes.end(), {0, 0, 0x21, 0x99, 3, 1, 2, 3, 2, 4, 5, 0});
  b.image(0, 0, 1, 1, {2});
  b.image(0, 0, 0, 5, {});
  b.image(1, 1, 1, 1, {1});
  ByteList prefix = b.bytes;
  b.bytes.push_back(0x77);
  b.image(0, 0, 1, 1, {3});
  gif = decode(b.end());
  ASSERT_EQ(gif->frame_count, 2);
  EXPECT_EQ(gif->frames[1].left, 1);
  prefix.insert(prefix.end(), {0x2C, 0, 0, 0, 0});
  EXPECT_EQ(decode(Bytes(prefix))->frame_count, 2);
  // A frame larger than any image may be is refused before allocation.
  Gif huge(1, 1, four);
  huge.image(0, 0, 65535, 65535, {});
  decode(huge.end(), 0);
}

TEST(GifDecode, DamagedDataKeepTheDecodedPixels) {
  // Cut data: the pixels decoded so far stay, everything after is index 0,
  // in 4-bit and in 8-bit frames.
  for (int min_size : {2, 8}) {
    const int width = 40, height = 30;
    ByteList pixels = noise(width * height, 3, 7);
    for (auto& p : pixels) ++p;  // indices 1-3, so 0 marks an undecoded pixel
    ByteList lzw = lzw_encode(pixels, min_size);
    lzw.resize(lzw.size() / 2);
    Gif g(width, height, std::vector<Bgr>(static_cast<std::size_t>(1 << min_size)));
    g.descriptor(0, 0, width, height, {}, false);
    g.data(min_size, lzw);
    ByteList got = indices_of(decode(g.end())->frames[0].image);
    std::size_t kept = 0;
    while (kept < got.size() && got[kept] == pixels[kept]) ++kept;
    EXPECT_GT(kept, pixels.size() / 4);
    EXPECT_NE(kept % width, 0u);  // the data end inside a line
    EXPECT_EQ(std::count(got.begin() + static_cast<long>(kept), got.end(), 0), static_cast<long>(got.size() - kept));
  }

  // Hand-made code streams, min code size 2: clear 4, end 5, first free 6;
  // codes are 3 bits wide until code 7 is defined, then 4.
  auto codes = [](std::initializer_list<std::pair<int, int>> list) {
    CodeWriter w;
    for (auto [code, width] : list) w.put(code, width);
    return w.finish();
  };
  struct Case { ByteList lzw; ByteList pixels; std::vector<int> min_sizes = {2}; };
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
      // the data end with their last sub-block: the bytes behind are no codes
      {codes({{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 4}}), {1, 1, 1, 1, 0, 0}},
      // a code size outside 2-8 leaves the image undecoded
      {{0xFF, 0xFF, 0xFF}, {0, 0, 0, 0, 0, 0}, {0, 1, 9, 12}},
  };
  for (const Case& c : cases) {
    for (int min_size : c.min_sizes) {
      Gif h(3, 2, four);
      h.descriptor(0, 0, 3, 2, {}, false);
      h.data(min_size, c.lzw);
      h.control(0, 0);
      h.image(0, 0, 1, 1, {3});  // decoding goes on after damaged data
      auto gif = decode(h.end());
      ASSERT_EQ(gif->frame_count, 2);
      EXPECT_EQ(indices_of(gif->frames[0].image), c.pixels) << min_size;
      EXPECT_EQ(indices_of(gif->frames[1].image), ByteList{3});
    }
  }

  // 8 entries, 4-bit frame: index 12 has no colour and is stored as 0; a
  // transparent index outside the table is no transparency. 2 entries,
  // 1-bit frame: any index other than 0 is a set bit.
  Gif g(4, 1, std::vector<Bgr>(8, rgb(1, 2, 3)));
  g.control(0, 0, 12);
  g.image(0, 0, 4, 1, {12, 7, 15, 1}, {}, 4);
  g.image(0, 0, 4, 1, {3, 0, 2, 1}, two, 2);
  auto gif = decode(g.end());
  EXPECT_EQ(indices_of(gif->frames[0].image), (ByteList{0, 7, 0, 1}));
  EXPECT_EQ(gif->frames[0].transparent_index, -1);
  EXPECT_EQ(indices_of(gif->frames[1].image), (ByteList{1, 0, 1, 1}));
}

// --- composition ----------------------------------------------------------------

struct Composed {
  int result = 0;
  std::unique_ptr<resources::ImageSet> set = std::make_unique<resources::ImageSet>();
  std::string console;
  std::vector<Bgr> colours(int slot) const { return test::colours_of(set->images[static_cast<std::size_t>(slot)]); }
  std::vector<int> delays(int from, int to) const {
    return std::vector<int>(set->delays.begin() + from, set->delays.begin() + to + 1);
  }
};

Composed compose(Bytes file) {
  Composed c;
  char* text = nullptr;
  std::size_t size = 0;
  driver::Output out;
  out.console = ::open_memstream(&text, &size);
  c.result = read_gif(out, *c.set, file);
  std::fclose(out.console);
  c.console.assign(text, size);
  std::free(text);
  return c;
}

TEST(GifCompose, StillPictureKeepsItsOwnSizeAndDepth) {
  Gif g(40, 30, four, 3);
  g.image(7, 9, 5, 3, {0, 1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0}, two);
  Composed c = compose(g.end());
  ASSERT_EQ(c.result, 1);
  EXPECT_EQ(c.set->count, 1);
  EXPECT_EQ(c.set->first_number, 1);
  EXPECT_EQ(c.set->transparent, 0);
  const resources::Image& image = c.set->images[1];
  EXPECT_EQ(resources::bit_count(image), 1);
  EXPECT_EQ(test::mono_rows(image), (std::vector<std::string>{".##.#", "#...#", "....."}));
  EXPECT_EQ(resources::colour_entry(image, 1), rgb(200, 100, 50));
  EXPECT_EQ(c.console, "");
}

TEST(GifCompose, DisposalClippingAndDelays) {
  using Colours = std::vector<Bgr>;
  // Disposal 2 on frame 0: screen 1 shows the background where frame 0 was.
  Gif g(3, 1, four, 3);
  g.control(2, 0);
  g.image(0, 0, 2, 1, {0, 0});
  g.control(0, 0);
  g.image(2, 0, 1, 1, {1});
  g.image(0, 0, 1, 1, {2});
  Composed c = compose(g.end());
  ASSERT_EQ(c.set->count, 3);
  EXPECT_EQ(c.colours(1), (Colours{red, red, white}));
  EXPECT_EQ(c.colours(2), (Colours{white, white, green}));
  EXPECT_EQ(c.colours(3), (Colours{blue, white, green}));

  // 1 keeps, 3 restores the screen as it was before the frame, and the
  // undefined 5 keeps like 0; the last frame's disposal has no effect.
  Gif k(2, 1, four, 3);
  for (auto [disposal, left, index] : {std::tuple{1, 0, 0}, {3, 0, 1}, {5, 1, 2}, {3, 0, 3}}) {
    k.control(disposal, 0);
    k.image(left, 0, disposal == 1 ? 2 : 1, 1, ByteList(disposal == 1 ? 2 : 1, static_cast<std::uint8_t>(index)));
  }
  c = compose(k.end());
  ASSERT_EQ(c.set->count, 4);
  EXPECT_EQ(c.colours(1), (Colours{red, red}));
  EXPECT_EQ(c.colours(2), (Colours{green, red}));
  EXPECT_EQ(c.colours(3), (Colours{red, blue}));
  EXPECT_EQ(c.colours(4), (Colours{white, blue}));

  // Frames are clipped to the screen; screens keep the screen's size.
  Gif s(2, 2, four, 3);
  s.control(2, 0);
  s.image(1, 1, 3, 3, ByteList(9, 1));  // one pixel inside
  s.control(0, 0);
  s.image(0, 1, 1, 1, {0});
  s.image(2, 0, 4, 4, ByteList(16, 2));  // wholly outside
  s.image(65535, 65535, 1, 1, {2});
  c = compose(s.end());
  ASSERT_EQ(c.set->count, 4);
  EXPECT_EQ(c.colours(1), (Colours{white, white, white, green}));
  for (int slot = 2; slot <= 4; ++slot) EXPECT_EQ(c.colours(slot), (Colours{white, white, red, white})) << slot;

  // Delays in hundredths become tenths, at least 1, at most 255.
  Gif d(1, 1, two);
  for (int delay : {15, 16, 100, 0, 5, 10, 11, 1234, 65535}) {
    d.control(0, delay);
    d.image(0, 0, 1, 1, {0});
  }
  c = compose(d.end());
  EXPECT_EQ(c.delays(1, 9), (std::vector<int>{1, 2, 10, 1, 1, 1, 1, 123, 255}));
}

TEST(GifCompose, TransparentKeyColour) {
  // The transparent entry is black and the table holds black elsewhere too:
  // the key moves on by blue 8, green 24, red 56.
  Gif g(2, 1, {white, rgb(0, 0, 0), rgb(3, 5, 7), red});
  g.control(0, 0, 2);
  g.image(0, 0, 2, 1, {2, 1});
  Composed c = compose(g.end());
  EXPECT_EQ(c.set->transparent, 1);
  EXPECT_EQ(c.set->transparent_colour, rgb(56, 24, 8));
  EXPECT_EQ(c.colours(1), (std::vector<Bgr>{rgb(56, 24, 8), rgb(0, 0, 0)}));

  // A table holding all 32 colours of the sequence: the search stops after
  // one round and takes the first free colour of the 5-bit grid.
  std::vector<Bgr> crowded(256, white);
  crowded[0] = rgb(5, 6, 7);  // transparent; its key starts at black
  for (int k = 0; k < 32; ++k) crowded[static_cast<std::size_t>(1 + k)] = rgb(56 * k % 256, 24 * k % 256, 8 * k % 256);
  Gif full(1, 1, crowded);
  full.control(0, 0, 0);
  full.image(0, 0, 1, 1, {0}, {}, 8);
  EXPECT_EQ(compose(full.end()).set->transparent_colour, rgb(0, 0, 8));

  // Several frames: the background becomes the key, and transparent pixels
  // of later frames leave the screen as it was.
  Gif a(3, 1, {red, green, blue, rgb(100, 100, 100)}, 0);
  a.control(0, 0, 3);
  a.image(0, 0, 2, 1, {3, 1});
  a.control(0, 0, 1);
  a.image(1, 0, 2, 1, {1, 2});
  c = compose(a.end());
  const Bgr key = rgb(96, 96, 96);
  EXPECT_EQ(c.set->transparent_colour, key);
  EXPECT_EQ(c.colours(1), (std::vector<Bgr>{key, green, key}));
  EXPECT_EQ(c.colours(2), (std::vector<Bgr>{key, green, blue}));

  // Only the first frame decides: a later transparent frame alone sets none.
  Gif b(1, 1, four);
  b.image(0, 0, 1, 1, {0});
  b.control(0, 0, 1);
  b.image(0, 0, 1, 1, {1});
  EXPECT_EQ(compose(b.end()).set->transparent, 0);
}

TEST(GifCompose, SharedColourTableFailuresAndTheDispatcher) {
  Gif none(1, 1, {});
  none.image(0, 0, 1, 1, {0});
  EXPECT_EQ(compose(none.end()).result, 0);  // no colour table
  Gif empty(1, 1, four);
  EXPECT_EQ(compose(empty.end()).result, 0);  // no image
  Gif flat(0, 0, four);
  flat.image(0, 0, 1, 1, {0});
  EXPECT_EQ(compose(flat.end()).result, 1);  // a still picture needs no screen
  flat.bytes.pop_back();
  flat.image(0, 0, 1, 1, {0});
  Composed c = compose(flat.end());
  EXPECT_EQ(c.result, 0);  // frames cannot be composed on an empty screen
  EXPECT_EQ(c.set->count, 0);

  // Three colours over frames with 2-entry tables: the strip drops to 4 bits
  // and every screen carries its header, table and share of the rows.
  Gif g(4, 2, {red, green});
  g.control(1, 50);
  g.image(0, 0, 4, 2, {0, 1, 0, 1, 1, 1, 0, 0});
  g.image(1, 1, 1, 1, {0}, {blue, white});
  Bytes file = g.end();
  c = compose(file);
  ASSERT_EQ(c.set->count, 2);
  for (int slot : {1, 2}) {
    const resources::Image& image = c.set->images[static_cast<std::size_t>(slot)];
    EXPECT_EQ(resources::bit_count(image), 4);
    EXPECT_EQ(image.colour_count, 3u);
    EXPECT_EQ(resources::header_field(image, resources::dib::size_image), 8u);
    EXPECT_EQ(image.dib_size, image.dib.size());
  }
  EXPECT_EQ(std::memcmp(c.set->images[1].dib.data(), c.set->images[2].dib.data(), c.set->images[1].pixels), 0);
  EXPECT_EQ(c.colours(1), (std::vector<Bgr>{red, green, red, green, green, green, red, red}));
  EXPECT_EQ(c.colours(2), (std::vector<Bgr>{red, green, red, green, green, blue, red, red}));

  // Through the dispatcher, with the information line on the console.
  test::CapturedContext captured;
  test::write_file(captured.dir.file("anim.Gif"), ByteList(file.begin(), file.end()));
  test::write_file(captured.dir.file("broken.gif"), std::string("GIF89a"));
  resources::ImageSet& set = captured.ctx->work_set;
  ASSERT_EQ(load_image_file(*captured.ctx, set, captured.dir.file("anim.Gif")), 1);
  EXPECT_EQ(set.count, 2);
  EXPECT_EQ(set.delays[2], 5);
  EXPECT_EQ(captured.console(), "               only 3 colors are used: change colordepth->4-bit\r\n");
  EXPECT_EQ(load_image_file(*captured.ctx, set, captured.dir.file("broken.gif")), 0);
  EXPECT_EQ(set.count, 0);

  test::ProcessResult run = test::run_vexac({"--dump-image", "anim.Gif"}, captured.dir.path);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("image 002: 4 x 2, 4 bit, 3 colors, delay 5"), std::string::npos) << run.out;
  EXPECT_TRUE(test::file_exists(captured.dir.file("anim_002.bmp")));
}

// --- public corpora ---------------------------------------------------------------

Composed compose_file(const std::string& path) {
  ByteList bytes = test::read_bytes(path);
  return compose(Bytes(bytes));
}

// Compares a composed screen (or a still picture placed at left, top) with
// an expected frame: pixels the reference shows opaque must have its colour,
// the others (nothing drawn there, or transparent) the background or key.
void expect_frame(const resources::Image& image, int left, int top, const test::ReferencePicture& expected,
                  Bgr background, const std::string& what) {
  int wrong = 0;
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      int ix = x - left, iy = y - top;
      if (ix < 0 || iy < 0 || ix >= resources::image_width(image) || iy >= resources::image_height(image)) continue;
      Bgr want = expected.channel(x, y, 3) == 255
                     ? rgb(expected.channel(x, y, 0), expected.channel(x, y, 1), expected.channel(x, y, 2))
                     : background;
      if (resources::pixel_colour(image, ix, iy) != want && ++wrong <= 3) ADD_FAILURE() << what << " at " << x << "," << y;
    }
}

TEST(GifCorpus, GeneratedPicturesFramesAndDelays) {
  std::string folder = test::testdata("gif-generated");
  if (folder.empty()) GTEST_SKIP() << "no corpora";
  std::vector<std::string> names;
  for (int h = 1; h <= 9; ++h) names.push_back(folder + "/interlace_h" + std::to_string(h));
  names.push_back(folder + "/interlace_20x37_8bit");
  std::vector<std::string> pngs;
  for (const std::string& n : names) pngs.push_back(n + ".png");
  auto references = test::decode_reference(pngs);
  for (const std::string& name : names) {
    Composed c = compose_file(name + ".gif");
    ASSERT_EQ(c.result, 1) << name;
    ASSERT_EQ(c.set->count, 1);
    const test::ReferencePicture& ref = references[name + ".png"];
    ASSERT_TRUE(ref.ok) << name;
    EXPECT_EQ(resources::image_height(c.set->images[1]), ref.height);
    expect_frame(c.set->images[1], 0, 0, ref, Bgr{}, name);
  }
  // 300 frames: the decoder keeps 256, the set has room for 255 of them.
  EXPECT_EQ(decode(Bytes(test::read_bytes(folder + "/frames300.gif")))->frame_count, 256);
  Composed many = compose_file(folder + "/frames300.gif");
  ASSERT_EQ(many.set->count, 255);
  for (int slot = 1; slot <= 255; ++slot) ASSERT_EQ(many.colours(slot), std::vector<Bgr>{rgb(0, 0, 0)}) << slot;
  EXPECT_EQ(compose_file(folder + "/delays_15_16_100_0.gif").delays(1, 4), (std::vector<int>{1, 2, 10, 1}));
}

// The suite's INI files: section -> key -> value.
std::map<std::string, std::map<std::string, std::string>> read_conf(const std::string& path) {
  std::map<std::string, std::map<std::string, std::string>> conf;
  std::istringstream in(test::read_file(path));
  std::string line, section;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line.substr(1, line.find(']') - 1);
    } else if (auto eq = line.find(" = "); eq != std::string::npos) {
      conf[section][line.substr(0, eq)] = line.substr(eq + 3);
    } else if (auto bare = line.find(" ="); bare != std::string::npos) {
      conf[section][line.substr(0, bare)] = "";
    }
  }
  return conf;
}

TEST(GifCorpus, PygifExpectedFrames) {
  std::string folder = test::testdata("gif-pygif");
  if (folder.empty()) GTEST_SKIP() << "no corpora";
  // Where the suite shows several images as one frame (images without a
  // graphic control extension of their own join the next frame), the screen
  // after the frame's last image is compared; this reader gives every image
  // its own screen.
  const std::map<std::string, std::vector<int>> screens = {
      {"images-combine", {3}},
      {"images-overlap", {1}},
      {"high-color", {3}},
      {"dispose-restore-previous", {1, 2, 3, 4}},
      {"animation-multi-image", {0, 2, 4, 6}},
      {"animation-multi-image-explicit-zero-delay", {0, 2, 4, 6}},
  };
  // No picture at all (no image, or only images without pixels): refused.
  const std::set<std::string> refused = {"no-data", "image-zero-width", "image-zero-height", "image-zero-size"};
  std::istringstream tests(test::read_file(folder + "/TESTS"));
  int compared = 0;
  for (std::string name; std::getline(tests, name);) {
    if (name.empty()) continue;
    auto conf = read_conf(folder + "/" + name + ".conf");
    std::string gif_path = folder + "/" + conf["config"]["input"];
    Composed c = compose_file(gif_path);
    std::string frame_list = conf["config"]["frames"];
    if (refused.count(name) != 0) {
      EXPECT_EQ(c.result, 0) << name;
      continue;
    }
    if (frame_list.empty()) continue;  // no expected picture: not crashing is all
    ASSERT_EQ(c.result, 1) << name;
    ByteList bytes = test::read_bytes(gif_path);
    if (name == "max-codes") {
      // Its minimum code size is 11; this reader decodes sizes 2 to 8 only and
      // leaves the image at index 0, the first colour of the global table.
      std::vector<Bgr> all = c.colours(1);
      EXPECT_EQ(all, std::vector<Bgr>(all.size(), rgb(bytes[13], bytes[14], bytes[15])));
      continue;
    }
    std::vector<std::string> frames;
    std::istringstream list(frame_list);
    for (std::string f; std::getline(list, f, ',');) frames.push_back(f);
    std::vector<int> map;
    if (auto m = screens.find(name); m != screens.end()) {
      map = m->second;
      EXPECT_EQ(c.set->count, map.back() + 1) << name;
    } else {
      ASSERT_EQ(c.set->count, frames.size()) << name;
      for (std::size_t i = 0; i < frames.size(); ++i) map.push_back(static_cast<int>(i));
    }
    // Still pictures keep their own size and are compared at their place.
    int left = 0, top = 0;
    if (c.set->count == 1) {
      auto gif = decode(Bytes(bytes));
      left = gif->frames[0].left;
      top = gif->frames[0].top;
    }
    Bgr background;
    if (c.set->transparent) {
      background = c.set->transparent_colour;
    } else if (std::string bg = conf["config"]["background"]; bg.size() == 7) {
      unsigned v = static_cast<unsigned>(std::stoul(bg.substr(1), nullptr, 16));
      background = rgb(static_cast<int>(v >> 16), static_cast<int>(v >> 8 & 255), static_cast<int>(v & 255));
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
      auto& frame = conf[frames[i]];
      ASSERT_FALSE(frame["pixels"].empty()) << name;
      test::ReferencePicture expected;
      expected.width = std::stoi(conf["config"]["width"]);
      std::string raw = test::read_file(folder + "/" + frame["pixels"]);
      expected.rgba.assign(raw.begin(), raw.end());
      expected.height = static_cast<int>(expected.rgba.size() / 4 / static_cast<std::size_t>(expected.width));
      int slot = 1 + map[i];
      expect_frame(c.set->images[static_cast<std::size_t>(slot)], left, top, expected, background, name + " " + frames[i]);
      if (!frame["delay"].empty()) {
        int delay = std::stoi(frame["delay"]);
        EXPECT_EQ(c.set->delays[static_cast<std::size_t>(slot)], delay > 10 ? (delay + 4) / 10 : 1) << name;
      }
      ++compared;
    }
  }
  EXPECT_GT(compared, 80);
}

TEST(GifCorpus, PeterdnFramesByFrame) {
  std::string folder = test::testdata("gif-peterdn");
  if (folder.empty()) GTEST_SKIP() << "no corpora";
  // The expected frames are browser composites (checked against Pillow's own
  // composites, which agree on every opaque pixel except where Pillow keeps
  // a frame that disposal 2 should remove). Their transparent pixels are
  // this reader's background, which is the key colour in all these files.
  const std::string stills[] = {"static_nontransparent", "static_transparent"};
  const std::string animations[] = {
      "animated_noloop", "animated_loop", "animated_loop_interlaced", "animated_loop_variable_delay",
      "animated_transparent_loop", "animated_transparent_restoreprev_loop",
      "animated_transparent_firstframerestoreprev_loop", "animated_transparent_frame_norestore_loop",
      "animated_transparent_frame_restorebackground_loop", "animated_transparent_frame_restoreprev_loop",
      "animated_transparent_loop_frames_out_of_bounds"};
  std::vector<std::pair<std::string, int>> files;
  for (const std::string& name : stills) files.emplace_back(name, 1);
  for (const std::string& name : animations) files.emplace_back(name, 4);
  std::vector<std::string> pngs;
  for (const auto& [name, n] : files)
    for (int i = 0; i < n; ++i) pngs.push_back(folder + "/frames/" + name + (n > 1 ? "-" + std::to_string(i) : "") + ".png");
  auto references = test::decode_reference(pngs);
  std::size_t at = 0;
  for (const auto& [name, n] : files) {
    Composed c = compose_file(folder + "/" + name + ".gif");
    ASSERT_EQ(c.result, 1) << name;
    ASSERT_EQ(c.set->count, n) << name;
    EXPECT_EQ(c.set->transparent, name.find("_transparent") != std::string::npos) << name;
    for (int i = 0; i < n; ++i, ++at) {
      ASSERT_TRUE(references[pngs[at]].ok) << pngs[at];
      const resources::Image& image = c.set->images[static_cast<std::size_t>(1 + i)];
      EXPECT_EQ(resources::image_width(image), 100);
      expect_frame(image, 0, 0, references[pngs[at]], c.set->transparent_colour, name + " " + std::to_string(i));
    }
  }
  EXPECT_EQ(compose_file(folder + "/animated_loop_variable_delay.gif").delays(1, 4), (std::vector<int>{10, 10, 1, 10}));
}

TEST(GifCorpus, DamagedCopiesStayInsideTheBuffers) {
  // Every corpus file, cut at many lengths and with bits flipped, read
  // without a crash (the sanitizer build checks every access).
  std::vector<std::string> files;
  for (const char* folder : {"gif-generated", "gif-pygif", "gif-peterdn"})
    for (const std::string& f : test::corpus_files(folder, ".gif")) files.push_back(f);
  if (files.empty()) GTEST_SKIP() << "no corpora";
  ASSERT_GT(files.size(), 100u);
  int reads = 0;
  for (const std::string& path : files) {
    const ByteList original = test::read_bytes(path);
    compose(Bytes(original));
    const std::size_t cuts = std::min<std::size_t>(original.size(), 32);
    for (std::size_t i = 0; i < cuts; ++i, ++reads) compose(Bytes(original.data(), original.size() * i / cuts));
    for (const ByteList& copy : test::damaged_copies(original, 16)) {
      compose(Bytes(copy));
      ++reads;
    }
  }
  EXPECT_GT(reads, 5000);
}

}  // namespace
}  // namespace vexa::imagefiles
