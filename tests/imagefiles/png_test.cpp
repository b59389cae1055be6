#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "imagefiles/dispatch.h"
#include "imagefiles/png.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::ImageSet;
using resources::rgb;

// --- a minimal PNG writer for hand-made files -----------------------------------

void put_be(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

std::vector<std::uint8_t> chunk(const std::string& type, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  put_be(out, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  put_be(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  return out;
}

std::vector<std::uint8_t> deflate(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

struct TestPng {
  std::uint32_t width = 1;
  std::uint32_t height = 1;
  int depth = 8;
  int colour_type = 0;
  int interlace = 0;
  std::vector<std::uint8_t> plte;
  std::vector<std::uint8_t> trns;
  std::uint32_t gama = 0;  // 0: no gAMA chunk
  std::vector<std::uint8_t> scanlines;  // filter bytes included
  std::vector<std::vector<std::uint8_t>> extra;  // chunks placed before IDAT

  // One unfiltered scanline.
  TestPng& row(std::vector<std::uint8_t> bytes) {
    scanlines.push_back(0);
    scanlines.insert(scanlines.end(), bytes.begin(), bytes.end());
    return *this;
  }

  std::vector<std::uint8_t> file(const std::vector<std::uint8_t>* idat = nullptr) const {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    std::vector<std::uint8_t> ihdr;
    put_be(ihdr, width);
    put_be(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0,
                             static_cast<std::uint8_t>(interlace)});
    auto add = [&](const std::vector<std::uint8_t>& c) { out.insert(out.end(), c.begin(), c.end()); };
    add(chunk("IHDR", ihdr));
    if (gama != 0) {
      std::vector<std::uint8_t> g;
      put_be(g, gama);
      add(chunk("gAMA", g));
    }
    if (!plte.empty()) add(chunk("PLTE", plte));
    if (!trns.empty()) add(chunk("tRNS", trns));
    for (const auto& c : extra) add(c);
    add(chunk("IDAT", idat != nullptr ? *idat : deflate(scanlines)));
    add(chunk("IEND", {}));
    return out;
  }
};

int read(ImageSet& set, const std::vector<std::uint8_t>& bytes, int threshold = 128, int gamma = 0) {
  ReadOptions options;
  options.alpha_threshold = threshold;
  options.gamma = gamma;
  return read_png(set, Bytes(bytes.data(), bytes.size()), options);
}

std::vector<Bgr> colour_table(const resources::Image& image) {
  std::vector<Bgr> table;
  for (std::uint32_t i = 0; i < image.colour_count; ++i) table.push_back(resources::colour_entry(image, static_cast<int>(i)));
  return table;
}

std::uint32_t clr_used(const resources::Image& image) { return resources::header_field(image, resources::dib::clr_used); }

// --- grey levels, palettes and depths ------------------------------------------------

TEST(PngReader, GreyDepthsGiveEvenlySpacedLevels) {
  ImageSet set;
  TestPng two;
  two.width = 5;
  two.depth = 2;
  two.row({0b00011011, 0b10000000});  // samples 0 1 2 3 2
  ASSERT_EQ(read(set, two.file()), 1);
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 4);
  EXPECT_EQ(clr_used(image), 4u);
  EXPECT_EQ(colour_table(image),
            (std::vector<Bgr>{rgb(0, 0, 0), rgb(85, 85, 85), rgb(170, 170, 170), rgb(255, 255, 255)}));
  for (int x = 0; x < 5; ++x) EXPECT_EQ(resources::pixel_value(image, x, 0), std::vector<unsigned>({0, 1, 2, 3, 2})[x]);
  // Row padding stays zero: the fifth pixel's right nibble and bytes 3..4.
  EXPECT_EQ(image.dib[image.pixels + 2], 0x20);
  EXPECT_EQ(image.dib[image.pixels + 3], 0);
  EXPECT_EQ(set.transparent, 0);

  TestPng one;  // 1-bit grey: entry 0 black, entry 1 white, rows taken as they are
  one.width = 10;
  one.depth = 1;
  one.row({0b10110000, 0b01111111});
  ASSERT_EQ(read(set, one.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 1);
  EXPECT_EQ(colour_table(set.images[1]), (std::vector<Bgr>{rgb(0, 0, 0), rgb(255, 255, 255)}));
  EXPECT_EQ(clr_used(set.images[1]), 2u);
  EXPECT_EQ(set.images[1].dib[set.images[1].pixels], 0b10110000);
  EXPECT_EQ(set.images[1].dib[set.images[1].pixels + 1], 0b01000000);  // bits right of pixel 9 cleared
}

TEST(PngReader, OneBitPaletteIsOneBitOnlyWhenExactlyBlackAndWhite) {
  ImageSet set;
  TestPng png;
  png.width = 3;
  png.height = 2;
  png.depth = 1;
  png.colour_type = 3;
  png.plte = {255, 255, 255, 0, 0, 0};
  png.row({0b10100000}).row({0b01000000});
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 1);
  EXPECT_EQ(colour_table(set.images[1]), (std::vector<Bgr>{rgb(255, 255, 255), rgb(0, 0, 0)}));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(0, 0, 0));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 1), rgb(0, 0, 0));

  png.plte = {255, 0, 0, 255, 255, 255};  // red and white: a 4-bit image with two colours
  ASSERT_EQ(read(set, png.file()), 1);
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 4);
  EXPECT_EQ(clr_used(image), 2u);
  EXPECT_EQ(colour_table(image), (std::vector<Bgr>{rgb(255, 0, 0), rgb(255, 255, 255)}));
  // The bottom row (0 1 0) is stored first, then the top row (1 0 1); the
  // nibble right of the third pixel is padding.
  EXPECT_EQ(image.dib[image.pixels], 0x01);
  EXPECT_EQ(image.dib[image.pixels + 1], 0x00);
  EXPECT_EQ(image.dib[image.pixels + image.row_stride], 0x10);
  EXPECT_EQ(image.dib[image.pixels + image.row_stride + 1], 0x10);

  png.plte = {0, 0, 0, 254, 254, 254};  // not exactly white
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 4);
}

