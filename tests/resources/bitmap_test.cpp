#include <gtest/gtest.h>

#include <random>

#include "resources/bitmap.h"
#include "resources/image.h"

namespace vexa::resources {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A bitmap built byte by byte (40-byte header, the given colour table,
// zeroed rows), independent of create_image.
Image make_image(int width, int height, int bits, const std::vector<Bgr>& table = {}) {
  std::uint32_t stride = ((width * bits + 31) / 32) * 4;
  std::size_t table_bytes = bits <= 8 ? table.size() * 4 : (bits == 16 ? 12 : 0);
  Image image;
  image.dib.assign(40 + table_bytes + stride * height, 0);
  std::uint8_t* h = image.dib.data();
  put_u32(h, 40);
  put_u32(h + 4, static_cast<std::uint32_t>(width));
  put_u32(h + 8, static_cast<std::uint32_t>(height));
  put_u16(h + 12, 1);
  put_u16(h + 14, static_cast<std::uint16_t>(bits));
  put_u32(h + 16, bits == 16 ? 3 : 0);
  put_u32(h + 32, bits <= 8 ? static_cast<std::uint32_t>(table.size()) : 0);
  for (std::size_t i = 0; i < table.size() && bits <= 8; ++i) {
    h[40 + 4 * i] = table[i].blue;
    h[41 + 4 * i] = table[i].green;
    h[42 + 4 * i] = table[i].red;
  }
  if (bits == 16) {
    put_u32(h + 40, 0xF800);
    put_u32(h + 44, 0x07E0);
    put_u32(h + 48, 0x001F);
  }
  EXPECT_TRUE(refresh_layout(image));
  return image;
}

// Stores the bytes of picture row y (0 = top).
void set_row(Image& image, int y, const Bytes& bytes) {
  std::copy(bytes.begin(), bytes.end(), row_pointer(image, y));
}

Bytes encode_row(const Bytes& row, int unit) {
  Bytes out;
  std::size_t n = encode_rle_row(row.data(), row.size(), unit, out);
  EXPECT_EQ(n, out.size());
  return out;
}

// The module's side of the run-length code, to check the encoder against.
Bytes decode_rle(const Bytes& code, int unit) {
  Bytes row;
  std::size_t at = 0;
  while (at < code.size()) {
    int control = code[at++];
    std::size_t n = static_cast<std::size_t>(control & 0x7F) + 1;
    if (control & 0x80) {
      for (std::size_t i = 0; i < n; ++i) row.insert(row.end(), code.begin() + at, code.begin() + at + unit);
      at += unit;
    } else {
      row.insert(row.end(), code.begin() + at, code.begin() + at + n * unit);
      at += n * unit;
    }
  }
  return row;
}

Bytes block_of(const BitmapBlock& d) { return Bytes(d.block.begin(), d.block.begin() + d.block_size); }

TEST(RunLengthRow, TokenisesRepeatAndLiteralRuns) {
  const std::uint8_t A = 0x41, B = 0x42, C = 0x43;
  EXPECT_EQ(encode_row({A, A, A, B}, 1), (Bytes{0x82, A, 0x00, B}));
  EXPECT_EQ(encode_row({A, B, C}, 1), (Bytes{0x02, A, B, C}));
  EXPECT_EQ(encode_row({A, B, B}, 1), (Bytes{0x00, A, 0x81, B}));
  EXPECT_EQ(encode_row({A, B, C, C}, 1), (Bytes{0x01, A, B, 0x81, C}));
  EXPECT_EQ(encode_row({A, A, B, B}, 1), (Bytes{0x81, A, 0x81, B}));
  EXPECT_EQ(encode_row({A, A, B, C}, 1), (Bytes{0x81, A, 0x01, B, C}));
  EXPECT_EQ(encode_row({A, A}, 1), (Bytes{0x81, A}));
  EXPECT_EQ(encode_row({A}, 1), (Bytes{0x00, A}));
  EXPECT_EQ(encode_row(Bytes(300, 7), 1), (Bytes{0xFF, 7, 0xFF, 7, 0xAB, 7}));
}

TEST(RunLengthRow, SplitsLongLiteralRunsAndUsesWideUnits) {
  Bytes row;
  for (int i = 0; i < 129; ++i) row.push_back(static_cast<std::uint8_t>(i));
  Bytes code = encode_row(row, 1);
  ASSERT_EQ(code.size(), 131u);
  EXPECT_EQ(code[0], 0x7F);
  EXPECT_EQ(code[129], 0x00);  // the 129th unit is a chunk of its own
  EXPECT_EQ(code[130], 128);

  // 16-bit units 0x1234 0x1234 0x5678: compared as words, not bytes.
  EXPECT_EQ(encode_row({0x34, 0x12, 0x34, 0x12, 0x78, 0x56}, 2), (Bytes{0x81, 0x34, 0x12, 0x00, 0x78, 0x56}));
  // Bytes that repeat inside a unit do not form a run.
  EXPECT_EQ(encode_row({5, 5, 5, 5, 5, 6}, 3), (Bytes{0x01, 5, 5, 5, 5, 5, 6}));
  EXPECT_EQ(encode_row({1, 2, 3, 1, 2, 3, 1, 2, 3}, 3), (Bytes{0x82, 1, 2, 3}));
}

TEST(RunLengthRow, DecodesBackToTheRowForRandomRows) {
  std::mt19937 random(12345);
  for (int unit : {1, 2, 3}) {
    for (int trial = 0; trial < 400; ++trial) {
      std::size_t units = 1 + random() % 700;
      Bytes row;
      while (row.size() < units * unit) {
        // Short runs of a few values make both kinds of run frequent.
        Bytes value(unit);
        for (auto& b : value) b = static_cast<std::uint8_t>(random() % 3);
        std::size_t run = 1 + (random() % 4 == 0 ? random() % 300 : random() % 3);
        for (std::size_t i = 0; i < run && row.size() < units * unit; ++i) row.insert(row.end(), value.begin(), value.end());
      }
      Bytes code = encode_row(row, unit);
      ASSERT_EQ(decode_rle(code, unit), row) << "unit " << unit << " trial " << trial;
      ASSERT_LE(code.size(), 2 * row.size());
    }
  }
}

// An 8-bit picture 3 x 2 with a 4-entry table: black, red, green, blue.
ImageSet small_palette_set() {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  set.transparent = 1;
  set.transparent_colour = rgb(255, 0, 0);
  set.delays[1] = 5;
  set.images[1] = make_image(3, 2, 8, {rgb(0, 0, 0), rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255)});
  set_row(set.images[1], 0, {1, 2, 3});
  set_row(set.images[1], 1, {0, 0, 0});
  return set;
}

TEST(EncodeBitmap, PaletteImageRawAndCompressed) {
  const Bytes header = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 8, 1, 1, 4, 0, 3, 1, 1, 3, 0, 2, 0};
  const Bytes palette = {0x00, 0x00, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00};
  Bytes raw = header;
  raw.insert(raw.end(), palette.begin(), palette.end());
  for (int b : {3, 0, 2, 0, 38, 0, 0, 5, /* rows, top first */ 1, 2, 3, 0, 0, 0}) raw.push_back(static_cast<std::uint8_t>(b));

