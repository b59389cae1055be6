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
#include <unordered_map>
#include <vector>

#include "driver/output.h"
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
      // the data end with their last sub-block: the bytes behind are no codes
      {codes({{4, 3}, {1, 3}, {1, 3}, {1, 3}, {1, 4}}), {1, 1, 1, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    Gif h(3, 2, four);
    h.descriptor(0, 0, 3, 2, {}, false);
    h.data(2, c.lzw);
    h.control(0, 0);
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


// --- composition ----------------------------------------------------------------

struct Composed {
  int result = 0;
  std::unique_ptr<resources::ImageSet> set = std::make_unique<resources::ImageSet>();
  std::string console;
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

// The colours of image slot, top row first.
std::vector<Bgr> colours_of(const resources::ImageSet& set, int slot) {
  const resources::Image& image = set.images[static_cast<std::size_t>(slot)];
  std::vector<Bgr> v;
  for (int y = 0; y < resources::image_height(image); ++y)
    for (int x = 0; x < resources::image_width(image); ++x) v.push_back(resources::pixel_colour(image, x, y));
  return v;
}

const Bgr red = rgb(255, 0, 0), green = rgb(0, 255, 0), blue = rgb(0, 0, 255), white = rgb(255, 255, 255);

TEST(GifCompose, StillPictureKeepsItsOwnSizeAndDepth) {
  Gif g(40, 30, four, 3);
  g.image(7, 9, 5, 3, {0, 1, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0}, two);
  Composed c = compose(g.end());
  ASSERT_EQ(c.result, 1);
  EXPECT_EQ(c.set->count, 1);
  EXPECT_EQ(c.set->first_number, 1);
  EXPECT_EQ(c.set->transparent, 0);
  const resources::Image& image = c.set->images[1];
  EXPECT_EQ(resources::image_width(image), 5);
  EXPECT_EQ(resources::image_height(image), 3);
  EXPECT_EQ(resources::bit_count(image), 1);
  EXPECT_EQ(resources::colour_entry(image, 0), rgb(10, 20, 30));
  EXPECT_EQ(resources::colour_entry(image, 1), rgb(200, 100, 50));
  EXPECT_EQ(resources::pixel_value(image, 1, 0), 1u);
  EXPECT_EQ(resources::pixel_value(image, 4, 1), 1u);
  EXPECT_EQ(resources::pixel_value(image, 4, 2), 0u);
  EXPECT_EQ(c.console, "");
}

TEST(GifCompose, DisposalMethods) {
  {
    // Disposal 2 on frame 0: screen 1 shows the background where frame 0 was.
    Gif g(3, 1, four, 3);
    g.control(2, 0);
    g.image(0, 0, 2, 1, {0, 0});
    g.control(0, 0);
    g.image(2, 0, 1, 1, {1});
    g.image(0, 0, 1, 1, {2});
    Composed c = compose(g.end());
    ASSERT_EQ(c.result, 1);
    ASSERT_EQ(c.set->count, 3);
    EXPECT_EQ(colours_of(*c.set, 1), (std::vector<Bgr>{red, red, white}));
    EXPECT_EQ(colours_of(*c.set, 2), (std::vector<Bgr>{white, white, green}));
    EXPECT_EQ(colours_of(*c.set, 3), (std::vector<Bgr>{blue, white, green}));
  }
  {
    // 1 keeps, 3 restores the screen as it was before the frame, and the
    // undefined 5 keeps like 0; the last frame's disposal has no effect.
    Gif g(2, 1, four, 3);
    g.control(1, 0);
    g.image(0, 0, 2, 1, {0, 0});
    g.control(3, 0);
    g.image(0, 0, 1, 1, {1});
    g.control(5, 0);
    g.image(1, 0, 1, 1, {2});
    g.control(3, 0);
    g.image(0, 0, 1, 1, {3});
    Composed c = compose(g.end());
    ASSERT_EQ(c.set->count, 4);
    EXPECT_EQ(colours_of(*c.set, 1), (std::vector<Bgr>{red, red}));
    EXPECT_EQ(colours_of(*c.set, 2), (std::vector<Bgr>{green, red}));
    EXPECT_EQ(colours_of(*c.set, 3), (std::vector<Bgr>{red, blue}));
    EXPECT_EQ(colours_of(*c.set, 4), (std::vector<Bgr>{white, blue}));
  }
}

TEST(GifCompose, FramesAreClippedToTheScreen) {
  Gif g(2, 2, four, 3);
  g.control(2, 0);
  g.image(1, 1, 3, 3, std::vector<std::uint8_t>(9, 1));  // one pixel inside
  g.control(0, 0);
  g.image(0, 1, 1, 1, {0});
  g.image(2, 0, 4, 4, std::vector<std::uint8_t>(16, 2));  // wholly outside
  g.image(65535, 65535, 1, 1, {2});
  Composed c = compose(g.end());
  ASSERT_EQ(c.set->count, 4);
  EXPECT_EQ(colours_of(*c.set, 1), (std::vector<Bgr>{white, white, white, green}));
  EXPECT_EQ(colours_of(*c.set, 2), (std::vector<Bgr>{white, white, red, white}));
  EXPECT_EQ(colours_of(*c.set, 3), colours_of(*c.set, 2));
  EXPECT_EQ(colours_of(*c.set, 4), colours_of(*c.set, 2));
  for (int slot = 1; slot <= 4; ++slot) {
    EXPECT_EQ(resources::image_width(c.set->images[static_cast<std::size_t>(slot)]), 2);
    EXPECT_EQ(resources::image_height(c.set->images[static_cast<std::size_t>(slot)]), 2);
  }
}

TEST(GifCompose, DelaysBecomeTenthsOfASecond) {
  const int hundredths[] = {15, 16, 100, 0, 5, 10, 11, 1234, 65535};
  const int tenths[] = {1, 2, 10, 1, 1, 1, 1, 123, 255};
  Gif g(1, 1, two);
  for (int delay : hundredths) {
    g.control(0, delay);
    g.image(0, 0, 1, 1, {0});
  }
  Composed c = compose(g.end());
  ASSERT_EQ(c.set->count, 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(c.set->delays[static_cast<std::size_t>(1 + i)], tenths[i]) << i;
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
  EXPECT_EQ(colours_of(*c.set, 1), (std::vector<Bgr>{rgb(56, 24, 8), rgb(0, 0, 0)}));

  // A table holding all 32 colours of the sequence: the search stops after
  // one round and takes the first free colour of the 5-bit grid.
  std::vector<Bgr> crowded(256, white);
  crowded[0] = rgb(5, 6, 7);  // transparent; its key starts at black
  for (int k = 0; k < 32; ++k) crowded[static_cast<std::size_t>(1 + k)] = rgb(56 * k % 256, 24 * k % 256, 8 * k % 256);
  Gif full(1, 1, crowded);
  full.control(0, 0, 0);
  full.image(0, 0, 1, 1, {0}, {}, 8);
  Composed f = compose(full.end());
  EXPECT_EQ(f.set->transparent, 1);
  EXPECT_EQ(f.set->transparent_colour, rgb(0, 0, 8));

  // Several frames: the background becomes the key, and transparent pixels
  // of later frames leave the screen as it was.
  Gif a(3, 1, {red, green, blue, rgb(100, 100, 100)}, 0);
  a.control(0, 0, 3);
  a.image(0, 0, 2, 1, {3, 1});
  a.control(0, 0, 1);
  a.image(1, 0, 2, 1, {1, 2});
  Composed m = compose(a.end());
  const Bgr key = rgb(96, 96, 96);
  EXPECT_EQ(m.set->transparent_colour, key);
  EXPECT_EQ(colours_of(*m.set, 1), (std::vector<Bgr>{key, green, key}));
  EXPECT_EQ(colours_of(*m.set, 2), (std::vector<Bgr>{key, green, blue}));

  // Only the first frame decides: a later transparent frame alone sets none.
  Gif b(1, 1, four);
  b.image(0, 0, 1, 1, {0});
  b.control(0, 0, 1);
  b.image(0, 0, 1, 1, {1});
  EXPECT_EQ(compose(b.end()).set->transparent, 0);
}

TEST(GifCompose, ScreensShareOneColourTable) {
  // Three colours over frames with 2-entry tables: the strip drops to 4 bits
  // and every screen carries its header, table and share of the rows.
  Gif g(4, 2, {red, green});
  g.image(0, 0, 4, 2, {0, 1, 0, 1, 1, 1, 0, 0});
  g.image(1, 1, 1, 1, {0}, {blue, white});
  Composed c = compose(g.end());
  ASSERT_EQ(c.set->count, 2);
  EXPECT_EQ(c.console, "               only 3 colors are used: change colordepth->4-bit\r\n");
  for (int slot : {1, 2}) {
    const resources::Image& image = c.set->images[static_cast<std::size_t>(slot)];
    EXPECT_EQ(resources::bit_count(image), 4);
    EXPECT_EQ(image.colour_count, 3u);
    EXPECT_EQ(resources::image_height(image), 2);
    EXPECT_EQ(resources::header_field(image, resources::dib::size_image), 8u);
    EXPECT_EQ(image.dib_size, image.dib.size());
  }
  EXPECT_EQ(std::memcmp(c.set->images[1].dib.data(), c.set->images[2].dib.data(), c.set->images[1].pixels), 0);
  EXPECT_EQ(colours_of(*c.set, 1), (std::vector<Bgr>{red, green, red, green, green, green, red, red}));
  EXPECT_EQ(colours_of(*c.set, 2), (std::vector<Bgr>{red, green, red, green, green, blue, red, red}));
}

TEST(GifCompose, AtMost256FramesAnd255Screens) {
  // Images 256 to 299 are not decoded; the composed set numbers its screens
  // from 1, so the 256th frame finds no slot.
  Gif g(1, 1, two);
  for (int i = 0; i < 300; ++i) g.image(0, 0, 1, 1, {static_cast<std::uint8_t>(i % 3 == 0)});
  auto gif = decode(Bytes(g.end()));
  ASSERT_EQ(gif->frame_count, 256);
  EXPECT_EQ(resources::pixel_value(gif->frames[255].image, 0, 0), 1u);  // 255 = 3 * 85
  EXPECT_EQ(resources::pixel_value(gif->frames[254].image, 0, 0), 0u);
  Composed c = compose(Bytes(g.bytes));
  ASSERT_EQ(c.set->count, 255);
  EXPECT_EQ(c.set->first_number, 1);
  EXPECT_EQ(resources::pixel_colour(c.set->images[255], 0, 0), two[0]);
  EXPECT_EQ(resources::pixel_colour(c.set->images[253], 0, 0), two[1]);
}

TEST(GifCompose, Failures) {
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
}

TEST(GifCompose, LoadedThroughTheDispatcher) {
  test::TempDir dir;
  test::CapturedContext captured;
  Gif g(4, 2, {red, green});
  g.control(1, 50);
  g.image(0, 0, 4, 2, {0, 1, 0, 1, 1, 1, 0, 0});
  g.image(1, 1, 1, 1, {0}, {blue, white});
  Bytes file = g.end();
  test::write_file(dir.file("anim.Gif"), std::vector<std::uint8_t>(file.begin(), file.end()));
  test::write_file(dir.file("broken.gif"), std::string("GIF89a"));
  resources::ImageSet& set = captured.ctx->work_set;
  ASSERT_EQ(load_image_file(*captured.ctx, set, dir.file("anim.Gif")), 1);
  EXPECT_EQ(set.count, 2);
  EXPECT_EQ(set.first_number, 1);
  EXPECT_EQ(set.delays[2], 5);
  EXPECT_EQ(captured.console(), "               only 3 colors are used: change colordepth->4-bit\r\n");
  EXPECT_EQ(load_image_file(*captured.ctx, set, dir.file("broken.gif")), 0);
  EXPECT_EQ(set.count, 0);

  test::ProcessResult run = test::run_vexac({"--dump-image", "anim.Gif"}, dir.path);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("image 002: 4 x 2, 4 bit, 3 colors, delay 5"), std::string::npos) << run.out;
  EXPECT_TRUE(test::file_exists(dir.file("anim_002.bmp")));
}

// --- public corpora ---------------------------------------------------------------

// RGBA pictures decoded by an independent decoder (Pillow, through the
// system's python3), top row first. Empty when it is not available.
struct Rgba {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
  Bgr colour(int x, int y) const {
    const std::uint8_t* p = pixels.data() + 4 * (static_cast<std::size_t>(y) * width + x);
    return rgb(p[0], p[1], p[2]);
  }
  int alpha(int x, int y) const { return pixels[4 * (static_cast<std::size_t>(y) * width + x) + 3]; }
};

std::vector<Rgba> decode_with_pil(const std::vector<std::string>& paths) {
  static const char* script =
      "import sys\n"
      "from PIL import Image\n"
      "for p in sys.argv[1:]:\n"
      "    im = Image.open(p).convert('RGBA')\n"
      "    sys.stdout.buffer.write(im.size[0].to_bytes(4, 'little') + im.size[1].to_bytes(4, 'little'))\n"
      "    sys.stdout.buffer.write(im.tobytes())\n";
  if (!test::file_exists("/usr/bin/python3")) return {};
  std::vector<std::string> argv = {"/usr/bin/python3", "-c", script};
  argv.insert(argv.end(), paths.begin(), paths.end());
  test::ProcessResult r = test::run_process(argv, "");
  std::vector<Rgba> out;
  if (r.exit_code != 0) return out;
  std::size_t at = 0;
  while (at + 8 <= r.out.size()) {
    Rgba p;
    std::memcpy(&p.width, r.out.data() + at, 4);
    std::memcpy(&p.height, r.out.data() + at + 4, 4);
    at += 8;
    std::size_t n = 4 * static_cast<std::size_t>(p.width) * static_cast<std::size_t>(p.height);
    if (at + n > r.out.size()) break;
    p.pixels.assign(r.out.begin() + static_cast<long>(at), r.out.begin() + static_cast<long>(at + n));
    at += n;
    out.push_back(std::move(p));
  }
  return out.size() == paths.size() ? out : std::vector<Rgba>{};
}

Composed compose_file(const std::string& path) {
  std::vector<std::uint8_t> bytes = test::read_bytes(path);
  return compose(Bytes(bytes));
}

// Compares a composed screen (or a still picture placed at left, top) with
// an expected frame: pixels the reference shows opaque must have its colour,
// the others (nothing drawn there, or transparent) the background or key.
void expect_frame(const resources::Image& image, int left, int top, const Rgba& expected, Bgr background,
                  const std::string& what) {
  int wrong = 0;
  for (int y = 0; y < expected.height; ++y)
    for (int x = 0; x < expected.width; ++x) {
      int ix = x - left, iy = y - top;
      if (ix < 0 || iy < 0 || ix >= resources::image_width(image) || iy >= resources::image_height(image)) continue;
      Bgr want = expected.alpha(x, y) == 255 ? expected.colour(x, y) : background;
      if (resources::pixel_colour(image, ix, iy) != want && ++wrong <= 3)
        ADD_FAILURE() << what << " at " << x << "," << y;
    }
}

TEST(GifCorpus, GeneratedInterlacedPicturesMatchTheirReferences) {
  std::string folder = test::testdata("gif-generated");
  if (folder.empty()) GTEST_SKIP() << "no corpora";
  std::vector<std::string> names;
  for (int h = 1; h <= 9; ++h) names.push_back("interlace_h" + std::to_string(h));
  names.push_back("interlace_20x37_8bit");
  std::vector<std::string> pngs;
  for (const std::string& n : names) pngs.push_back(folder + "/" + n + ".png");
  std::vector<Rgba> references = decode_with_pil(pngs);
  if (references.empty()) GTEST_SKIP() << "no python3 with PIL";
  for (std::size_t i = 0; i < names.size(); ++i) {
    Composed c = compose_file(folder + "/" + names[i] + ".gif");
    ASSERT_EQ(c.result, 1) << names[i];
    ASSERT_EQ(c.set->count, 1);
    EXPECT_EQ(resources::image_height(c.set->images[1]), references[i].height);
    expect_frame(c.set->images[1], 0, 0, references[i], Bgr{}, names[i]);
  }
}

TEST(GifCorpus, GeneratedFramesAndDelays) {
  std::string folder = test::testdata("gif-generated");
  if (folder.empty()) GTEST_SKIP() << "no corpora";
  // 300 frames: the decoder keeps 256, the set has room for 255 of them.
  Composed many = compose_file(folder + "/frames300.gif");
  ASSERT_EQ(many.result, 1);
  ASSERT_EQ(many.set->count, 255);
  for (int slot = 1; slot <= 255; ++slot)
    ASSERT_EQ(resources::pixel_colour(many.set->images[static_cast<std::size_t>(slot)], 0, 0), rgb(0, 0, 0)) << slot;
  Composed delays = compose_file(folder + "/delays_15_16_100_0.gif");
  ASSERT_EQ(delays.set->count, 4);
  EXPECT_EQ(std::vector<int>(delays.set->delays.begin() + 1, delays.set->delays.begin() + 5),
            (std::vector<int>{1, 2, 10, 1}));
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
  std::string name;
  int compared = 0;
  while (std::getline(tests, name)) {
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
    if (name == "max-codes") {
      // Its minimum code size is 11; this reader decodes sizes 2 to 8 only and
      // leaves the image at index 0, the first colour of the global table.
      std::vector<std::uint8_t> bytes = test::read_bytes(gif_path);
      std::vector<Bgr> all = colours_of(*c.set, 1);
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
      auto gif = std::make_unique<GifImageSet>();
      std::vector<std::uint8_t> bytes = test::read_bytes(gif_path);
      read_gif_file(*gif, Bytes(bytes));
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
    const int width = std::stoi(conf["config"]["width"]);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      auto& frame = conf[frames[i]];
      ASSERT_FALSE(frame["pixels"].empty()) << name;
      Rgba expected;
      expected.width = width;
      std::string raw = test::read_file(folder + "/" + frame["pixels"]);
      expected.pixels.assign(raw.begin(), raw.end());
      expected.height = static_cast<int>(expected.pixels.size() / 4 / static_cast<std::size_t>(width));
      int slot = 1 + map[i];
      expect_frame(c.set->images[static_cast<std::size_t>(slot)], left, top, expected, background,
                   name + " " + frames[i]);
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
  const std::pair<const char*, int> files[] = {
      {"static_nontransparent", 1},
      {"static_transparent", 1},
      {"animated_noloop", 4},
      {"animated_loop", 4},
      {"animated_loop_interlaced", 4},
      {"animated_loop_variable_delay", 4},
      {"animated_transparent_loop", 4},
      {"animated_transparent_restoreprev_loop", 4},
      {"animated_transparent_firstframerestoreprev_loop", 4},
      {"animated_transparent_frame_norestore_loop", 4},
      {"animated_transparent_frame_restorebackground_loop", 4},
      {"animated_transparent_frame_restoreprev_loop", 4},
      {"animated_transparent_loop_frames_out_of_bounds", 4},
  };
  std::vector<std::string> pngs;
  for (auto [name, n] : files)
    for (int i = 0; i < n; ++i) {
      std::string png = folder + "/frames/" + name;
      if (n > 1) png += '-' + std::to_string(i);
      pngs.push_back(png + ".png");
    }
  std::vector<Rgba> references = decode_with_pil(pngs);
  if (references.empty()) GTEST_SKIP() << "no python3 with PIL";
  std::size_t at = 0;
  for (auto [name, n] : files) {
    Composed c = compose_file(folder + "/" + name + ".gif");
    ASSERT_EQ(c.result, 1) << name;
    ASSERT_EQ(c.set->count, n) << name;
    const std::string file = name;
    EXPECT_EQ(c.set->transparent, file.find("_transparent") != std::string::npos || file == "static_transparent")
        << name;
    for (int i = 0; i < n; ++i, ++at) {
      const resources::Image& image = c.set->images[static_cast<std::size_t>(1 + i)];
      EXPECT_EQ(resources::image_width(image), 100);
      expect_frame(image, 0, 0, references[at], c.set->transparent_colour, std::string(name) + " " + std::to_string(i));
    }
  }
  Composed variable = compose_file(folder + "/animated_loop_variable_delay.gif");
  EXPECT_EQ(std::vector<int>(variable.set->delays.begin() + 1, variable.set->delays.begin() + 5),
            (std::vector<int>{10, 10, 1, 10}));
}

TEST(GifCorpus, DamagedCopiesStayInsideTheBuffers) {
  // Every corpus file, cut at many lengths and with bits flipped, read
  // without a crash (the sanitizer build checks every access).
  std::vector<std::string> files;
  for (const char* folder : {"gif-generated", "gif-pygif", "gif-peterdn"}) {
    std::string path = test::testdata(folder);
    if (path.empty()) GTEST_SKIP() << "no corpora";
    for (const auto& entry : std::filesystem::directory_iterator(path))
      if (entry.path().extension() == ".gif") files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GT(files.size(), 100u);
  std::mt19937 random(1234);
  int reads = 0;
  for (const std::string& path : files) {
    const std::vector<std::uint8_t> original = test::read_bytes(path);
    compose(Bytes(original));
    const std::size_t cuts = std::min<std::size_t>(original.size(), 32);
    for (std::size_t i = 0; i < cuts; ++i, ++reads) {
      std::size_t length = original.size() * i / cuts;
      std::vector<std::uint8_t> cut(original.begin(), original.begin() + static_cast<long>(length));
      compose(Bytes(cut));
    }
    for (int i = 0; i < 16; ++i, ++reads) {
      std::vector<std::uint8_t> flipped = original;
      for (int k = 0; k < 1 + i % 4; ++k) {
        std::size_t at = random() % flipped.size();
        flipped[at] = static_cast<std::uint8_t>(flipped[at] ^ (1u << (random() % 8)));
      }
      compose(Bytes(flipped));
    }
  }
  EXPECT_GT(reads, 5000);
}

}  // namespace
}  // namespace vexa::imagefiles
