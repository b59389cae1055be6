#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "imagefiles/native.h"
#include "reader_test_support.h"

namespace vexa::imagefiles {
namespace {

using resources::Bgr;
using resources::Image;
using resources::ImageSet;
using resources::rgb;
using test::ByteList;
using Rows = std::vector<std::string>;

Bytes bytes_of(const ByteList& file) { return Bytes(file.data(), file.size()); }

void append(ByteList& out, std::initializer_list<int> values) {
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
}

ByteList joined(ByteList head, const ByteList& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The set is large; tests keep it on the heap.
std::unique_ptr<ImageSet> new_set() { return std::make_unique<ImageSet>(); }

// The stored bytes of picture row y, padding included.
ByteList stored_row(const Image& image, int y) {
  const std::uint8_t* p = resources::row_pointer(image, y);
  return ByteList(p, p + image.row_stride);
}

// --- BLH and BLV ---------------------------------------------------------------

TEST(ReadBlhBlv, RowsAndBandsPlainAndBehindTheImageCommand) {
  // BLH, width 9, height 10: two bytes per row, the leftmost pixel in bit 7.
  // Row 2 sets all nine pixels and the seven padding bits after them, which
  // must not reach the image.
  ByteList data(20, 0);
  data[0] = data[1] = 0x80;  // row 0: pixels 0 and 8
  data[2] = 0x01;            // row 1: pixel 7
  data[4] = data[5] = 0xFF;  // row 2: pixels 0-8 and padding
  data[19] = 0x80;           // row 9: pixel 8
  const ByteList plain = joined({9, 10}, data), command = joined({0x1B, 'U', 'L', 0x33, 0x44, 9, 10}, data);
  auto set = new_set();
  ASSERT_EQ(read_blh(*set, bytes_of(plain), {}), 1);
  const Image& image = set->images[1];
  EXPECT_EQ(resources::bit_count(image), 1);
  EXPECT_EQ(resources::colour_entry(image, 0), rgb(255, 255, 255));
  EXPECT_EQ(resources::colour_entry(image, 1), rgb(0, 0, 0));
  EXPECT_EQ(resources::header_field(image, resources::dib::x_pels), 2500u);
  Rows rows(10, ".........");
  rows[0] = "#.......#";
  rows[1] = ".......#.";
  rows[2] = "#########";
  rows[9] = "........#";
  EXPECT_EQ(test::mono_rows(image), rows);
  EXPECT_EQ(stored_row(image, 2), (ByteList{0xFF, 0x80, 0, 0}));
  // The same data behind the module's image command: width and height at 5, 6.
  auto again = new_set();
  ASSERT_EQ(read_blh(*again, bytes_of(command), {}), 1);
  EXPECT_EQ(again->images[1].dib, image.dib);

  // One byte more or less, an empty side, and a command head cut short (not
  // read as a plain head) fail and leave slot 1 empty.
  std::vector<ByteList> bad = {plain, plain, command, command, {0, 10}, {9, 0}, {9}, {0x1B, 'U', 'L', 0, 0, 1}};
  bad[0].push_back(0);
  bad[1].pop_back();
  bad[2].push_back(0);
  bad[3].pop_back();
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(read_blh(*again, bytes_of(bad[i]), {}), 0) << i;
    EXPECT_TRUE(resources::is_empty(again->images[1]));
  }

  // BLV, width 3, height 9: bands of eight rows, the top pixel in bit 0.
  // Byte 3 (second band, first column) bit 0 is pixel (0, 8); its bit 1
  // would be row 9, which the picture does not have.
  ByteList blv = {3, 9, 0x01, 0x80, 0x00, 0x03, 0x00, 0x00};
  ASSERT_EQ(read_blv(*set, bytes_of(blv), {}), 1);
  EXPECT_EQ(test::mono_rows(set->images[1]), (Rows{"#..", "...", "...", "...", "...", "...", "...", ".#.", "#.."}));
  ASSERT_EQ(read_blv(*again, bytes_of(joined({0x1B, 'U', 'L', 0, 0}, blv)), {}), 1);
  EXPECT_EQ(again->images[1].dib, set->images[1].dib);
  blv.pop_back();
  EXPECT_EQ(read_blv(*again, bytes_of(blv), {}), 0);
  append(blv, {0, 0});
  EXPECT_EQ(read_blv(*again, bytes_of(blv), {}), 0);
}

// --- BH7 -------------------------------------------------------------------------

ByteList bh7(int width, int height, int bits, int entries, std::initializer_list<int> rest) {
  ByteList file = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'B', 'H', '7'};
  append(file, {width & 0xFF, width >> 8, height & 0xFF, height >> 8, bits, entries});
  append(file, rest);
  return file;
}

TEST(ReadBh7, EveryDepthGetsItsTableAndRowsAsStored) {
  auto set = new_set();
  // 8 bits with count 0: 256 entries of red, green, blue; top row first.
  ByteList eight = bh7(2, 2, 8, 0, {});
  for (int i = 0; i < 256; ++i) append(eight, {i, 255 - i, i / 2});
  append(eight, {0, 255, 1, 2});
  ASSERT_EQ(read_bh7(*set, bytes_of(eight), {}), 1);
  const Image& image = set->images[1];
  EXPECT_EQ(image.colour_count, 256u);
  EXPECT_EQ(resources::header_field(image, resources::dib::clr_used), 0u);
  EXPECT_EQ(resources::colour_entry(image, 200), rgb(200, 55, 100));
  EXPECT_EQ(test::values_of(image), (std::vector<unsigned>{0, 255, 1, 2}));
  EXPECT_EQ(stored_row(image, 1), (ByteList{1, 2, 0, 0}));  // stored first, padded to 4
  for (int change : {1, -1}) {
    ByteList other = eight;
    if (change > 0) other.push_back(0); else other.pop_back();
    EXPECT_EQ(read_bh7(*set, bytes_of(other), {}), 0) << change;
    EXPECT_TRUE(resources::is_empty(set->images[1]));
  }

  // 4 bits, three entries: a short table (biClrUsed 3), rows of 2 bytes.
  ASSERT_EQ(read_bh7(*set, bytes_of(bh7(3, 2, 4, 3, {255, 0, 0, 0, 255, 0, 0, 0, 255, 0x12, 0x00, 0x20, 0x10})), {}), 1);
  EXPECT_EQ(resources::header_field(image, resources::dib::clr_used), 3u);
  EXPECT_EQ(resources::header_field(image, resources::dib::clr_important), 3u);
  EXPECT_EQ(test::values_of(image), (std::vector<unsigned>{1, 2, 0, 2, 0, 1}));
  EXPECT_EQ(resources::colour_entry(image, 2), rgb(0, 0, 255));
  EXPECT_EQ(image.pixels, 40u + 12u);
  // 1 bit: no table in the file whatever byte 15 says; white/black.
  ASSERT_EQ(read_bh7(*set, bytes_of(bh7(10, 1, 1, 7, {0xA5, 0xC0})), {}), 1);
  EXPECT_EQ(test::mono_rows(image), Rows{"#.#..#.###"});
  EXPECT_EQ(resources::colour_entry(image, 0), rgb(255, 255, 255));
  // 16 bits: 5-6-5 bit fields, words copied.
  ASSERT_EQ(read_bh7(*set, bytes_of(bh7(1, 2, 16, 0, {0x00, 0xF8, 0x1F, 0x00})), {}), 1);
  EXPECT_TRUE(resources::is_565(image));
  EXPECT_EQ(test::colours_of(image), (std::vector<Bgr>{rgb(255, 0, 0), rgb(0, 0, 255)}));
  // 24 bits: blue, green, red as stored, no table.
  const ByteList true_colour = bh7(1, 1, 24, 0, {10, 20, 30});
  ASSERT_EQ(read_bh7(*set, bytes_of(true_colour), {}), 1);
  EXPECT_EQ(image.pixels, 40u);
  EXPECT_EQ(resources::pixel_colour(image, 0, 0), rgb(30, 20, 10));

  // Depths the module does not show, a wrong signature, an empty side, a cut head.
  ByteList signature = true_colour;
  signature[9] = '8';
  for (const ByteList& file : {bh7(4, 1, 2, 0, {0}), signature, bh7(0, 5, 24, 0, {}), ByteList(12, 'B')})
    EXPECT_EQ(read_bh7(*set, bytes_of(file), {}), 0) << file.size();
}

// --- G16 / G24 -------------------------------------------------------------------

struct Frame {
  int width = 0, height = 0, offset = 0, flags = 0;
};

ByteList block_head(const char* colour, int bits, int transparent, ByteList key, int first, int last) {
  ByteList file = {0x1B, 'U', 'L', 0, 0, 0, 0, 'G'};
  append(file, {colour[0], colour[1], bits, transparent, key[0], key[1], key[2], 0, first, last, 0, 0, 0, 0});
  return file;
}

void append_frames(ByteList& file, const std::vector<Frame>& frames) {
  for (const Frame& f : frames)
    append(file, {f.width & 0xFF, f.width >> 8, f.height & 0xFF, f.height >> 8, f.offset & 0xFF, (f.offset >> 8) & 0xFF,
                  f.offset >> 16, f.flags});
}

// An 8-bit "16" block, numbers 3 to 5: image 3 raw 2x2 with delay 5, number 4
// a gap (width 0), image 5 6x2 run-length coded with delay 127. Palette of
// two 5-6-5 words, index 1 transparent.
ByteList eight_bit_block() {
  ByteList file = block_head("16", 8, 1, {1, 2, 0}, 3, 5);
  append(file, {0x00, 0xF8, 0xE0, 0x07});  // red, green
  const int data = 22 + 4 + 3 * 8;
  append_frames(file, {{2, 2, data, 0x05}, {0, 0, 0, 0x33}, {6, 2, data + 4, 0x80 | 0x7F}});
  append(file, {0, 1, 1, 0});                          // image 3: rows top first
  append(file, {0x85, 0x01});                          // row 0: six times 1
  append(file, {0x02, 0x00, 0x01, 0x00, 0x82, 0x01});  // row 1: 0 1 0, then 1 three times
  return file;
}

TEST(ReadG16, EveryDepthWithGapsDelaysAndRuns) {
  auto set = new_set();
  ASSERT_EQ(read_g16(*set, bytes_of(eight_bit_block())), 1);
  EXPECT_EQ(set->first_number, 3);
  EXPECT_EQ(set->count, 3);
  EXPECT_EQ(set->transparent, 1);
  EXPECT_EQ(set->transparent_colour, rgb(0, 255, 0));
  EXPECT_TRUE(resources::is_empty(set->images[4]));
  EXPECT_EQ((std::vector<int>{set->delays[3], set->delays[4], set->delays[5]}), (std::vector<int>{5, 0, 127}));
  const Image& three = set->images[3];
  EXPECT_EQ(resources::bit_count(three), 8);
  EXPECT_EQ(resources::header_field(three, resources::dib::clr_used), 2u);
  EXPECT_EQ(resources::colour_entry(three, 0), rgb(255, 0, 0));
  EXPECT_EQ(stored_row(three, 0), (ByteList{0, 1, 0, 0}));
  EXPECT_EQ(stored_row(three, 1), (ByteList{1, 0, 0, 0}));
  EXPECT_EQ(stored_row(set->images[5], 0), (ByteList{1, 1, 1, 1, 1, 1, 0, 0}));
  EXPECT_EQ(stored_row(set->images[5], 1), (ByteList{0, 1, 0, 1, 1, 1, 0, 0}));

  // A "24" block of 4 bits: palette entries of blue, green, red; transparent
  // index 2 of three entries.
  ByteList four = block_head("24", 4, 1, {2, 3, 0}, 1, 1);
  append(four, {1, 2, 3, 4, 5, 6, 7, 8, 9});
  append_frames(four, {{3, 1, 22 + 9 + 8, 0}});
  append(four, {0x12, 0x00});
  ASSERT_EQ(read_g16(*set, bytes_of(four)), 1);
  EXPECT_EQ(set->transparent_colour, (Bgr{7, 8, 9}));
  EXPECT_EQ(set->images[1].colour_count, 3u);
  EXPECT_EQ(test::values_of(set->images[1]), (std::vector<unsigned>{1, 2, 0}));

  // 16 bits: a unit is a word; 0x81 repeats one word twice. Transparent
  // colour from the word at 12.
  ByteList sixteen = block_head("16", 16, 1, {0x1F, 0x00, 0x77}, 7, 7);
  append_frames(sixteen, {{3, 1, 22 + 8, 0x80}});
  append(sixteen, {0x81, 0x00, 0xF8, 0x00, 0xE0, 0x07});
  ASSERT_EQ(read_g16(*set, bytes_of(sixteen)), 1);
  EXPECT_EQ(set->first_number, 7);
  EXPECT_EQ(set->transparent_colour, rgb(0, 0, 255));
  EXPECT_TRUE(resources::is_565(set->images[7]));
  EXPECT_EQ(test::values_of(set->images[7]), (std::vector<unsigned>{0xF800, 0xF800, 0x07E0}));

  // 24 bits, "24": three-byte units; transparency 0 leaves the colour black.
  ByteList true_colour = block_head("24", 24, 0, {1, 2, 3}, 0, 0);
  append_frames(true_colour, {{2, 1, 22 + 8, 0x81}});
  append(true_colour, {0x81, 10, 20, 30});
  ASSERT_EQ(read_g16(*set, bytes_of(true_colour)), 1);
  EXPECT_EQ(set->transparent, 0);
  EXPECT_EQ(set->transparent_colour, rgb(0, 0, 0));
  EXPECT_EQ(set->delays[0], 1);
  EXPECT_EQ(resources::pixel_colour(set->images[0], 1, 0), rgb(30, 20, 10));
}

TEST(ReadG16, RefusesDamagedBlocksAsAWhole) {
  const ByteList good = eight_bit_block();
  const std::size_t end = good.size();
  auto set = new_set();
  auto refused = [&](const ByteList& file, const std::string& what) {
    EXPECT_EQ(read_g16(*set, bytes_of(file)), 0) << what;
    EXPECT_EQ(set->count, 0) << what;
    for (const Image& image : set->images) EXPECT_TRUE(resources::is_empty(image)) << what;
  };
  struct Change { std::size_t at; std::uint8_t value; const char* what; };
  const Change changes[] = {
      {1, 'V', "signature"},
      {7, 'g', "G"},
      {10, 2, "depth 2"},
      {17, 2, "last below first"},
      {12, 2, "transparent index beyond the palette"},
      {22 + 4 + 2, 0, "image 3 height 0"},
      {22 + 4 + 16 + 6, 1, "image 5 offset beyond 64 KiB"},
      {22 + 4 + 16 + 4, static_cast<std::uint8_t>(end), "image 5 data start at the end"},
      {end - 6, 0x86, "a run of 7 in a row of 6"},
      {end - 6, 0x05, "a literal past the file"},
  };
  for (const Change& c : changes) {
    ByteList b = good;
    b[c.at] = c.value;
    refused(b, c.what);
  }
  // Cut anywhere: never reads past the end (the sanitizer build checks).
  for (std::size_t n = 0; n < end; ++n) refused(ByteList(good.begin(), good.begin() + n), "cut at " + std::to_string(n));
  // Any single flipped bit: loads or fails, but stays inside the buffers.
  for (std::size_t i = 0; i < end; ++i)
    for (int bit = 0; bit < 8; ++bit) {
      ByteList flipped = good;
      flipped[i] ^= static_cast<std::uint8_t>(1 << bit);
      if (read_g16(*set, bytes_of(flipped)) == 1) {
        EXPECT_EQ(set->first_number, flipped[16]);
        EXPECT_EQ(set->count, flipped[17] - flipped[16] + 1);
      } else {
        EXPECT_EQ(set->count, 0);
      }
    }
}

TEST(ReadG16, EntriesSharingOneShortRunStayWithinTheSizeLimit) {
  // 256 entries of one size at 8 bits, all pointing at the same repeat
  // chunks of 128 units. Small pictures load; pictures of 4096 x 4096 would
  // each fit the file's data and the per-image limit, but together they are
  // refused before anything is allocated.
  auto shared = [](int side) {
    ByteList file = block_head("16", 8, 0, {0, 2, 0}, 0, 255);
    append(file, {0xFF, 0xFF, 0x00, 0x00});
    append_frames(file, std::vector<Frame>(256, Frame{side, side, 22 + 4 + 256 * 8, 0x80}));
    for (int i = 0; i < side * side / 128; ++i) append(file, {0xFF, 1});
    return file;
  };
  auto set = new_set();
  ASSERT_EQ(read_g16(*set, bytes_of(shared(256))), 1);
  EXPECT_EQ(set->count, 256);
  EXPECT_EQ(resources::pixel_value(set->images[255], 255, 255), 1u);
  EXPECT_EQ(read_g16(*set, bytes_of(shared(4096))), 0);
  EXPECT_EQ(set->count, 0);
}

// --- write_g16 and read back -------------------------------------------------------

// Fills image pixels with a pattern of values below limit (palette indices
// or raw words) with a run over the left half and changes after it, so that
// both raw and coded rows occur.
void fill(Image& image, std::uint32_t limit, int seed) {
  const int bits = resources::bit_count(image);
  for (int y = 0; y < resources::image_height(image); ++y) {
    std::uint8_t* row = resources::row_pointer(image, y);
    for (int x = 0; x < resources::image_width(image); ++x) {
      std::uint32_t v = (x < resources::image_width(image) / 2 ? 0 : static_cast<std::uint32_t>(x * 7 + y * 3 + seed)) % limit;
      if (bits == 16) resources::put_u16(row + 2 * x, static_cast<std::uint16_t>(v * 2654435761u));
      else if (bits == 8) row[x] = static_cast<std::uint8_t>(v);
      else row[x * bits / 8] |= static_cast<std::uint8_t>(v << (8 - bits - x * bits % 8));
    }
  }
}

TEST(WriteG16, RoundTripsEveryPaletteDepthAndSixteenBits) {
  test::TempDir dir;
  for (int bits : {1, 4, 8, 16}) {
    SCOPED_TRACE(bits);
    auto set = new_set();
    set->first_number = 10;
    set->count = 4;  // 10, 11, a gap at 12, 13
    for (int slot : {10, 11, 13}) {
      ASSERT_TRUE(resources::create_image(set->images[slot], slot == 11 ? 2 : 96, 3 + slot % 3, bits));
      fill(set->images[slot], bits == 16 ? 0x10000u : 1u << bits, slot);
      set->delays[slot] = static_cast<std::uint8_t>(slot * 9);
    }
    set->transparent = 1;
    // A colour of the 5-6-5 grid, so that it survives the palette's words.
    set->transparent_colour = bits <= 8 ? resources::colour_entry(set->images[10], 1) : rgb(0, 0, 255);
    auto original = new_set();
    ASSERT_TRUE(resources::copy_set(*set, *original));

    ASSERT_EQ(write_g16(*set, dir.file("set.g16")), 1);
    const ByteList file = test::read_bytes(dir.file("set.g16"));
    const std::size_t table = 22 + (bits == 4 || bits == 8 ? 2 * original->images[10].colour_count : 0);
    EXPECT_EQ(file[table + 7] & 0x80, 0x80);  // 96 pixels, the left half one run: coded
    EXPECT_EQ(file[table + 8 + 7] & 0x80, 0);  // 2 pixels: never coded

    auto back = new_set();
    ASSERT_EQ(read_g16(*back, bytes_of(file)), 1);
    EXPECT_EQ(back->first_number, 10);
    EXPECT_EQ(back->count, 4);
    EXPECT_EQ(back->transparent_colour, original->transparent_colour);
    EXPECT_TRUE(resources::is_empty(back->images[12]));
    for (int slot : {10, 11, 13}) {
      SCOPED_TRACE(slot);
      const Image& a = original->images[slot];
      const Image& b = back->images[slot];
      EXPECT_EQ(back->delays[slot], (slot * 9) & 0x7F);
      ASSERT_EQ(resources::bit_count(b), bits);
      ASSERT_EQ(b.colour_count, a.colour_count);
      for (int i = 0; bits <= 8 && i < static_cast<int>(a.colour_count); ++i)
        EXPECT_EQ(resources::colour_entry(b, i), resources::round_565(resources::colour_entry(a, i)));
      EXPECT_EQ(resources::image_width(b), resources::image_width(a));
      EXPECT_EQ(test::values_of(b), test::values_of(a));
    }
  }
}

TEST(WriteG16, TrueColourIsStoredBySixteenOrTwentyFourBitsByName) {
  test::TempDir dir;
  const std::vector<Bgr> colours = {rgb(200, 100, 50), rgb(1, 2, 3),   rgb(255, 255, 255),
                                    rgb(7, 250, 9),    rgb(0, 0, 0),   rgb(128, 64, 32)};
  auto make = [&] {
    auto set = new_set();
    set->first_number = 1;
    set->count = 1;
    resources::create_image(set->images[1], 3, 2, 24);
    for (int i = 0; i < 6; ++i) {
      std::uint8_t* p = resources::row_pointer(set->images[1], i / 3) + 3 * (i % 3);
      p[0] = colours[i].blue;
      p[1] = colours[i].green;
      p[2] = colours[i].red;
    }
    return set;
  };
  auto back = new_set();
  ASSERT_EQ(write_g16(*make(), dir.file("pic.G16")), 1);
  ByteList file = test::read_bytes(dir.file("pic.G16"));
  EXPECT_EQ(file[8], '1');
  EXPECT_EQ(file[10], 16);
  ASSERT_EQ(read_g16(*back, bytes_of(file)), 1);
  EXPECT_TRUE(resources::is_565(back->images[1]));
  // (200, 100, 50) packed into 5-6-5 by hand: 11001 011001 00110.
  EXPECT_EQ(resources::pixel_value(back->images[1], 0, 0), 0xCB26u);
  EXPECT_EQ(resources::pixel_colour(back->images[1], 2, 0), rgb(255, 255, 255));

  ASSERT_EQ(write_g16(*make(), dir.file("pic.g24")), 1);
  file = test::read_bytes(dir.file("pic.g24"));
  EXPECT_EQ(file[8], '2');
  EXPECT_EQ(file[10], 24);
  ASSERT_EQ(read_g16(*back, bytes_of(file)), 1);
  EXPECT_EQ(test::colours_of(back->images[1]), colours);

  // Nothing to encode, or a folder that does not exist: 0, no file.
  EXPECT_EQ(write_g16(*new_set(), dir.file("empty.g16")), 0);
  EXPECT_FALSE(test::file_exists(dir.file("empty.g16")));
  EXPECT_EQ(write_g16(*make(), dir.file("missing/pic.g16")), 0);
}

TEST(LoadImageFile, NativeExtensionsReachTheirReaders) {
  test::CapturedContext captured;
  Context& ctx = *captured.ctx;
  const std::pair<const char*, ByteList> files[] = {
      {"a.Bh7", bh7(1, 1, 24, 0, {1, 2, 3})}, {"b.BLH", {1, 1, 0x80}}, {"c.blv", {1, 1, 0x01}},
      {"d.G16", eight_bit_block()},          {"e.g24", eight_bit_block()}};
  for (const auto& [name, bytes] : files) {
    test::write_file(captured.dir.file(name), bytes);
    EXPECT_EQ(load_image_file(ctx, ctx.work_set, captured.dir.file(name)), 1) << name;
    const bool block = name[0] >= 'd';
    EXPECT_EQ(ctx.work_set.first_number, block ? 3 : 1) << name;
    EXPECT_EQ(ctx.work_set.count, block ? 3 : 1) << name;
    EXPECT_FALSE(resources::is_empty(ctx.work_set.images[block ? 3 : 1])) << name;
  }
  // A single-image file that fails is not tried by another reader.
  test::write_file(captured.dir.file("f.blh"), ByteList{1, 1});
  EXPECT_EQ(load_image_file(ctx, ctx.work_set, captured.dir.file("f.blh")), 0);
  EXPECT_EQ(ctx.work_set.count, 0);
}

}  // namespace
}  // namespace vexa::imagefiles