  ImageSet set = small_palette_set();
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  EXPECT_EQ(block_of(d), raw);
  EXPECT_EQ(d.block_size, 44u);
  EXPECT_EQ(d.palette, 22u);
  EXPECT_EQ(d.frame_table, 30u);
  EXPECT_EQ(d.image_data, 38u);

  // Automatic: 6 coded bytes do not beat 6 raw bytes minus a tenth.
  ASSERT_TRUE(encode_bitmap(set, d, 2, 1));
  EXPECT_EQ(block_of(d), raw);

  // Always: literal 3, then repeat 3; bit 7 of the delay byte marks the code.
  Bytes coded = raw;
  coded.resize(38);
  coded[37] = 0x85;
  for (int b : {0x02, 1, 2, 3, 0x82, 0}) coded.push_back(static_cast<std::uint8_t>(b));
  ASSERT_TRUE(encode_bitmap(set, d, 1, 1));
  EXPECT_EQ(block_of(d), coded);

  // The same set for 24-bit colour: three bytes per palette entry.
  BitmapBlock d24;
  d24.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(set, d24, 0, 1));
  Bytes expected = header;
  expected[8] = '2';
  expected[9] = '4';
  for (int b : {0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 3, 0, 2, 0, 42, 0, 0, 5, 1, 2, 3, 0, 0, 0})
    expected.push_back(static_cast<std::uint8_t>(b));
  EXPECT_EQ(block_of(d24), expected);
}

