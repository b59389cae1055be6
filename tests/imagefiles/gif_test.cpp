// The GIF decoder on code streams no corpus holds: tables that fill up in
// frames so wide that the decoder's window of recent lines is left behind.
// Streams that lie (undefined codes, strings past the image, odd code sizes,
// data that end early), composition, key colours and delays are pinned by the
// img-gif-* projects, valid files by the corpus runs.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <unordered_map>

#include "imagefiles/gif.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using test::ByteList;

// A greedy LZW encoder, codes packed least significant bit first. With
// clear_when_full it sends a clear code when the table is full, otherwise it
// goes on with the full table.
ByteList lzw_encode(const ByteList& indices, int min_size, bool clear_when_full) {
  const int clear = 1 << min_size;
  int next = clear + 2, width = min_size + 1, bits = 0;
  std::uint32_t acc = 0;
  ByteList out;
  auto put = [&](int code) {
    acc |= static_cast<std::uint32_t>(code) << bits;
    for (bits += width; bits >= 8; bits -= 8, acc >>= 8) out.push_back(static_cast<std::uint8_t>(acc));
  };
  std::unordered_map<int, int> table;
  put(clear);
  int current = indices[0];
  for (std::size_t i = 1; i < indices.size(); ++i) {
    if (auto found = table.find(current << 8 | indices[i]); found != table.end()) {
      current = found->second;
      continue;
    }
    put(current);
    if (next < 4096) {
      table[current << 8 | indices[i]] = next++;
      if (next > (1 << width) && width < 12) ++width;
    }
    if (next == 4096 && clear_when_full) {
      put(clear);
      table.clear();
      next = clear + 2;
      width = min_size + 1;
    }
    current = indices[i];
  }
  put(current);
  put(clear + 1);
  if (bits > 0) out.push_back(static_cast<std::uint8_t>(acc));
  return out;
}

// The indices of the one image of a GIF: a screen of the image's size, a
// global table of `entries` colours, the codes in sub-blocks of 255 bytes.
ByteList decode(int width, int height, int entries, int min_size, const ByteList& lzw, int expected_result = 1) {
  const auto w = static_cast<std::uint8_t>(width), w8 = static_cast<std::uint8_t>(width >> 8);
  const auto h = static_cast<std::uint8_t>(height), h8 = static_cast<std::uint8_t>(height >> 8);
  ByteList file = {'G', 'I', 'F', '8', '9', 'a', w, w8, h, h8, 0x80, 0, 0};
  while ((2 << (file[10] & 7)) < entries) ++file[10];
  file.resize(file.size() + 3 * (2 << (file[10] & 7)));
  file.insert(file.end(), {0x2C, 0, 0, 0, 0, w, w8, h, h8, 0, static_cast<std::uint8_t>(min_size)});
  for (std::size_t at = 0; at < lzw.size(); at += 255) {
    const std::size_t n = std::min<std::size_t>(255, lzw.size() - at);
    file.push_back(static_cast<std::uint8_t>(n));
    file.insert(file.end(), lzw.begin() + static_cast<long>(at), lzw.begin() + static_cast<long>(at + n));
  }
  file.insert(file.end(), {0, 0x3B});
  auto gif = std::make_unique<GifImageSet>();
  EXPECT_EQ(read_gif_file(*gif, Bytes(file)), expected_result);
  if (expected_result != 1) return {};
  const std::vector<unsigned> v = test::values_of(gif->frames[0].image);
  return ByteList(v.begin(), v.end());
}

// Runs of repeated and random indices, so that strings of every length occur.
ByteList noise(std::size_t n, int modulo, unsigned seed) {
  std::mt19937 random(seed);
  ByteList v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(random() % 3 == 0 && i > 0 ? v[i - 1] : random() % modulo);
  return v;
}

TEST(GifDecode, FullTablesRoundTrip) {
  // Rows with and without padding; the 4-bit frame of 9001 pixels is so
  // wide that its early lines leave the decoder's window of recent lines
  // while codes still refer to them.
  struct Case { int min_size, width, height; };
  for (Case c : {Case{2, 9001, 40}, {2, 301, 97}, {5, 300, 97}, {8, 301, 97}})
    for (bool clear_when_full : {true, false}) {
      const ByteList pixels = noise(static_cast<std::size_t>(c.width * c.height), 1 << c.min_size,
                                    static_cast<unsigned>(c.min_size + c.width));
      EXPECT_EQ(decode(c.width, c.height, 1 << c.min_size, c.min_size, lzw_encode(pixels, c.min_size, clear_when_full)),
                pixels)
          << c.min_size << " " << c.width << " " << clear_when_full;
    }
}

TEST(GifDecode, HugeFramesAreRefused) {
  // A frame larger than any image may be is refused before allocation.
  decode(65535, 65535, 4, 2, {0x2C}, 0);  // clear, end
}

}  // namespace
}  // namespace vexa::imagefiles
