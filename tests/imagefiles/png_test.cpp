#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "imagefiles/png.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::ImageSet;
using resources::rgb;
using test::ByteList;

// --- a minimal PNG writer for hand-made files -----------------------------------

void put_be(ByteList& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

ByteList chunk(const std::string& type, const ByteList& data) {
  ByteList out;
  put_be(out, static_cast<std::uint32_t>(data.size()));
  ByteList typed(type.begin(), type.end());
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  put_be(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
  return out;
}

ByteList deflate(const ByteList& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  ByteList out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(size);
  return out;
}

const ByteList signature = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

struct TestPng {
  std::uint32_t width = 1, height = 1;
  int depth = 8, colour_type = 0, interlace = 0;
  ByteList plte = {}, trns = {};
  std::uint32_t gama = 0;              // 0: no gAMA chunk
  std::vector<ByteList> rows = {};     // unfiltered scanlines
  std::vector<ByteList> extra = {};    // chunks placed before IDAT

  ByteList scanlines() const {
    ByteList out;
    for (const ByteList& row : rows) {
      out.push_back(0);
      out.insert(out.end(), row.begin(), row.end());
    }
    return out;
  }
  ByteList file(const ByteList* idat = nullptr) const {
    ByteList out = signature, ihdr;
    put_be(ihdr, width);
    put_be(ihdr, height);
    ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0,
                             static_cast<std::uint8_t>(interlace)});
    auto add = [&](const ByteList& c) { out.insert(out.end(), c.begin(), c.end()); };
    add(chunk("IHDR", ihdr));
    if (gama != 0) {
      ByteList g;
      put_be(g, gama);
      add(chunk("gAMA", g));
    }
    if (!plte.empty()) add(chunk("PLTE", plte));
    if (!trns.empty()) add(chunk("tRNS", trns));
    for (const auto& c : extra) add(c);
    add(chunk("IDAT", idat != nullptr ? *idat : deflate(scanlines())));
    add(chunk("IEND", {}));
    return out;
  }
};

int read(ImageSet& set, const ByteList& bytes, int threshold = 128, int gamma = 0) {
  return test::read_with(read_png, set, bytes, threshold, gamma);
}

std::vector<Bgr> colour_table(const resources::Image& image) {
  std::vector<Bgr> table;
  for (std::uint32_t i = 0; i < image.colour_count; ++i) table.push_back(resources::colour_entry(image, static_cast<int>(i)));
  return table;
}

std::uint32_t clr_used(const resources::Image& image) { return resources::header_field(image, resources::dib::clr_used); }
// The stored pixel bytes, bottom row first, padding included.
ByteList stored(const resources::Image& image) { return ByteList(image.dib.begin() + image.pixels, image.dib.end()); }

const Bgr black = rgb(0, 0, 0), white = rgb(255, 255, 255);

// --- grey levels, palettes and depths ------------------------------------------------

TEST(PngReader, GreyDepthsGiveEvenlySpacedLevels) {
  ImageSet set;
  ASSERT_EQ(read(set, TestPng{.width = 5, .depth = 2, .rows = {{0b00011011, 0b10000000}}}.file()), 1);  // 0 1 2 3 2
  const auto& image = set.images[1];
  EXPECT_EQ(resources::bit_count(image), 4);
  EXPECT_EQ(clr_used(image), 4u);
  EXPECT_EQ(colour_table(image), (std::vector<Bgr>{black, rgb(85, 85, 85), rgb(170, 170, 170), white}));
  // The fifth pixel's right nibble and the row padding stay zero.
  EXPECT_EQ(stored(image), (ByteList{0x01, 0x23, 0x20, 0}));
  EXPECT_EQ(set.transparent, 0);
  // 1 bit: entry 0 black, entry 1 white, rows as they are, bits right of pixel 9 cleared.
  ASSERT_EQ(read(set, TestPng{.width = 10, .depth = 1, .rows = {{0b10110000, 0b01111111}}}.file()), 1);
  EXPECT_EQ(resources::bit_count(image), 1);
  EXPECT_EQ(colour_table(image), (std::vector<Bgr>{black, white}));
  EXPECT_EQ(clr_used(image), 2u);
  EXPECT_EQ(stored(image), (ByteList{0b10110000, 0b01000000, 0, 0}));
}