TEST(EncodeBitmap, PaletteTransparencyUsesTheLastMatchingEntry) {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  set.transparent = 1;
  set.transparent_colour = rgb(9, 9, 9);
  set.images[1] = make_image(2, 1, 4, {rgb(0, 0, 0), rgb(1, 1, 1), rgb(9, 9, 9), rgb(2, 2, 2), rgb(9, 9, 9)});
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  EXPECT_EQ(d.block[10], 4);
  EXPECT_EQ(d.block[11], 1);
  EXPECT_EQ(d.block[12], 4);
  EXPECT_EQ(d.block[13], 5);
  EXPECT_EQ(d.frame_table, 32u);

  // A key colour outside the table leaves nothing transparent.
  set.transparent_colour = rgb(9, 9, 8);
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  EXPECT_EQ(d.block[11], 0);
  EXPECT_EQ(d.block[12], 0);
}

TEST(EncodeBitmap, FullPaletteCountsAsZeroEntries) {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  ASSERT_TRUE(create_image(set.images[1], 1, 1, 8));  // default palette, 256 entries
  row_pointer(set.images[1], 0)[0] = 2;
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 2, 1));
  EXPECT_EQ(d.block[13], 0);
  EXPECT_EQ(d.frame_table, 534u);
  ASSERT_EQ(d.block_size, 543u);
  // Default entries 1 and 2 are blue and red.
  EXPECT_EQ(get_u16(&d.block[22 + 2]), 0x001F);
  EXPECT_EQ(get_u16(&d.block[22 + 4]), 0xF800);
  EXPECT_EQ(d.block[534], 1);
  EXPECT_EQ(get_u32(&d.block[538]) & 0xFFFFFF, 542u);
  EXPECT_EQ(d.block[542], 2);
}

TEST(EncodeBitmap, OneBitColoursOnlyWhenNotBlackAndWhite) {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  set.images[1] = make_image(10, 2, 1, {rgb(255, 0, 0), rgb(0, 0, 0)});
  set_row(set.images[1], 0, {0xAA, 0x80});
  set_row(set.images[1], 1, {0xFF, 0xC0});
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 2, 1));  // 2 bytes a row: never coded
  EXPECT_EQ(block_of(d), (Bytes{0x1B, 'U', 'L', 0x00, 0xF8, 0x00, 0x00, 'G', '1', '6', 1, 0, 1, 0, 0, 3, 1, 1, 10, 0,
                                2, 0, 10, 0, 2, 0, 30, 0, 0, 0, 0xAA, 0x80, 0xFF, 0xC0}));

  set.images[1] = make_image(10, 2, 1, {rgb(255, 255, 255), rgb(0, 0, 0)});
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  for (int i : {3, 4, 5, 6, 12}) EXPECT_EQ(d.block[i], 0) << i;

  set.images[1] = make_image(10, 2, 1, {rgb(0, 0, 0), rgb(255, 255, 254)});  // 0xFFFF after rounding
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  for (int i : {3, 4, 5, 6, 12}) EXPECT_EQ(d.block[i], 0) << i;
}

TEST(EncodeBitmap, GapsGetEmptyFrameEntries) {
  ImageSet set;
  set.first_number = 1;
  set.count = 5;
  const std::uint16_t words[] = {0x1234, 0x5678, 0x9ABC};
  const int slots[] = {1, 2, 5};
  for (int i = 0; i < 3; ++i) {
    set.images[slots[i]] = make_image(1, 1, 16);
    put_u16(row_pointer(set.images[slots[i]], 0), words[i]);
  }
  set.transparent_colour = rgb(200, 100, 50);  // written although not transparent
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 2, 1));
  Bytes expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 16, 0, 0x26, 0xCB, 0, 3, 1, 5, 1, 0, 1, 0,
                    1, 0, 1, 0, 62, 0, 0, 0,  // image 1
                    1, 0, 1, 0, 64, 0, 0, 0,  // image 2
                    0, 0, 0, 0, 0, 0, 0, 0,   // gap 3
                    0, 0, 0, 0, 0, 0, 0, 0,   // gap 4
                    1, 0, 1, 0, 66, 0, 0, 0,  // image 5
                    0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A};
  EXPECT_EQ(block_of(d), expected);
}