TEST(PngReader, PaletteEntriesBeyondTheDepthAreDroppedAndMissingOnesAreBlack) {
  ImageSet set;
  TestPng png;
  png.width = 2;
  png.depth = 2;
  png.colour_type = 3;
  png.plte = {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3, 4, 5, 6};  // 5 entries, 2 bits address 4
  png.row({0b00110000});
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(clr_used(set.images[1]), 4u);

  png.plte = {10, 20, 30, 40, 50, 60};  // index 3 used but the palette has 2 entries
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(colour_table(set.images[1]),
            (std::vector<Bgr>{rgb(10, 20, 30), rgb(40, 50, 60), rgb(0, 0, 0), rgb(0, 0, 0)}));
  EXPECT_EQ(resources::pixel_value(set.images[1], 1, 0), 3u);

  // A PLTE of 300 entries is cut to the 256 an 8-bit index can reach.
  png.depth = 8;
  png.plte.assign(900, 7);
  png.scanlines.clear();
  png.row({255, 0});
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(clr_used(set.images[1]), 256u);
  EXPECT_EQ(resources::bit_count(set.images[1]), 8);

  png.plte.clear();  // a palette image without PLTE has no colours
  EXPECT_EQ(read(set, png.file()), 0);
  EXPECT_TRUE(resources::is_empty(set.images[1]));
}

TEST(PngReader, TrueColourPixelsAreStoredBlueGreenRedBottomUp) {
  ImageSet set;
  TestPng png;
  png.width = 2;
  png.height = 2;
  png.colour_type = 2;
  png.row({1, 2, 3, 4, 5, 6}).row({7, 8, 9, 10, 11, 12});
  ASSERT_EQ(read(set, png.file()), 1);
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 24);
  EXPECT_EQ(image.row_stride, 8u);
  const std::uint8_t* stored = image.dib.data() + image.pixels;
  EXPECT_EQ(std::vector<std::uint8_t>(stored, stored + 16),
            (std::vector<std::uint8_t>{9, 8, 7, 12, 11, 10, 0, 0, 3, 2, 1, 6, 5, 4, 0, 0}));
  EXPECT_EQ(resources::header_field(image, resources::dib::x_pels), 2500u);
}