TEST(PngReader, PalettesAtEveryDepth) {
  // 1 bit and exactly black and white: 1 bit, pixels as they are.
  ImageSet set;
  const auto& image = set.images[1];
  TestPng png{.width = 3, .height = 2, .depth = 1, .colour_type = 3, .plte = {255, 255, 255, 0, 0, 0},
              .rows = {{0b10100000}, {0b01000000}}};
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(image), 1);
  EXPECT_EQ(test::colours_of(image), (std::vector<Bgr>{black, white, black, white, black, white}));
  // Red and white: a 4-bit image with two colours; the bottom row (0 1 0)
  // is stored first, then the top row (1 0 1).
  png.plte = {255, 0, 0, 255, 255, 255};
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(image), 4);
  EXPECT_EQ(clr_used(image), 2u);
  EXPECT_EQ(stored(image), (ByteList{0x01, 0x00, 0, 0, 0x10, 0x10, 0, 0}));
  png.plte = {0, 0, 0, 254, 254, 254};  // not exactly white
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::bit_count(image), 4);

  // Entries beyond what the depth addresses are dropped; missing ones are black.
  TestPng two{.width = 2, .depth = 2, .colour_type = 3, .plte = {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3, 4, 5, 6},
              .rows = {{0b00110000}}};
  ASSERT_EQ(read(set, two.file()), 1);
  EXPECT_EQ(clr_used(image), 4u);
  two.plte = {10, 20, 30, 40, 50, 60};  // index 3 used but the palette has 2 entries
  ASSERT_EQ(read(set, two.file()), 1);
  EXPECT_EQ(colour_table(image), (std::vector<Bgr>{rgb(10, 20, 30), rgb(40, 50, 60), black, black}));
  EXPECT_EQ(resources::pixel_value(image, 1, 0), 3u);
  // A PLTE of 300 entries is cut to the 256 an 8-bit index can reach.
  TestPng eight{.width = 2, .colour_type = 3, .plte = ByteList(900, 7), .rows = {{255, 0}}};
  ASSERT_EQ(read(set, eight.file()), 1);
  EXPECT_EQ(clr_used(image), 256u);
  eight.plte.clear();  // a palette image without PLTE has no colours
  EXPECT_EQ(read(set, eight.file()), 0);
  EXPECT_TRUE(resources::is_empty(image));
}

// --- transparency ----------------------------------------------------------------------

