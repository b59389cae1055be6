// The bitmap block encoder: whole blocks worked out byte by byte from the
// block layout, and the run-length code checked against the module's decoder.
#include <gtest/gtest.h>

#include <random>

#include "resources/bitmap.h"
#include "resources/image.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A bitmap with zeroed rows, built byte by byte from the file format.
Image make_image(int width, int height, int bits, const std::vector<Bgr>& table = {}) {
  test::BmpSpec spec;
  spec.width = width;
  spec.height = height;
  spec.bits = bits;
  spec.table = table;
  if (bits == 16) {
    spec.compression = 3;
    spec.masks = {0xF800, 0x07E0, 0x001F};
  }
  spec.pixels.assign(static_cast<std::size_t>((width * bits + 31) / 32 * 4 * height), 0);
  return test::image_of_bmp(test::bmp_file(spec));
}

// Stores the bytes of picture rows from the top one on.
void set_rows(Image& image, const std::vector<Bytes>& rows) {
  for (std::size_t y = 0; y < rows.size(); ++y) std::copy(rows[y].begin(), rows[y].end(), row_pointer(image, static_cast<int>(y)));
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

TEST(RunLengthRow, TokenisesRunsOfUnits) {
  const std::uint8_t A = 0x41, B = 0x42, C = 0x43;
  Bytes counting;
  for (int i = 0; i < 129; ++i) counting.push_back(static_cast<std::uint8_t>(i));
  Bytes split = {0x7F};  // 128 literal units, then the 129th in a chunk of its own
  split.insert(split.end(), counting.begin(), counting.begin() + 128);
  split.insert(split.end(), {0x00, 128});
  const struct {
    Bytes row;
    int unit;
    Bytes code;
  } cases[] = {
      {{A, A, A, B}, 1, {0x82, A, 0x00, B}},
      {{A, B, C}, 1, {0x02, A, B, C}},
      {{A, B, B}, 1, {0x00, A, 0x81, B}},
      {{A, B, C, C}, 1, {0x01, A, B, 0x81, C}},
      {{A, A, B, B}, 1, {0x81, A, 0x81, B}},
      {{A, A, B, C}, 1, {0x81, A, 0x01, B, C}},
      {{A}, 1, {0x00, A}},
      {Bytes(300, 7), 1, {0xFF, 7, 0xFF, 7, 0xAB, 7}},
      {counting, 1, split},
      // Units are compared whole, not byte by byte.
      {{0x34, 0x12, 0x34, 0x12, 0x78, 0x56}, 2, {0x81, 0x34, 0x12, 0x00, 0x78, 0x56}},
      {{5, 5, 5, 5, 5, 6}, 3, {0x01, 5, 5, 5, 5, 5, 6}},
      {{1, 2, 3, 1, 2, 3, 1, 2, 3}, 3, {0x82, 1, 2, 3}},
  };
  for (const auto& c : cases) EXPECT_EQ(encode_row(c.row, c.unit), c.code) << "row of " << c.row.size() << " bytes";
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

// A set of one image numbered 1.
std::unique_ptr<ImageSet> one(Image image) { return test::set_of({std::move(image)}); }

TEST(EncodeBitmap, PaletteImageRawAndCompressed) {
  // An 8-bit picture 3 x 2 with a 4-entry table: black, red, green, blue.
  auto set = one(make_image(3, 2, 8, {rgb(0, 0, 0), rgb(255, 0, 0), rgb(0, 255, 0), rgb(0, 0, 255)}));
  set->transparent = 1;
  set->transparent_colour = rgb(255, 0, 0);
  set->delays[1] = 5;
  set_rows(set->images[1], {{1, 2, 3}, {0, 0, 0}});
  const Bytes header = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '1', '6', 8, 1, 1, 4, 0, 3, 1, 1, 3, 0, 2, 0};
  Bytes raw = header;
  for (int b : {0x00, 0x00, 0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, /* frame */ 3, 0, 2, 0, 38, 0, 0, 5,
                /* rows, top first */ 1, 2, 3, 0, 0, 0})
    raw.push_back(static_cast<std::uint8_t>(b));
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 0, 1));
  EXPECT_EQ(block_of(d), raw);
  EXPECT_EQ((std::vector<std::uint32_t>{d.palette, d.frame_table, d.image_data}), (std::vector<std::uint32_t>{22, 30, 38}));

  // Automatic: 6 coded bytes do not beat 6 raw bytes minus a tenth.
  ASSERT_TRUE(encode_bitmap(*set, d, 2, 1));
  EXPECT_EQ(block_of(d), raw);

  // Always: literal 3, then repeat 3; bit 7 of the delay byte marks the code.
  Bytes coded(raw.begin(), raw.begin() + 38);
  coded[37] = 0x85;
  coded.insert(coded.end(), {0x02, 1, 2, 3, 0x82, 0});
  ASSERT_TRUE(encode_bitmap(*set, d, 1, 1));
  EXPECT_EQ(block_of(d), coded);

  // The same set for 24-bit colour: three bytes per palette entry.
  BitmapBlock d24;
  d24.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(*set, d24, 0, 1));
  Bytes expected = header;
  expected[8] = '2';
  expected[9] = '4';
  expected.insert(expected.end(), {0, 0, 0, 0, 0, 255, 0, 255, 0, 255, 0, 0, 3, 0, 2, 0, 42, 0, 0, 5, 1, 2, 3, 0, 0, 0});
  EXPECT_EQ(block_of(d24), expected);
}