// --- transparency ----------------------------------------------------------------------

TEST(PngReader, PaletteTransparencyKeysTheFirstClearEntry) {
  ImageSet set;
  TestPng png;
  png.width = 4;
  png.colour_type = 3;
  for (int i = 0; i < 8; ++i) png.plte.insert(png.plte.end(), {static_cast<std::uint8_t>(30 * i), 0, 0});
  png.trns = {255, 255, 255, 255, 200, 0};  // entry 5 alpha 0, the rest opaque
  png.row({5, 1, 5, 7});
  ASSERT_EQ(read(set, png.file()), 1);
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 8);
  EXPECT_EQ(resources::pixel_value(image, 0, 0), 5u);
  EXPECT_EQ(resources::pixel_value(image, 2, 0), 5u);
  ASSERT_EQ(set.transparent, 1);
  // The first candidate of the unused-colour search, exact in 5-6-5.
  EXPECT_EQ(set.transparent_colour, rgb(0xAD, 0xFB, 0x5A));
  EXPECT_EQ(resources::colour_entry(image, 5), set.transparent_colour);
  for (int i = 0; i < 8; ++i) {
    if (i != 5) {
      EXPECT_EQ(resources::colour_entry(image, i), rgb(30 * i, 0, 0));
    }
  }

  // Several clear entries: all their pixels take the first one's index.
  png.trns = {255, 100, 255, 20, 255, 0};
  ASSERT_EQ(read(set, png.file()), 1);  // pixels 5 1 5 7; entries 1, 3, 5 are below 128
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 1u);
  EXPECT_EQ(resources::pixel_value(set.images[1], 1, 0), 1u);
  EXPECT_EQ(resources::pixel_value(set.images[1], 3, 0), 7u);
  EXPECT_EQ(resources::colour_entry(set.images[1], 1), set.transparent_colour);
  EXPECT_EQ(resources::colour_entry(set.images[1], 5), rgb(150, 0, 0));  // no longer used, unchanged

  // Threshold 0: nothing is below it.
  ASSERT_EQ(read(set, png.file(), 0), 1);
  EXPECT_EQ(set.transparent, 0);
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 5u);

  // A tRNS longer than 256 bytes keeps its first 256 alphas.
  png.trns.assign(300, 255);
  png.trns[7] = 0;
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 7), set.transparent_colour);
}

TEST(PngReader, BlackAndWhitePaletteWithTransparencyStaysOneBit) {
  ImageSet set;
  TestPng png;
  png.width = 4;
  png.depth = 1;
  png.colour_type = 3;
  png.plte = {0, 0, 0, 255, 255, 255};
  png.trns = {255, 0};  // white is transparent
  png.row({0b01100000});
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 1);
  EXPECT_EQ(set.images[1].dib[set.images[1].pixels], 0b01100000);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, rgb(255, 255, 255));

  png.trns = {0, 0};  // both clear: every pixel becomes the key index 0
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(set.images[1].dib[set.images[1].pixels], 0);
  EXPECT_EQ(set.transparent_colour, rgb(0, 0, 0));
}