TEST(PngReader, PaletteTransparencyKeysTheFirstClearEntry) {
  ImageSet set;
  TestPng png{.width = 4, .colour_type = 3, .trns = {255, 255, 255, 255, 200, 0}, .rows = {{5, 1, 5, 7}}};
  for (int i = 0; i < 8; ++i) png.plte.insert(png.plte.end(), {static_cast<std::uint8_t>(30 * i), 0, 0});
  ASSERT_EQ(read(set, png.file()), 1);  // entry 5 alpha 0, the rest opaque
  EXPECT_EQ(test::values_of(set.images[1]), (std::vector<unsigned>{5, 1, 5, 7}));
  ASSERT_EQ(set.transparent, 1);
  // The first candidate of the unused-colour search, exact in 5-6-5.
  EXPECT_EQ(set.transparent_colour, rgb(0xAD, 0xFB, 0x5A));
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(resources::colour_entry(set.images[1], i), i == 5 ? set.transparent_colour : rgb(30 * i, 0, 0)) << i;

  // Several clear entries (1, 3, 5): all their pixels take the first one's index.
  png.trns = {255, 100, 255, 20, 255, 0};
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(test::values_of(set.images[1]), (std::vector<unsigned>{1, 1, 1, 7}));
  EXPECT_EQ(resources::colour_entry(set.images[1], 1), set.transparent_colour);
  EXPECT_EQ(resources::colour_entry(set.images[1], 5), rgb(150, 0, 0));  // no longer used, unchanged
  ASSERT_EQ(read(set, png.file(), 0), 1);  // threshold 0: nothing is below it
  EXPECT_EQ(set.transparent, 0);
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 5u);
  // A tRNS longer than 256 bytes keeps its first 256 alphas.
  png.trns.assign(300, 255);
  png.trns[7] = 0;
  ASSERT_EQ(read(set, png.file()), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 7), set.transparent_colour);

  // Black and white stays 1 bit; white transparent, then both clear (every
  // pixel becomes the key index 0).
  TestPng bw{.width = 4, .depth = 1, .colour_type = 3, .plte = {0, 0, 0, 255, 255, 255}, .trns = {255, 0},
             .rows = {{0b01100000}}};
  ASSERT_EQ(read(set, bw.file()), 1);
  EXPECT_EQ(resources::bit_count(set.images[1]), 1);
  EXPECT_EQ(stored(set.images[1]), (ByteList{0b01100000, 0, 0, 0}));
  EXPECT_EQ(set.transparent_colour, white);
  bw.trns = {0, 0};
  ASSERT_EQ(read(set, bw.file()), 1);
  EXPECT_EQ(stored(set.images[1]), ByteList(4, 0));
  EXPECT_EQ(set.transparent_colour, black);
}

TEST(PngReader, GreyAndRgbTransparency) {
  ImageSet set;
  const Bgr key = rgb(0, 255, 0);
  // 16-bit grey: tRNS compared by its high byte.
  ASSERT_EQ(read(set, TestPng{.width = 3, .depth = 16, .trns = {0x40, 0x99}, .rows = {{0x40, 0x00, 0x41, 0x00, 0x40, 0xFF}}}.file()), 1);
  ASSERT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, key);
  EXPECT_EQ(resources::colour_entry(set.images[1], 0x40), key);
  EXPECT_EQ(test::colours_of(set.images[1]), (std::vector<Bgr>{key, rgb(0x41, 0x41, 0x41), key}));
  // 2 bits: the value is the level's index; one beyond the levels, or a
  // tRNS too short for a grey value, matches nothing.
  TestPng small{.depth = 2, .trns = {0, 1}, .rows = {{0b01000000}}};
  ASSERT_EQ(read(set, small.file()), 1);
  EXPECT_EQ(resources::colour_entry(set.images[1], 1), key);
  for (ByteList trns : {ByteList{0, 4}, ByteList{0}}) {
    small.trns = trns;
    ASSERT_EQ(read(set, small.file()), 1);
    EXPECT_EQ(set.transparent, 0) << trns.size();
  }
  // The key is the tRNS colour itself (high bytes), not gamma-corrected.
  TestPng colour{.depth = 16, .colour_type = 2, .trns = {0x10, 0x11, 0x20, 0x22, 0x30, 0x33}, .gama = 45455,
                 .rows = {{0x10, 0, 0x20, 0, 0x30, 0}}};
  ASSERT_EQ(read(set, colour.file(), 128, 1), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(set.transparent_colour, rgb(0x10, 0x20, 0x30));
}