TEST(EncodeBitmap, TrueColourFramesWithMixedSizes) {
  ImageSet set;
  set.first_number = 1;
  set.count = 2;
  set.transparent_colour = rgb(3, 2, 1);
  set.delays[1] = 3;
  set.delays[2] = 0x85;  // only the low 7 bits are stored
  set.images[1] = make_image(4, 1, 24);
  set_row(set.images[1], 0, {10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30});
  set.images[2] = make_image(2, 2, 24);
  set_row(set.images[2], 0, {1, 2, 3, 4, 5, 6});
  set_row(set.images[2], 1, {7, 8, 9, 7, 8, 9});
  BitmapBlock d;
  d.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(set, d, 2, 1));
  // Image 1 (4 units a row) is coded: one repeat of 4. Image 2 has only 2
  // units a row and stays raw.
  Bytes expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '2', '4', 24, 0, 1, 2, 3, 0, 1, 2, 4, 0, 2, 0,
                    4, 0, 1, 0, 38, 0, 0, 0x83,
                    2, 0, 2, 0, 42, 0, 0, 0x05,
                    0x83, 10, 20, 30,
                    1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9};
  EXPECT_EQ(block_of(d), expected);
}

TEST(EncodeBitmap, AutomaticModeNeedsATenthSaved) {
  // 100 x 10 bytes raw. A row of k alternating literal bytes and a run of
  // 100 - k equal bytes codes to k + 3 bytes.
  auto make = [](int rows_of_89) {
    ImageSet set;
    set.first_number = 1;
    set.count = 1;
    set.images[1] = make_image(100, 10, 8, std::vector<Bgr>(8));
    for (int y = 0; y < 10; ++y) {
      int literal = y < rows_of_89 ? 86 : 87;
      Bytes row;
      for (int x = 0; x < 100; ++x) row.push_back(static_cast<std::uint8_t>(x < literal ? 1 + (x & 1) : 7));
      set_row(set.images[1], y, row);
    }
    return set;
  };
  ImageSet at_899 = make(1);
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(at_899, d, 2, 1));
  std::uint32_t data = d.image_data;
  EXPECT_EQ(d.block_size - data, 899u);
  EXPECT_EQ(d.block[d.frame_table + 7], 0x80);

  ImageSet at_900 = make(0);
  ASSERT_TRUE(encode_bitmap(at_900, d, 2, 1));
  EXPECT_EQ(d.block_size - data, 1000u);
  EXPECT_EQ(d.block[d.frame_table + 7], 0x00);

  // Forced coding keeps even a longer form: 100 x 1 alternating bytes.
  ImageSet worse;
  worse.first_number = 1;
  worse.count = 1;
  worse.images[1] = make_image(100, 1, 8, std::vector<Bgr>(4));
  Bytes row;
  for (int x = 0; x < 100; ++x) row.push_back(static_cast<std::uint8_t>(x & 1));
  set_row(worse.images[1], 0, row);
  ASSERT_TRUE(encode_bitmap(worse, d, 1, 1));
  EXPECT_EQ(d.block_size - d.image_data, 101u);
  EXPECT_EQ(d.block[d.frame_table + 7], 0x80);
}