TEST(PngReader, GreyAndRgbTransparency) {
  ImageSet set;
  TestPng grey;
  grey.width = 3;
  grey.depth = 16;
  grey.trns = {0x40, 0x99};  // compared by its high byte
  grey.row({0x40, 0x00, 0x41, 0x00, 0x40, 0xFF});
  ASSERT_EQ(read(set, grey.file()), 1);
  ASSERT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, rgb(0, 255, 0));
  EXPECT_EQ(resources::colour_entry(set.images[1], 0x40), rgb(0, 255, 0));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(0, 255, 0));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), rgb(0x41, 0x41, 0x41));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 2, 0), rgb(0, 255, 0));

  TestPng small;  // 2-bit: the value is the level's index; one beyond the levels matches nothing
  small.depth = 2;
  small.row({0b01000000});
  small.trns = {0, 1};
  ASSERT_EQ(read(set, small.file()), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 1), rgb(0, 255, 0));
  small.trns = {0, 4};
  ASSERT_EQ(read(set, small.file()), 1);
  EXPECT_EQ(set.transparent, 0);
  small.trns = {0};  // too short for a grey value: ignored
  ASSERT_EQ(read(set, small.file()), 1);
  EXPECT_EQ(set.transparent, 0);

  TestPng colour;
  colour.colour_type = 2;
  colour.depth = 16;
  colour.gama = 45455;
  colour.trns = {0x10, 0x11, 0x20, 0x22, 0x30, 0x33};
  colour.row({0x10, 0, 0x20, 0, 0x30, 0});
  ASSERT_EQ(read(set, colour.file(), 128, 1), 1);
  EXPECT_EQ(set.transparent, 1);
  // The key is the tRNS colour itself (high bytes), not gamma-corrected;
  // the pixels are left unchanged apart from gamma.
  EXPECT_EQ(set.transparent_colour, rgb(0x10, 0x20, 0x30));
}

TEST(PngReader, AlphaBelowTheThresholdBecomesTheKeyColour) {
  ImageSet set;
  TestPng png;
  png.width = 3;
  png.colour_type = 6;
  png.row({10, 20, 30, 127, 40, 50, 60, 128, 0xAD, 0xFB, 0x5A, 255});
  ASSERT_EQ(read(set, png.file()), 1);
  ASSERT_EQ(set.transparent, 1);
  // The image uses the first candidate, so the key is the second one.
  EXPECT_EQ(set.transparent_colour, rgb(0x73, 0xE3, 0x63));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), set.transparent_colour);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), rgb(40, 50, 60));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 2, 0), rgb(0xAD, 0xFB, 0x5A));

  ASSERT_EQ(read(set, png.file(), 129), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), set.transparent_colour);

  // A fully opaque picture still gets a key colour (and the flag).
  TestPng opaque;
  opaque.colour_type = 4;
  opaque.row({77, 255});
  ASSERT_EQ(read(set, opaque.file()), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(77, 77, 77));
}

// --- gamma --------------------------------------------------------------------------

TEST(PngReader, GammaAppliesOnlyWhenSwitchedOn) {
  auto corrected = [](int v) { return static_cast<int>(255.0 * std::pow(v / 255.0, 100000.0 / 45455) + 0.5); };
  ImageSet set;
  TestPng png;
  png.colour_type = 2;
  png.width = 2;
  png.gama = 45455;
  png.row({0, 64, 128, 200, 254, 255});
  ASSERT_EQ(read(set, png.file(), 128, 1), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(0, corrected(64), corrected(128)));
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), rgb(corrected(200), corrected(254), 255));
  EXPECT_EQ(corrected(128), 56);  // hand check of the formula: 255 * (128/255)^2.2 + 0.5

  ASSERT_EQ(read(set, png.file(), 128, 0), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(0, 64, 128));
  png.gama = 100000;
  ASSERT_EQ(read(set, png.file(), 128, 1), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(0, 64, 128));

  TestPng palette;  // palette entries and grey levels pass through the table too
  palette.colour_type = 3;
  palette.gama = 45455;
  palette.plte = {128, 64, 200};
  palette.row({0});
  ASSERT_EQ(read(set, palette.file(), 128, 1), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 0), rgb(corrected(128), corrected(64), corrected(200)));
  TestPng grey;
  grey.depth = 2;
  grey.gama = 45455;
  grey.row({0});
  ASSERT_EQ(read(set, grey.file(), 128, 1), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 1), rgb(corrected(85), corrected(85), corrected(85)));
}