TEST(PngReader, AlphaBelowTheThresholdBecomesTheKeyColour) {
  ImageSet set;
  const TestPng png{.width = 3, .colour_type = 6, .rows = {{10, 20, 30, 127, 40, 50, 60, 128, 0xAD, 0xFB, 0x5A, 255}}};
  ASSERT_EQ(read(set, png.file()), 1);
  ASSERT_EQ(set.transparent, 1);
  // The image uses the first candidate, so the key is the second one.
  const Bgr key = rgb(0x73, 0xE3, 0x63);
  EXPECT_EQ(set.transparent_colour, key);
  EXPECT_EQ(test::colours_of(set.images[1]), (std::vector<Bgr>{key, rgb(40, 50, 60), rgb(0xAD, 0xFB, 0x5A)}));
  ASSERT_EQ(read(set, png.file(), 129), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 1, 0), key);
  // A fully opaque picture still gets a key colour (and the flag).
  ASSERT_EQ(read(set, TestPng{.colour_type = 4, .rows = {{77, 255}}}.file()), 1);
  EXPECT_EQ(set.transparent, 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(77, 77, 77));
}

// --- chunk rules -----------------------------------------------------------------------

TEST(PngReader, EveryChunkIsCheckedByItsCrc) {
  const ByteList good = TestPng{.rows = {{42}}, .extra = {chunk("tEXt", {'a', 0, 'b'}), chunk("zzZz", {})}}.file();
  ImageSet set;
  ASSERT_EQ(read(set, good), 1);
  EXPECT_EQ(resources::pixel_value(set.images[1], 0, 0), 42u);
  // Every byte of the ignored chunks after the IHDR (33 bytes from the
  // start): tEXt is 15 bytes, zzZz 12; and the IEND's CRC.
  for (std::size_t at = 33; at <= 33 + 15 + 12; ++at) {
    ByteList bad = good;
    bad[at == 33 + 15 + 12 ? good.size() - 1 : at] ^= 0x01;
    EXPECT_EQ(read(set, bad), 0) << "byte " << at;
    EXPECT_TRUE(resources::is_empty(set.images[1]));
  }
}

TEST(PngReader, HeaderStructureAndDataRules) {
  ImageSet set;
  const TestPng png{.width = 3, .height = 2, .rows = {{1, 2, 3}, {4, 5, 6}}};
  const ByteList data = png.scanlines(), file = png.file(), iend = chunk("IEND", {});
  std::vector<std::pair<std::string, ByteList>> bad;
  // Depth / colour type pairs the PNG format does not define.
  for (auto [type, depth] : {std::pair{2, 4}, {3, 16}, {4, 4}, {6, 1}, {0, 3}, {1, 8}, {5, 8}}) {
    TestPng odd = png;
    odd.colour_type = type;
    odd.depth = depth;
    odd.plte = {1, 2, 3};
    bad.emplace_back("type " + std::to_string(type) + " depth " + std::to_string(depth), odd.file());
  }
  for (std::uint32_t width : {0u, 65536u}) {
    TestPng odd = png;
    odd.width = width;
    bad.emplace_back("width " + std::to_string(width), odd.file());
  }
  bad.emplace_back("no IEND", ByteList(file.begin(), file.end() - 12));
  ByteList no_idat(file.begin(), file.begin() + 33);
  no_idat.insert(no_idat.end(), iend.begin(), iend.end());
  bad.emplace_back("no IDAT", no_idat);
  ByteList early = signature;  // IDAT before IHDR is ignored: no image data
  for (const ByteList& part : {chunk("IDAT", deflate(data)), ByteList(file.begin() + 8, file.begin() + 33), iend})
    early.insert(early.end(), part.begin(), part.end());
  bad.emplace_back("IDAT before IHDR", early);
  std::vector<std::pair<std::string, ByteList>> streams = {
      {"data short of the picture", deflate(ByteList(data.begin(), data.end() - 1))},
      {"stream cut short", deflate(data)},
      {"zlib compression method 9", deflate(data)},
      {"filter type 5", data}};
  streams[1].second.resize(4);
  streams[2].second[0] = 0x79;
  streams[3].second[4] = 5;
  streams[3].second = deflate(streams[3].second);
  for (const auto& [what, stream] : streams) bad.emplace_back(what, png.file(&stream));
  for (const auto& [what, bytes] : bad) EXPECT_EQ(read(set, bytes), 0) << what;

  // Extra bytes after the last scanline belong to no pixel; bytes after
  // IEND are not read.
  ByteList long_data = data;
  long_data.insert(long_data.end(), 1000, 0xEE);
  const ByteList long_stream = deflate(long_data);
  ASSERT_EQ(read(set, png.file(&long_stream)), 1);
  EXPECT_EQ(resources::pixel_value(set.images[1], 2, 1), 6u);
  ByteList trailing = file;
  trailing.push_back(0x55);
  EXPECT_EQ(read(set, trailing), 1);
}