TEST(EncodeBitmap, AutomaticModeSkipsNarrowRows) {
  // 8-bit, 2 pixels wide: 2 units a row, never coded even when it would pay.
  ImageSet narrow;
  narrow.first_number = 1;
  narrow.count = 1;
  narrow.images[1] = make_image(2, 50, 8, std::vector<Bgr>(2));
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(narrow, d, 2, 1));
  EXPECT_EQ(d.block_size - d.image_data, 100u);
  EXPECT_EQ(d.block[d.frame_table + 7], 0x00);

  // 16-bit, 3 pixels wide: 3 units a row, coded (a repeat of 3 words is 3
  // bytes against 6 raw).
  ImageSet wide;
  wide.first_number = 1;
  wide.count = 1;
  wide.images[1] = make_image(3, 50, 16);
  ASSERT_TRUE(encode_bitmap(wide, d, 2, 1));
  EXPECT_EQ(d.block_size - d.image_data, 150u);
  EXPECT_EQ(d.block[d.frame_table + 7], 0x80);
  EXPECT_EQ(d.block[d.image_data], 0x82);
}

TEST(EncodeBitmap, TrueColourIsStoredAs565ForTheModule) {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  set.images[1] = make_image(2, 1, 24);
  set_row(set.images[1], 0, {50, 100, 200, 255, 255, 255});  // (200,100,50) and white
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 0, 0));
  EXPECT_EQ(d.block[10], 16);
  EXPECT_EQ(Bytes(d.block.begin() + d.image_data, d.block.begin() + d.block_size), (Bytes{0x26, 0xCB, 0xFF, 0xFF}));
  EXPECT_EQ(bit_count(set.images[1]), 16);  // the set was converted in place
  EXPECT_TRUE(is_565(set.images[1]));

  // And back: a 5-6-5 image encoded for 24-bit colour is expanded.
  BitmapBlock d24;
  d24.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(set, d24, 0, 0));
  EXPECT_EQ(d24.block[10], 24);
  EXPECT_EQ(Bytes(d24.block.begin() + d24.image_data, d24.block.begin() + d24.block_size),
            (Bytes{0x31, 0x65, 0xCE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(bit_count(set.images[1]), 24);
}

TEST(EncodeBitmap, DitheringKeepsTheTransparentColourExact) {
  ImageSet set;
  set.first_number = 1;
  set.count = 1;
  set.transparent = 1;
  set.transparent_colour = rgb(13, 77, 141);
  set.images[1] = make_image(16, 4, 24);
  for (int y = 0; y < 4; ++y) {
    Bytes row;
    for (int x = 0; x < 16; ++x) {
      Bgr c = (x + y) % 3 == 0 ? set.transparent_colour : rgb(x * 13 + 3, y * 50 + 5, 141);
      row.insert(row.end(), {c.blue, c.green, c.red});
    }
    set_row(set.images[1], y, row);
  }
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(set, d, 0, 1));
  EXPECT_EQ(get_u16(&d.block[12]), pack_565(rgb(13, 77, 141)));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) {
      if ((x + y) % 3 != 0) continue;
      EXPECT_EQ(get_u16(&d.block[d.image_data + 32 * y + 2 * x]), pack_565(set.transparent_colour)) << x << "," << y;
    }
}

TEST(EncodeBitmap, RefusesSetsItCannotEncode) {
  ImageSet empty;
  BitmapBlock d;
  EXPECT_FALSE(encode_bitmap(empty, d, 2, 1));

  // Images of different depths would have rows of different lengths.
  ImageSet mixed;
  mixed.first_number = 1;
  mixed.count = 2;
  mixed.images[1] = make_image(4, 4, 8, std::vector<Bgr>(2));
  mixed.images[2] = make_image(4, 4, 1, std::vector<Bgr>(2));
  EXPECT_FALSE(encode_bitmap(mixed, d, 2, 1));

  // The second image would start beyond what a 24-bit offset can say.
  ImageSet big;
  big.first_number = 1;
  big.count = 2;
  ASSERT_TRUE(create_image(big.images[1], 4096, 4096, 8));
  ASSERT_TRUE(create_image(big.images[2], 1, 1, 8));
  EXPECT_FALSE(encode_bitmap(big, d, 0, 1));
  release_image(big.images[1]);
  ASSERT_TRUE(create_image(big.images[1], 4096, 4095, 8));  // ends just below 2^24
  EXPECT_TRUE(encode_bitmap(big, d, 0, 1));
}

}  // namespace
}  // namespace vexa::resources