// --- chunk rules -----------------------------------------------------------------------

TEST(PngReader, EveryChunkIsCheckedByItsCrc) {
  TestPng png;
  png.extra.push_back(chunk("tEXt", {'a', 0, 'b'}));
  png.extra.push_back(chunk("zzZz", {}));
  png.row({42});
  std::vector<std::uint8_t> good = png.file();
  ImageSet set;
  ASSERT_EQ(read(set, good), 1);
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 42u);
  // Every byte of the ignored chunks (length, type, data, CRC) after the
  // IHDR (33 bytes from the start): tEXt is 15 bytes, zzZz 12.
  for (std::size_t at = 33; at < 33 + 15 + 12; ++at) {
    std::vector<std::uint8_t> bad = good;
    bad[at] ^= 0x01;
    EXPECT_EQ(read(set, bad), 0) << "byte " << at;
    EXPECT_TRUE(resources::is_empty(set.images[1]));
  }
  std::vector<std::uint8_t> bad_iend = good;
  bad_iend.back() ^= 0x80;
  EXPECT_EQ(read(set, bad_iend), 0);
}

TEST(PngReader, HeaderAndStructureRules) {
  ImageSet set;
  TestPng png;
  png.row({1});
  // Depth / colour type pairs the PNG format does not define are rejected.
  for (auto [type, depth] : {std::pair{2, 4}, {3, 16}, {4, 4}, {6, 1}, {0, 3}, {1, 8}, {5, 8}}) {
    TestPng odd = png;
    odd.colour_type = type;
    odd.depth = depth;
    odd.plte = {1, 2, 3};
    EXPECT_EQ(read(set, odd.file()), 0) << type << "/" << depth;
  }
  TestPng zero = png;
  zero.width = 0;
  EXPECT_EQ(read(set, zero.file()), 0);
  TestPng huge = png;
  huge.width = 65536;
  EXPECT_EQ(read(set, huge.file()), 0);

  // No IEND after the data, and IEND without data, fail.
  std::vector<std::uint8_t> file = png.file();
  EXPECT_EQ(read(set, std::vector<std::uint8_t>(file.begin(), file.end() - 12)), 0);
  std::vector<std::uint8_t> no_idat(file.begin(), file.begin() + 33);
  auto iend = chunk("IEND", {});
  no_idat.insert(no_idat.end(), iend.begin(), iend.end());
  EXPECT_EQ(read(set, no_idat), 0);
  // IDAT before IHDR is ignored: the file then has no image data.
  std::vector<std::uint8_t> early = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  auto idat = chunk("IDAT", deflate({0, 1}));
  early.insert(early.end(), idat.begin(), idat.end());
  early.insert(early.end(), file.begin() + 8, file.begin() + 33);
  early.insert(early.end(), iend.begin(), iend.end());
  EXPECT_EQ(read(set, early), 0);
  // Bytes after IEND are not read.
  file.push_back(0x55);
  EXPECT_EQ(read(set, file), 1);
}

TEST(PngReader, DecompressedDataMustCoverThePicture) {
  ImageSet set;
  TestPng png;
  png.width = 3;
  png.height = 2;
  png.row({1, 2, 3}).row({4, 5, 6});
  std::vector<std::uint8_t> short_data(png.scanlines.begin(), png.scanlines.end() - 1);
  std::vector<std::uint8_t> stream = deflate(short_data);
  EXPECT_EQ(read(set, png.file(&stream)), 0);
  // Extra bytes after the last scanline belong to no pixel and are dropped.
  std::vector<std::uint8_t> long_data = png.scanlines;
  long_data.insert(long_data.end(), 1000, 0xEE);
  stream = deflate(long_data);
  ASSERT_EQ(read(set, png.file(&stream)), 1);
  EXPECT_EQ(resources::pixel_value(set.images[1], 2, 1), 6u);
  // A stream cut short, or one with a damaged zlib header, fails.
  stream = deflate(png.scanlines);
  stream.resize(4);
  EXPECT_EQ(read(set, png.file(&stream)), 0);
  stream = deflate(png.scanlines);
  stream[0] = 0x79;  // compression method 9
  EXPECT_EQ(read(set, png.file(&stream)), 0);
  // A filter type above 4 fails.
  TestPng bad = png;
  bad.scanlines[4] = 5;
  EXPECT_EQ(read(set, bad.file()), 0);
}