TEST(PngReader, ImageDataSizeCountsFilterBytesAndAdam7Passes) {
  struct Case { std::uint32_t w, h; int bits; bool interlaced; std::uint64_t size; };
  const Case cases[] = {
      {8, 8, 8, false, 8 * 9},
      // passes of 8x8: 1x1, 1x1, 2x1, 2x2, 4x2, 4x4, 8x4 pixels
      {8, 8, 8, true, 2 + 2 + 3 + 2 * 3 + 2 * 5 + 4 * 5 + 4 * 9},
      {1, 1, 8, true, 2},  // only the first pass has a pixel
      // 3x2 at 1 bit: passes 1 (1x1), 4 (1x1 at column 2), 6 (1x1 at column 1), 7 (3x1)
      {3, 2, 1, true, 2 + 2 + 2 + 2},
      {65535, 1, 64, false, 1 + 65535u * 8},
  };
  for (const Case& c : cases) {
    std::uint64_t size = 0;
    ASSERT_TRUE(png_image_data_size(c.w, c.h, c.bits, c.interlaced, size)) << c.w << "x" << c.h;
    EXPECT_EQ(size, c.size) << c.w << "x" << c.h;
  }
  std::uint64_t size = 0;
  EXPECT_FALSE(png_image_data_size(65535, 65535, 64, false, size));  // beyond the memory bound
  EXPECT_FALSE(png_image_data_size(0, 5, 8, false, size));
  // An interlaced one-pixel file has one scanline of one pixel only.
  ImageSet set;
  ASSERT_EQ(read(set, TestPng{.colour_type = 2, .interlace = 1, .rows = {{7, 8, 9}}}.file()), 1);
  EXPECT_EQ(resources::pixel_colour(set.images[1], 0, 0), rgb(7, 8, 9));
}

// --- public corpora --------------------------------------------------------------------