TEST(EncodeBitmap, PaletteTransparencyUsesTheLastMatchingEntry) {
  auto set = one(make_image(2, 1, 4, {rgb(0, 0, 0), rgb(1, 1, 1), rgb(9, 9, 9), rgb(2, 2, 2), rgb(9, 9, 9)}));
  set->transparent = 1;
  set->transparent_colour = rgb(9, 9, 9);
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 0, 1));
  EXPECT_EQ(Bytes(d.block.begin() + 10, d.block.begin() + 14), (Bytes{4, 1, 4, 5}));
  EXPECT_EQ(d.frame_table, 32u);
  // A key colour outside the table leaves nothing transparent.
  set->transparent_colour = rgb(9, 9, 8);
  ASSERT_TRUE(encode_bitmap(*set, d, 0, 1));
  EXPECT_EQ(Bytes(d.block.begin() + 11, d.block.begin() + 13), (Bytes{0, 0}));
}

TEST(EncodeBitmap, FullPaletteCountsAsZeroEntries) {
  Image image;
  ASSERT_TRUE(create_image(image, 1, 1, 8));  // default palette, 256 entries
  row_pointer(image, 0)[0] = 2;
  auto set = one(std::move(image));
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 2, 1));
  EXPECT_EQ(d.block[13], 0);
  ASSERT_EQ(d.block_size, 543u);
  // Default entries 1 and 2 are blue and red; the frame table follows the
  // 512 palette bytes.
  EXPECT_EQ(get_u16(&d.block[22 + 2]), 0x001F);
  EXPECT_EQ(get_u16(&d.block[22 + 4]), 0xF800);
  EXPECT_EQ(Bytes(d.block.begin() + 534, d.block.begin() + d.block_size), (Bytes{1, 0, 1, 0, 30, 2, 0, 0, 2}));
}

TEST(EncodeBitmap, OneBitColoursOnlyWhenNotBlackAndWhite) {
  auto set = one(make_image(10, 2, 1, {rgb(255, 0, 0), rgb(0, 0, 0)}));
  set_rows(set->images[1], {{0xAA, 0x80}, {0xFF, 0xC0}});
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 2, 1));  // 2 bytes a row: never coded
  EXPECT_EQ(block_of(d), (Bytes{0x1B, 'U', 'L', 0x00, 0xF8, 0x00, 0x00, 'G', '1', '6', 1, 0, 1, 0, 0, 3, 1, 1, 10, 0,
                                2, 0, 10, 0, 2, 0, 30, 0, 0, 0, 0xAA, 0x80, 0xFF, 0xC0}));
  // White and black, also after rounding to 0xFFFF, store no colours.
  for (const Bgr light : {rgb(255, 255, 255), rgb(255, 255, 254)}) {
    set->images[1] = make_image(10, 2, 1, {light, rgb(0, 0, 0)});
    ASSERT_TRUE(encode_bitmap(*set, d, 0, 1));
    for (int i : {3, 4, 5, 6, 12}) EXPECT_EQ(d.block[i], 0) << i;
  }
}

TEST(EncodeBitmap, GapsGetEmptyFrameEntries) {
  auto set = test::set_of({make_image(1, 1, 16), make_image(1, 1, 16), Image{}, Image{}, make_image(1, 1, 16)});
  put_u16(row_pointer(set->images[1], 0), 0x1234);
  put_u16(row_pointer(set->images[2], 0), 0x5678);
  put_u16(row_pointer(set->images[5], 0), 0x9ABC);
  set->transparent_colour = rgb(200, 100, 50);  // written although not transparent
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 2, 1));
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
  auto set = test::set_of({make_image(4, 1, 24), make_image(2, 2, 24)});
  set->transparent_colour = rgb(3, 2, 1);
  set->delays[1] = 3;
  set->delays[2] = 0x85;  // only the low 7 bits are stored
  set_rows(set->images[1], {{10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30}});
  set_rows(set->images[2], {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 7, 8, 9}});
  BitmapBlock d;
  d.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(*set, d, 2, 1));
  // Image 1 (4 units a row) is coded: one repeat of 4. Image 2 has only 2
  // units a row and stays raw.
  Bytes expected = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G', '2', '4', 24, 0, 1, 2, 3, 0, 1, 2, 4, 0, 2, 0,
                    4, 0, 1, 0, 38, 0, 0, 0x83,
                    2, 0, 2, 0, 42, 0, 0, 0x05,
                    0x83, 10, 20, 30,
                    1, 2, 3, 4, 5, 6, 7, 8, 9, 7, 8, 9};
  EXPECT_EQ(block_of(d), expected);
}