TEST(PngReader, ImageDataSizeCountsFilterBytesAndAdam7Passes) {
  std::uint64_t size = 0;
  ASSERT_TRUE(png_image_data_size(8, 8, 8, false, size));
  EXPECT_EQ(size, 8u * 9);
  // Passes of an 8x8 image: 1x1, 1x1, 2x1, 2x2, 4x2, 4x4, 8x4 pixels.
  ASSERT_TRUE(png_image_data_size(8, 8, 8, true, size));
  EXPECT_EQ(size, 2u + 2 + 3 + 2 * 3 + 2 * 5 + 4 * 5 + 4 * 9);
  ASSERT_TRUE(png_image_data_size(1, 1, 8, true, size));
  EXPECT_EQ(size, 2u);  // only the first pass has a pixel
  // 3x2 at 1 bit: passes 1 (1x1), 4 (1x1 at column 2), 6 (1x1 at column 1), 7 (3x1).
  ASSERT_TRUE(png_image_data_size(3, 2, 1, true, size));
  EXPECT_EQ(size, 2u + 2 + 2 + 2);
  ASSERT_TRUE(png_image_data_size(65535, 1, 64, false, size));
  EXPECT_EQ(size, 1u + 65535u * 8);
  EXPECT_FALSE(png_image_data_size(65535, 65535, 64, false, size));  // beyond the memory bound
  EXPECT_FALSE(png_image_data_size(0, 5, 8, false, size));
}

TEST(PngReader, InterlacedOnePixelImageUsesOnlyTheFirstPass) {
  ImageSet set;
  TestPng one;
  one.interlace = 1;
  one.colour_type = 2;
  one.row({7, 8, 9});
  ASSERT_EQ(read(set, one.file()), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(7, 8, 9));
  // Exactly one scanline of one pixel: a reader that expected the empty
  // passes too would find the data short.
}

// --- public corpora --------------------------------------------------------------------

// The chunk data of one type in a PNG file, or empty.
std::vector<std::uint8_t> find_chunk(const std::vector<std::uint8_t>& file, const std::string& type) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    std::uint32_t length = (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (at + 12 + length > file.size()) break;
    if (std::memcmp(&file[at + 4], type.data(), 4) == 0)
      return std::vector<std::uint8_t>(file.begin() + at + 8, file.begin() + at + 8 + length);
    at += 12 + length;
  }
  return {};
}

// The bitmap depth a file must get: from its IHDR (and, for 1-bit
// palettes, whether the palette is exactly black and white).
int expected_bits(const std::vector<std::uint8_t>& file) {
  int depth = file[24], type = file[25];
  if (type == 0) return depth == 1 ? 1 : depth <= 4 ? 4 : 8;
  if (type == 3) {
    if (depth == 1) {
      auto plte = find_chunk(file, "PLTE");
      bool bw = plte.size() == 6 && plte[0] == plte[1] && plte[1] == plte[2] && plte[3] == plte[4] &&
                plte[4] == plte[5] && ((plte[0] == 0 && plte[3] == 255) || (plte[0] == 255 && plte[3] == 0));
      return bw ? 1 : 4;
    }
    return depth <= 4 ? 4 : 8;
  }
  return 24;
}

std::vector<std::string> valid_corpus_files() {
  std::vector<std::string> files;
  for (const char* folder : {"pngsuite", "libpng-pngsuite"})
    for (const std::string& f : test::corpus_files(folder, ".png"))
      if (test::base_name(f)[0] != 'x') files.push_back(f);
  return files;
}