// The chunk data of one type in a PNG file, or empty.
ByteList find_chunk(const ByteList& file, const std::string& type) {
  for (std::size_t at = 8; at + 12 <= file.size();) {
    std::uint32_t length = (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (at + 12 + length > file.size()) break;
    if (std::memcmp(&file[at + 4], type.data(), 4) == 0) return ByteList(file.begin() + at + 8, file.begin() + at + 8 + length);
    at += 12 + length;
  }
  return {};
}

// The bitmap depth a file must get: from its IHDR (and, for 1-bit
// palettes, whether the palette is exactly black and white).
int expected_bits(const ByteList& file) {
  int depth = file[24], type = file[25];
  if (type == 3 && depth == 1) {
    auto p = find_chunk(file, "PLTE");
    bool bw = p.size() == 6 && p[0] == p[1] && p[1] == p[2] && p[3] == p[4] && p[4] == p[5] &&
              ((p[0] == 0 && p[3] == 255) || (p[0] == 255 && p[3] == 0));
    return bw ? 1 : 4;
  }
  if (type == 0 && depth == 1) return 1;
  if (type == 0 || type == 3) return depth <= 4 ? 4 : 8;
  return 24;
}

std::vector<std::string> corpus(bool (*wanted)(char first), bool both_folders = true) {
  std::vector<std::string> files;
  for (const char* folder : {"pngsuite", "libpng-pngsuite"})
    if (both_folders || std::string(folder) == "pngsuite")
      for (const std::string& f : test::corpus_files(folder, ".png"))
        if (wanted(test::base_name(f)[0])) files.push_back(f);
  return files;
}

TEST(PngCorpus, EveryValidFileMatchesTheReferenceDecoder) {
  std::vector<std::string> files = corpus([](char c) { return c != 'x'; });
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  ASSERT_EQ(files.size(), 161u + 60u);
  auto reference = test::decode_reference(files);
  for (const std::string& path : files) {
    ByteList bytes = test::read_bytes(path);
    ImageSet set;
    ASSERT_EQ(read(set, bytes), 1) << path;
    test::expect_consistent(set, path);
    EXPECT_EQ(resources::bit_count(set.images[1]), expected_bits(bytes)) << path;
    EXPECT_EQ(resources::header_field(set.images[1], resources::dib::x_pels), 2500u) << path;
    ASSERT_TRUE(reference[path].ok) << path;
    EXPECT_EQ(test::compare_with_reference(set, reference[path], 128, test::same_colour, path), 0);
  }
}

TEST(PngCorpus, GammaFilesFollowTheirGamaChunkWhenSwitchedOn) {
  std::vector<std::string> files = corpus([](char c) { return c == 'g'; }, false);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  ASSERT_EQ(files.size(), 18u);
  auto reference = test::decode_reference(files);
  for (const std::string& path : files) {
    ByteList bytes = test::read_bytes(path);
    auto gama = find_chunk(bytes, "gAMA");
    ASSERT_EQ(gama.size(), 4u) << path;
    double g = (gama[0] << 24) | (gama[1] << 16) | (gama[2] << 8) | gama[3];
    auto corrected = [g](std::uint8_t v) {
      return g == 100000 ? v : static_cast<std::uint8_t>(static_cast<int>(255.0 * std::pow(v / 255.0, 100000.0 / g) + 0.5));
    };
    ImageSet set;
    ASSERT_EQ(read(set, bytes, 128, 1), 1) << path;
    EXPECT_EQ(test::compare_with_reference(
                  set, reference[path], 128,
                  [&](Bgr c) { return Bgr{corrected(c.blue), corrected(c.green), corrected(c.red)}; }, path),
              0);
  }
}

TEST(PngCorpus, EveryCorruptFileIsRejected) {
  std::vector<std::string> files = corpus([](char c) { return c == 'x'; }, false);
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  EXPECT_EQ(files.size(), 14u);
  for (const std::string& path : files) {
    ImageSet set;
    EXPECT_EQ(read(set, test::read_bytes(path)), 0) << path;
    EXPECT_TRUE(resources::is_empty(set.images[1])) << path;
  }
}

// Damaged copies are read as they are and with every chunk CRC made right
// again, so that the damage reaches the decoder instead of the CRC check.
void fix_crcs(ByteList& file) {
  for (std::size_t at = 8; at + 12 <= file.size();) {
    std::uint32_t length = (file[at] << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (length > file.size() - at - 12) break;
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, &file[at + 4], length + 4));
    for (int i = 0; i < 4; ++i) file[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

TEST(PngCorpus, DamagedCopiesNeverLeaveTheirBuffers) {
  std::vector<std::string> files = corpus([](char) { return true; });
  if (files.empty()) GTEST_SKIP() << "corpora not present";
  int loaded = 0, total = 0;
  for (const std::string& path : files)
    for (auto copy : test::damaged_copies(test::read_bytes(path), 24))
      for (bool fixed : {false, true}) {
        if (fixed) fix_crcs(copy);
        for (int gamma : {0, 1}) {
          ImageSet set;
          ++total;
          loaded += test::check_damaged_read(read(set, copy, 128, gamma), set, path);
        }
      }
  // Most damage is caught, but bit flips in pixel data leave valid files.
  EXPECT_GT(loaded, 0);
  EXPECT_LT(loaded, total);
}

}  // namespace
}  // namespace vexa::imagefiles