TEST(EncodeBitmap, WhenRowsAreCoded) {
  // 100 x 10 bytes raw. A row of k alternating literal bytes and a run of
  // 100 - k equal bytes codes to k + 3 bytes: 899 bytes are coded, 1000 not.
  auto rows_of = [](int literal_89, int literal_90) {
    auto set = one(make_image(100, 10, 8, std::vector<Bgr>(8)));
    for (int y = 0; y < 10; ++y) {
      int literal = y < 1 ? literal_89 : literal_90;
      Bytes row;
      for (int x = 0; x < 100; ++x) row.push_back(static_cast<std::uint8_t>(x < literal ? 1 + (x & 1) : 7));
      std::copy(row.begin(), row.end(), row_pointer(set->images[1], y));
    }
    return set;
  };
  Image alternating = make_image(100, 1, 8, std::vector<Bgr>(4));
  for (int x = 0; x < 100; ++x) row_pointer(alternating, 0)[x] = static_cast<std::uint8_t>(x & 1);
  const struct {
    const char* name;
    std::unique_ptr<ImageSet> set;
    int mode;
    std::uint32_t data_bytes;
    int flag;
  } cases[] = {
      {"a tenth saved", rows_of(86, 87), 2, 899, 0x80},
      {"less than a tenth", rows_of(87, 87), 2, 1000, 0x00},
      // Forced coding keeps even a longer form.
      {"forced", one(std::move(alternating)), 1, 101, 0x80},
      // 2 units a row are never coded, even when it would pay; 3 units are
      // (a repeat of 3 words is 3 bytes against 6).
      {"2 units", one(make_image(2, 50, 8, std::vector<Bgr>(2))), 2, 100, 0x00},
      {"3 units", one(make_image(3, 50, 16)), 2, 150, 0x80},
  };
  for (const auto& c : cases) {
    BitmapBlock d;
    ASSERT_TRUE(encode_bitmap(*c.set, d, c.mode, 1)) << c.name;
    EXPECT_EQ(d.block_size - d.image_data, c.data_bytes) << c.name;
    EXPECT_EQ(d.block[d.frame_table + 7], c.flag) << c.name;
  }
}

TEST(EncodeBitmap, TrueColourIsStoredAs565ForTheModule) {
  auto set = one(make_image(2, 1, 24));
  set_rows(set->images[1], {{50, 100, 200, 255, 255, 255}});  // (200,100,50) and white
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 0, 0));
  EXPECT_EQ(d.block[10], 16);
  EXPECT_EQ(Bytes(d.block.begin() + d.image_data, d.block.begin() + d.block_size), (Bytes{0x26, 0xCB, 0xFF, 0xFF}));
  EXPECT_TRUE(is_565(set->images[1]));  // the set was converted in place

  // And back: a 5-6-5 image encoded for 24-bit colour is expanded.
  BitmapBlock d24;
  d24.colour_format = colour_format_24;
  ASSERT_TRUE(encode_bitmap(*set, d24, 0, 0));
  EXPECT_EQ(d24.block[10], 24);
  EXPECT_EQ(Bytes(d24.block.begin() + d24.image_data, d24.block.begin() + d24.block_size),
            (Bytes{0x31, 0x65, 0xCE, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(bit_count(set->images[1]), 24);
}

TEST(EncodeBitmap, DitheringKeepsTheTransparentColourExact) {
  const Bgr key = rgb(13, 77, 141);
  test::Rows rows(4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x) rows[y].push_back((x + y) % 3 == 0 ? key : rgb(x * 13 + 3, y * 50 + 5, 141));
  auto set = one(test::picture(rows));
  set->transparent = 1;
  set->transparent_colour = key;
  BitmapBlock d;
  ASSERT_TRUE(encode_bitmap(*set, d, 0, 1));
  EXPECT_EQ(get_u16(&d.block[12]), pack_565(key));
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 16; ++x)
      if ((x + y) % 3 == 0) {
        EXPECT_EQ(get_u16(&d.block[d.image_data + 32 * y + 2 * x]), pack_565(key)) << x << "," << y;
      }
}

TEST(EncodeBitmap, RefusesSetsItCannotEncode) {
  ImageSet empty;
  BitmapBlock d;
  EXPECT_FALSE(encode_bitmap(empty, d, 2, 1));
  // Images of different depths would have rows of different lengths.
  auto mixed = test::set_of({make_image(4, 4, 8, std::vector<Bgr>(2)), make_image(4, 4, 1, std::vector<Bgr>(2))});
  EXPECT_FALSE(encode_bitmap(*mixed, d, 2, 1));
  // The second image would start beyond what a 24-bit offset can say.
  auto big = test::set_of({Image{}, Image{}});
  ASSERT_TRUE(create_image(big->images[1], 4096, 4096, 8));
  ASSERT_TRUE(create_image(big->images[2], 1, 1, 8));
  EXPECT_FALSE(encode_bitmap(*big, d, 0, 1));
  release_image(big->images[1]);
  ASSERT_TRUE(create_image(big->images[1], 4096, 4095, 8));  // ends just below 2^24
  EXPECT_TRUE(encode_bitmap(*big, d, 0, 1));
}

}  // namespace
}  // namespace vexa::resources