TEST(PngCorpus, EveryValidFileMatchesTheReferenceDecoder) {
  std::vector<std::string> files = valid_corpus_files();
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  ASSERT_EQ(files.size(), 161u + 60u);
  auto reference = test::decode_reference(files);
  for (const std::string& path : files) {
    std::vector<std::uint8_t> bytes = test::read_bytes(path);
    ImageSet set;
    ASSERT_EQ(read(set, bytes), 1) << path;
    test::expect_consistent(set, path);
    EXPECT_EQ(resources::bit_count(set.images[1]), expected_bits(bytes)) << path;
    const auto& ref = reference[path];
    ASSERT_TRUE(ref.ok) << path;
    EXPECT_EQ(test::compare_with_reference(set, ref, 128, test::same_colour, path), 0);
  }
}

TEST(PngCorpus, GammaFilesFollowTheirGamaChunkWhenSwitchedOn) {
  std::vector<std::string> files;
  for (const std::string& f : test::corpus_files("pngsuite", ".png"))
    if (test::base_name(f)[0] == 'g') files.push_back(f);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  ASSERT_EQ(files.size(), 18u);
  auto reference = test::decode_reference(files);
  for (const std::string& path : files) {
    std::vector<std::uint8_t> bytes = test::read_bytes(path);
    auto gama = find_chunk(bytes, "gAMA");
    ASSERT_EQ(gama.size(), 4u) << path;
    double g = (gama[0] << 24) | (gama[1] << 16) | (gama[2] << 8) | gama[3];
    auto corrected = [g](std::uint8_t v) {
      return g == 100000 ? v : static_cast<std::uint8_t>(static_cast<int>(255.0 * std::pow(v / 255.0, 100000.0 / g) + 0.5));
    };
    ImageSet set;
    ASSERT_EQ(read(set, bytes, 128, 1), 1) << path;
    EXPECT_EQ(test::compare_with_reference(set, reference[path], 128,
                                           [&](Bgr c) { return Bgr{corrected(c.blue), corrected(c.green), corrected(c.red)}; },
                                           path),
              0);
  }
}

TEST(PngCorpus, EveryCorruptFileIsRejected) {
  std::vector<std::string> files;
  for (const std::string& f : test::corpus_files("pngsuite", ".png"))
    if (test::base_name(f)[0] == 'x') files.push_back(f);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  EXPECT_EQ(files.size(), 14u);
  for (const std::string& path : files) {
    ImageSet set;
    EXPECT_EQ(read(set, test::read_bytes(path)), 0) << path;
    EXPECT_TRUE(resources::is_empty(set.images[1])) << path;
  }
}

// Damaged copies with every chunk CRC made right again, so that the damage
// reaches the decoder instead of stopping at the CRC check.
void fix_crcs(std::vector<std::uint8_t>& file) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    std::uint32_t length = (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (length > file.size() - at - 12) break;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &file[at + 4], length + 4));
    for (int i = 0; i < 4; ++i) file[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

TEST(PngCorpus, DamagedCopiesNeverLeaveTheirBuffers) {
  std::vector<std::string> files;
  for (const char* folder : {"pngsuite", "libpng-pngsuite"})
    for (const std::string& f : test::corpus_files(folder, ".png")) files.push_back(f);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  int loaded = 0, total = 0;
  for (const std::string& path : files) {
    for (auto copy : test::damaged_copies(test::read_bytes(path), 24)) {
      for (bool fixed : {false, true}) {
        if (fixed) fix_crcs(copy);
        for (int gamma : {0, 1}) {
          ImageSet set;
          ++total;
          if (read(set, copy, 128, gamma) == 1) {
            ++loaded;
            test::expect_consistent(set, path);
          } else {
            EXPECT_TRUE(resources::is_empty(set.images[1]));
          }
        }
      }
    }
  }
  // Most damage is caught, but bit flips in pixel data leave valid files.
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, total);
}

}  // namespace
}  // namespace vexa::imagefiles
