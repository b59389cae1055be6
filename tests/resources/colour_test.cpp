// Colour reduction: counting, depth changes with their lines, palettes,
// dithering, key colours, masks and the harmonising of sets, worked out by
// hand on small pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/colour.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using test::picture;
using test::Rows;
using test::set_of;
using Table = std::vector<Bgr>;
using Values = std::vector<std::uint32_t>;

// A palette image with the given table and indices (picture rows, top first).
Image palette_picture(int bits, const Table& table, const std::vector<std::vector<int>>& rows) {
  return test::image_of_bmp(test::bmp_indexed(bits, table, rows));
}

Table table_of(const Image& image) {
  Table t;
  for (std::uint32_t i = 0; i < image.colour_count; ++i) t.push_back(colour_entry(image, static_cast<int>(i)));
  return t;
}

Table first_entries(const Image& image, int n) {
  Table t;
  for (int i = 0; i < n; ++i) t.push_back(colour_entry(image, i));
  return t;
}

Table colours_of(const Image& image, int y) {
  Table out;
  for (int x = 0; x < image_width(image); ++x) out.push_back(pixel_colour(image, x, y));
  return out;
}

Values values_of(const Image& image, int y) {
  Values out;
  for (int x = 0; x < image_width(image); ++x) out.push_back(pixel_value(image, x, y));
  return out;
}

constexpr Bgr red = rgb(255, 0, 0), green = rgb(0, 255, 0), blue = rgb(0, 0, 255);
constexpr Bgr white = rgb(255, 255, 255), black = rgb(0, 0, 0);
constexpr Bgr first_key = rgb(0xAD, 0xFB, 0x5A);  // the first key candidate, exact in 5-6-5
const std::string blanks(15, ' ');

// A picture with n distinct colours, one per pixel, on one row.
Image many_colours(int n) {
  Rows rows(1);
  for (int i = 0; i < n; ++i) rows[0].push_back(rgb(i & 0xFF, i >> 8, 7));
  return picture(rows);
}

TEST(CountColours, ListsColoursInStoredOrderFromTheBottomLeftPixel) {
  std::array<Bgr, 256> table{};
  Image image = picture({{red, blue, red}, {green, red, green}});
  EXPECT_EQ(count_colours(image, table, true), 3);
  EXPECT_EQ(Table(table.begin(), table.begin() + 3), (Table{green, red, blue}));  // bottom row first
  Image wide = many_colours(300);
  EXPECT_EQ(count_colours(wide, table, true), 257);
  EXPECT_EQ(count_colours(wide, table, false), 300);
  EXPECT_EQ(table[255], rgb(255, 0, 7));
  // Two palette entries with the same colour count once; 1-bit images report
  // their table size.
  Image pal = palette_picture(8, {red, blue, red}, {{0, 1, 2}});
  EXPECT_EQ(count_colours(pal, table, true), 2);
  Image mono;
  ASSERT_TRUE(create_image(mono, 4, 4, 1));
  EXPECT_EQ(count_colours(mono, table, true), 2);
}

TEST(AnalyseColours, FewColoursBecomeOneOrFourBits) {
  test::CapturedContext c;
  Image image = picture({{red, blue, blue}, {blue, red, red}});
  EXPECT_EQ(analyse_colours(c.ctx->out, image, 16, false), 2);
  ASSERT_EQ(bit_count(image), 1);
  EXPECT_EQ(table_of(image), (Table{blue, red}));  // in order of first appearance
  EXPECT_EQ(header_field(image, dib::clr_used), 0u);  // a full table
  EXPECT_EQ(row_pointer(image, 0)[0], 0x80);          // red blue blue
  EXPECT_EQ(row_pointer(image, 1)[0], 0x60);          // blue red red
  EXPECT_EQ(c.console(), blanks + "only 2 colors are used: change colordepth->1-bit\r\n" + blanks +
                             "used colors: RGB[0]=0,0,255  RGB[1]=255,0,0\r\n");

  test::CapturedContext one;
  Image plain = picture({{green, green}});
  EXPECT_EQ(analyse_colours(one.ctx->out, plain, 8, false), 1);
  EXPECT_EQ(bit_count(plain), 1);
  EXPECT_EQ(plain.colour_count, 1u);
  EXPECT_EQ(one.console(), blanks + "only 1 colors are used: change colordepth->1-bit\r\n" + blanks +
                               "used colors: RGB[0]=0,255,0\n\r");

  // Transparency keeps two colours at 4 bits.
  test::CapturedContext keyed;
  Image four = picture({{red, blue, blue}, {blue, red, red}});
  EXPECT_EQ(analyse_colours(keyed.ctx->out, four, 16, true), 2);
  ASSERT_EQ(bit_count(four), 4);
  EXPECT_EQ(table_of(four), (Table{blue, red}));
  EXPECT_EQ(header_field(four, dib::clr_used), 2u);
  EXPECT_EQ(values_of(four, 0), (Values{1, 0, 0}));
  EXPECT_EQ(values_of(four, 1), (Values{0, 1, 1}));
  EXPECT_EQ(keyed.console(), blanks + "only 2 colors and transparency is used: change colordepth->4-bit\r\n");

  // No lines when the report depth is 0 or the new depth itself.
  test::CapturedContext quiet;
  for (int report : {0, 1}) {
    Image a = picture({{red, blue}});
    analyse_colours(quiet.ctx->out, a, report, false);
    EXPECT_EQ(bit_count(a), 1);
  }
  EXPECT_EQ(quiet.console(), "");
}

TEST(AnalyseColours, DepthFollowsTheNumberOfColours) {
  test::CapturedContext c;
  const struct {
    int colours, counted, bits;
    std::uint32_t clr_used;
  } cases[] = {{17, 17, 8, 17}, {16, 16, 4, 0}, {3, 3, 4, 3}, {300, 257, 24, 0}};
  for (const auto& k : cases) {
    Image image = many_colours(k.colours);
    EXPECT_EQ(analyse_colours(c.ctx->out, image, 16, false), k.counted) << k.colours;
    EXPECT_EQ(bit_count(image), k.bits) << k.colours;
    if (k.bits < 24) {
      EXPECT_EQ(header_field(image, dib::clr_used), k.clr_used) << k.colours;
      EXPECT_EQ(colours_of(image, 0), colours_of(many_colours(k.colours), 0)) << k.colours;
    }
  }
  EXPECT_EQ(c.console(), blanks + "only 17 colors are used: change colordepth->8-bit\r\n" + blanks +
                             "only 16 colors are used: change colordepth->4-bit\r\n" + blanks +
                             "only 3 colors are used: change colordepth->4-bit\r\n");
}

TEST(AnalyseColours, PaletteSourceKeepsItsTableOrderWithoutUnusedOrRepeatedEntries) {
  test::CapturedContext c;
  // Entries: 0 green (unused), 1 blue, 2 red, 3 blue again, 4 white (unused), 5 black.
  Image image = palette_picture(8, {green, blue, red, blue, white, black}, {{5, 3, 2}, {2, 1, 5}});
  EXPECT_EQ(analyse_colours(c.ctx->out, image, 0, false), 3);
  ASSERT_EQ(bit_count(image), 4);
  EXPECT_EQ(table_of(image), (Table{blue, red, black}));
  EXPECT_EQ(values_of(image, 0), (Values{2, 0, 1}));
  EXPECT_EQ(values_of(image, 1), (Values{1, 0, 2}));
  // A table the image already uses completely stays as it is.
  Image full = palette_picture(4, {red, blue, green}, {{0, 1, 2}});
  std::vector<std::uint8_t> before = full.dib;
  EXPECT_EQ(analyse_colours(c.ctx->out, full, 16, true), 3);
  EXPECT_EQ(full.dib, before);
}

TEST(ConvertTo24Bit, ExpandsPaletteAndSixteenBitPixels) {
  Image pal = palette_picture(4, {red, rgb(10, 20, 30), blue}, {{1, 2, 0}});
  ASSERT_TRUE(convert_to_24_bit(pal));
  ASSERT_EQ(bit_count(pal), 24);
  EXPECT_EQ(colours_of(pal, 0), (Table{rgb(10, 20, 30), blue, red}));
  // 5-6-5 words 0xF800, 0x07E0, 0x001F and 0xCB26.
  Image w565 = picture({{red, green, blue, rgb(200, 100, 50)}}, 16);
  ASSERT_TRUE(convert_to_24_bit(w565));
  EXPECT_EQ(colours_of(w565, 0), (Table{red, green, blue, rgb(206, 101, 49)}));
  // Without bit fields the words are 5-5-5: 0x7C00 is red, 0x03E0 green.
  Image w555;
  ASSERT_TRUE(create_image(w555, 2, 1, 16));
  set_header_field(w555, dib::compression, 0);
  ASSERT_TRUE(refresh_layout(w555));
  put_u16(row_pointer(w555, 0), 0x7C00);
  put_u16(row_pointer(w555, 0) + 2, 0x03E0);
  ASSERT_TRUE(convert_to_24_bit(w555));
  EXPECT_EQ(colours_of(w555, 0), (Table{red, green}));
}

TEST(ConvertTo16Bit, TruncatesOrDiffusesTheErrorWithDivisorEight) {
  // Stored row 0 is the bottom picture row. Worked by hand: (250,0,6) shows as
  // (255,0,0): red error -5 gives -15/8 = -1 right and above (towards zero,
  // not -2) and -5/4 = -1 above right; blue error 6 gives 18/8 = 2 and 6/4 = 1.
  // The neighbour (249,0,0) thus becomes (248,0,2): still 0xF800, red error
  // -7 gives -2. Above, black pixels clamp at 0 and (0,0,7) + 1 reaches 8.
  const Rows rows = {{black, rgb(0, 0, 7), black}, {rgb(250, 0, 6), rgb(249, 0, 0), black}};
  Image plain = picture(rows);
  ASSERT_TRUE(convert_to_16_bit(plain, false, nullptr));
  ASSERT_TRUE(is_565(plain));
  EXPECT_EQ(values_of(plain, 1), (Values{0xF800, 0xF800, 0}));
  EXPECT_EQ(values_of(plain, 0), (Values{0, 0, 0}));
  Image dithered = picture(rows);
  ASSERT_TRUE(convert_to_16_bit(dithered, true, nullptr));
  EXPECT_EQ(values_of(dithered, 1), (Values{0xF800, 0xF800, 0}));
  EXPECT_EQ(values_of(dithered, 0), (Values{0, 1, 0}));
  // The transparent colour (0,0,7) stays exact although the error reached it.
  Image keyed = picture(rows);
  Bgr key = rgb(0, 0, 7);
  ASSERT_TRUE(convert_to_16_bit(keyed, true, &key));
  EXPECT_EQ(pixel_value(keyed, 1, 0), 0x0000u);
  // A 5-6-5 image is left alone.
  Image one = picture({{rgb(200, 100, 50)}}, 16);
  std::vector<std::uint8_t> before = one.dib;
  ASSERT_TRUE(convert_to_16_bit(one, true, nullptr));
  EXPECT_EQ(one.dib, before);
}

TEST(DitherInto, PaletteTargetsBelowEightBitsUseDivisorSixteen) {
  // Grey 128 is nearer white (entry 0): error -127 per component, 3 * -127 / 16
  // = -23 reaches the neighbour, 160 - 23 = 137 stays white. With divisor 8
  // (-47) the neighbour would turn black.
  Image grey = picture({{rgb(128, 128, 128), rgb(160, 160, 160), rgb(100, 100, 100)}});
  Image mono, wrong_size;
  ASSERT_TRUE(create_image(mono, 3, 1, 1));
  ASSERT_TRUE(dither_into(grey, mono));
  EXPECT_EQ(row_pointer(mono, 0)[0], 0x20);
  ASSERT_TRUE(create_image(wrong_size, 2, 1, 1));
  EXPECT_FALSE(dither_into(grey, wrong_size));
}

TEST(NearestColour, FirstStrictlyNearestEntryWins) {
  Image pal = palette_picture(8, {white, rgb(10, 0, 0), rgb(0, 10, 0), rgb(0, 0, 0)}, {{0}});
  EXPECT_EQ(nearest_colour_index(pal, rgb(5, 5, 0), 4), 1);  // ties keep the first
  EXPECT_EQ(nearest_colour_index(pal, rgb(1, 1, 1), 4), 3);
  EXPECT_EQ(nearest_colour_index(pal, rgb(1, 1, 1), 3), 1);  // only the first 3 entries
  EXPECT_EQ(nearest_colour_index(pal, rgb(250, 250, 250), 4), 0);
}

TEST(FindUnusedColour, WalksTheCandidatesUntilOneIsFree) {
  // (0xAF,0xFB,0x5F) has the first candidate's 5-6-5 key 0xAFCB. Palette:
  // the colour table is what counts. 16 bits: the words themselves; 0xAFCB
  // and 0x770C used leave the third candidate, key 0x3E4D.
  const struct {
    const char* name;
    Image image;
    Bgr found;
  } cases[] = {
      {"free", picture({{red, green}}), first_key},
      {"first key used", picture({{rgb(0xAF, 0xFB, 0x5F), green}}), rgb(0x73, 0xE3, 0x63)},
      {"palette", palette_picture(8, {green, first_key}, {{0}}), rgb(0x73, 0xE3, 0x63)},
      {"words", picture({{unpack_565(0xAFCB), unpack_565(0x770C)}}, 16), rgb(0x39, 0xCB, 0x6B)},
  };
  for (const auto& k : cases) {
    Bgr found{};
    EXPECT_EQ(find_unused_colour(k.image, found), 1) << k.name;
    EXPECT_EQ(found, k.found) << k.name;
  }
  // No candidate for 1-bit images, nor when every 5-6-5 key is in use.
  Bgr found = red;
  Image mono, every;
  ASSERT_TRUE(create_image(mono, 8, 1, 1));
  EXPECT_EQ(find_unused_colour(mono, found), 0);
  ASSERT_TRUE(create_image(every, 256, 256, 16));
  for (int k = 0; k < 65536; ++k) put_u16(row_pointer(every, k / 256) + 2 * (k % 256), static_cast<std::uint16_t>(k));
  EXPECT_EQ(find_unused_colour(every, found), 0);
  EXPECT_EQ(found, red);
}

TEST(ReplaceColour, TableEntriesOrPixels) {
  Image pal = palette_picture(4, {red, blue, red}, {{0, 1, 2}});
  replace_colour(pal, red, green);
  EXPECT_EQ(table_of(pal), (Table{green, blue, green}));
  // 16-bit pixels match through their 5-6-5 word, 24-bit pixels exactly.
  Image words = picture({{first_key, red}}, 16);
  replace_colour(words, rgb(0xA8, 0xF8, 0x58), blue);
  EXPECT_EQ(values_of(words, 0), (Values{0x001F, 0xF800}));
  Image bytes = picture({{first_key, rgb(0xA8, 0xF8, 0x58)}});
  replace_colour(bytes, rgb(0xA8, 0xF8, 0x58), blue);
  EXPECT_EQ(colours_of(bytes, 0), (Table{first_key, blue}));
}

TEST(CopyColourMask, NeighboursAndEdgeByMode) {
  Rows source_rows = test::plain_rows(5, 5, black);
  source_rows[2][2] = red;
  Image source = picture(source_rows);
  const std::pair<int, const char*> modes[] = {
      {0, "...../...../..#../...../...../"}, {1, "#####/#.#.#/#####/#.#.#/#####/"}, {3, "#####/#####/#####/#####/#####/"}};
  for (const auto& [mode, expected] : modes) {
    Image target = picture(test::plain_rows(5, 5, white));
    ASSERT_TRUE(copy_colour_mask(target, source, red, mode));
    std::string marked;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 5; ++x) marked += pixel_colour(target, x, y) == red ? '#' : '.';
      marked += '/';
    }
    EXPECT_EQ(marked, expected) << mode;
  }
  // A palette target takes the first entry of the colour; without one, nothing.
  const std::vector<std::vector<int>> zeros(5, std::vector<int>(5));
  Image pal = palette_picture(8, {white, red, red}, zeros);
  ASSERT_TRUE(copy_colour_mask(pal, source, red, 0));
  EXPECT_EQ(pixel_value(pal, 2, 2), 1u);
  Image no_red = palette_picture(8, {white, blue}, zeros);
  std::vector<std::uint8_t> before = no_red.dib;
  ASSERT_TRUE(copy_colour_mask(no_red, source, red, 3));
  EXPECT_EQ(no_red.dib, before);
  set_pixel_colour(no_red, 1, 1, red);
  EXPECT_EQ(no_red.dib, before);
  Image small = picture({{white}});
  EXPECT_FALSE(copy_colour_mask(small, source, red, 0));
}

TEST(BuildPalette, DistinctKeysSortedByBrightnessInQuicksortOrder) {
  // Keys ascending: blue 0x0000FF, red 0xFF0000, white. Blue and red are
  // equally bright (85); the quicksort's first swap puts red first.
  Image image = picture({{white, red}, {blue, red}});
  Image target;
  ASSERT_TRUE(create_image(target, 2, 2, 8));
  EXPECT_EQ(build_palette(image, target, 256, 24), 3);
  Table expected(256, black);
  std::copy_n(Table{red, blue, white}.begin(), 3, expected.begin());
  EXPECT_EQ(table_of(target), expected);

  // Ten greys into four entries: step (10 - 1) / 4 = 2 picks keys 0, 2, 4,
  // then the largest; entries beyond n are untouched.
  Rows greys(1);
  for (int v = 90; v >= 0; v -= 10) greys[0].push_back(rgb(v, v, v));
  Image ramp = picture(greys);
  Image four;
  ASSERT_TRUE(create_image(four, 10, 1, 4));
  EXPECT_EQ(build_palette(ramp, four, 4, 24), 4);
  EXPECT_EQ(first_entries(four, 5),
            (Table{black, rgb(20, 20, 20), rgb(40, 40, 40), rgb(90, 90, 90), default_palette(4)}));

  // Palette mode 16 rounds first: both colours show as (8,12,8).
  Image close = picture({{rgb(15, 15, 15), rgb(9, 13, 9)}});
  Image exact;
  ASSERT_TRUE(create_image(exact, 2, 1, 8));
  EXPECT_EQ(build_palette(close, exact, 256, 24), 2);
  EXPECT_EQ(build_palette(close, exact, 256, 16), 1);
  EXPECT_EQ(colour_entry(exact, 0), rgb(8, 12, 8));
}

TEST(PaletteConversion, TemplatesOwnTablesAndTheTransparentColour) {
  // 15 entries from the colours (all three equally bright; the quicksort
  // leaves red, green, blue), entry 15 the key; a key pixel takes the first
  // entry of its colour.
  Bgr key = green;
  Image image = picture({{red, key, blue, key}});
  ASSERT_TRUE(convert_to_4_bit(image, 24, nullptr, &key));
  ASSERT_EQ(image.colour_count, 16u);
  Table expected(16, black);
  std::copy_n(Table{red, green, blue}.begin(), 3, expected.begin());
  expected[15] = key;
  EXPECT_EQ(table_of(image), expected);
  EXPECT_EQ(values_of(image, 0), (Values{0, 1, 2, 1}));

  // A template's table is used as it is, capped at the target's size.
  Image templ = palette_picture(8, {white, black, red}, {{0}});
  Image mapped = picture({{rgb(250, 10, 10), rgb(20, 20, 20)}});
  ASSERT_TRUE(convert_to_8_bit(mapped, 24, &templ, nullptr));
  EXPECT_EQ(table_of(mapped), (Table{white, black, red}));
  EXPECT_EQ(values_of(mapped, 0), (Values{2, 1}));

  // A 4-bit picture keeps its own table in 8 bits; a 1-bit picture too.
  Image four = palette_picture(4, {red, blue, green}, {{2, 1}});
  ASSERT_TRUE(convert_to_8_bit(four, 24, nullptr, nullptr));
  EXPECT_EQ(table_of(four), (Table{red, blue, green}));
  EXPECT_EQ(values_of(four, 0), (Values{2, 1}));
  Image mono = palette_picture(1, {white, black}, {{0, 1, 1}});
  ASSERT_TRUE(convert_to_4_bit(mono, 24, nullptr, nullptr));
  EXPECT_EQ(bit_count(mono), 4);
  EXPECT_EQ(table_of(mono), (Table{white, black}));
  EXPECT_EQ(values_of(mono, 0), (Values{0, 1, 1}));

  // To 1 bit, the transparent colour turns white: dark, but it must not be drawn.
  Bgr dark_key = rgb(20, 20, 20);
  for (Bgr* k : {&dark_key, static_cast<Bgr*>(nullptr)}) {
    Image bits = picture({{dark_key, rgb(10, 10, 10), white, dark_key}});
    ASSERT_TRUE(convert_to_1_bit(bits, k));
    EXPECT_EQ(table_of(bits), (Table{white, black}));
    EXPECT_EQ(row_pointer(bits, 0)[0], k ? 0x40 : 0xD0);
  }
}

TEST(ChangeColourDepth, LimitAndDitheringChooseThePaletteAndTheLines) {
  // (15,15,15) and (200,100,50): DITHERING 0 keeps them exact, DITHERING 1
  // builds the palette from their 5-6-5 forms (8,12,8) and (206,101,49).
  test::CapturedContext c;
  const Rows two = {{rgb(15, 15, 15), rgb(200, 100, 50)}};
  auto exact = set_of({picture(two)});
  ASSERT_TRUE(change_colour_depth(c.ctx->out, *exact, 8, 0));
  const Image& e = exact->images[1];
  ASSERT_EQ(bit_count(e), 8);
  EXPECT_EQ(first_entries(e, 3), (Table{rgb(15, 15, 15), rgb(200, 100, 50), black}));
  EXPECT_EQ(values_of(e, 0), (Values{0, 1}));
  EXPECT_FALSE(is_palette_exact_16(e));
  auto rounded = set_of({picture(two)});
  ASSERT_TRUE(change_colour_depth(c.ctx->out, *rounded, 8, 1));
  const Image& r = rounded->images[1];
  EXPECT_EQ(first_entries(r, 2), (Table{rgb(8, 12, 8), rgb(206, 101, 49)}));
  EXPECT_EQ(values_of(r, 0), (Values{0, 1}));
  EXPECT_TRUE(is_palette_exact_16(r));

  for (int dithering : {2, 3}) {
    auto plain = set_of({picture({{rgb(15, 15, 15)}})});
    ASSERT_TRUE(change_colour_depth(c.ctx->out, *plain, 16, dithering));
    EXPECT_TRUE(is_565(plain->images[1]));
  }
  // DITHERING bit 1 moves a palette that is not exact in 5-6-5 to one that is.
  ASSERT_TRUE(change_colour_depth(c.ctx->out, *exact, 16, 2));
  EXPECT_EQ(bit_count(exact->images[1]), 8);
  EXPECT_EQ(colour_entry(exact->images[1], 0), rgb(8, 12, 8));
  ASSERT_TRUE(change_colour_depth(c.ctx->out, *exact, 16, 2));  // now exact: nothing
  EXPECT_EQ(c.console(), blanks + "change colordepth 24-bit -> 8-bit with dithering\r\n" + blanks +
                             "change colordepth 24-bit -> 8-bit with dithering\r\n" + blanks +
                             "change colordepth 24-bit -> 16-bit\r\n" + blanks +
                             "change colordepth 24-bit -> 16-bit with dithering\r\n" + blanks +
                             "change palette bitdepth 24 -> 16-bit with dithering\r\n");
}

TEST(SetColours, TheSheetAddsBlackBesideNarrowerImagesAndSharesOnePalette) {
  test::CapturedContext c;
  auto set = set_of({picture({{red, red}}), picture({{blue, blue, blue, blue}})});
  ASSERT_TRUE(analyse_set_colours(c.ctx->out, *set, 16));
  const Image& a = set->images[1];
  const Image& b = set->images[2];
  ASSERT_EQ(bit_count(a), 4);
  ASSERT_EQ(bit_count(b), 4);
  EXPECT_EQ(table_of(a), (Table{red, black, blue}));
  EXPECT_EQ(table_of(b), table_of(a));
  EXPECT_EQ(values_of(a, 0), (Values{0, 0}));
  EXPECT_EQ(values_of(b, 0), (Values{2, 2, 2, 2}));
  EXPECT_EQ(c.console(), blanks + "only 3 colors are used: change colordepth->4-bit\r\n");

  // To 1 bit through the sheet: the key colour turns white, the set loses
  // its transparency; an odd width keeps its padding bits clear.
  auto keyed = set_of({picture({{green, black, green}}), picture({{black}})});
  keyed->transparent = 1;
  keyed->transparent_colour = green;
  ASSERT_TRUE(convert_set_depth(*keyed, 1, 0));
  EXPECT_EQ(keyed->transparent, 0);
  EXPECT_EQ(row_pointer(keyed->images[1], 0)[0], 0x40);
  EXPECT_EQ(row_pointer(keyed->images[2], 0)[0], 0x80);
}

TEST(SetColours, HarmonisingGivesBothSetsOneTableAndOneKeyColour) {
  auto a = set_of({palette_picture(4, {red, blue}, {{0, 1}})});
  auto b = set_of({palette_picture(4, {blue, green}, {{1, 0}})});
  EXPECT_FALSE(sets_compatible(*a, *b));
  ASSERT_TRUE(harmonise_sets(*a, *b));
  EXPECT_TRUE(sets_compatible(*a, *b));
  EXPECT_EQ(table_of(a->images[1]), (Table{red, blue, green}));
  EXPECT_EQ(values_of(b->images[1], 0), (Values{2, 1}));

  // A's key colour blue becomes a fresh key for both; B's blue stays a colour.
  a = set_of({palette_picture(4, {red, blue}, {{0, 1}})});
  b = set_of({palette_picture(4, {blue, green}, {{1, 0}})});
  a->transparent = 1;
  a->transparent_colour = blue;
  ASSERT_TRUE(harmonise_sets(*a, *b));
  EXPECT_EQ(b->transparent, 1);
  EXPECT_EQ(a->transparent_colour, first_key);
  EXPECT_EQ(b->transparent_colour, first_key);
  EXPECT_EQ(table_of(a->images[1]), (Table{red, first_key, green, blue}));
  EXPECT_EQ(values_of(b->images[1], 0), (Values{2, 3}));

  // Compatibility: 1-bit and 24-bit sets at equal depth always are; a
  // different key colour or table size is not.
  EXPECT_TRUE(sets_compatible(*set_of({palette_picture(1, {white, black}, {{0}})}),
                              *set_of({palette_picture(1, {red, blue}, {{0}})})));
  auto t1 = set_of({picture({{red}})});
  auto t2 = set_of({picture({{blue}})});
  EXPECT_TRUE(sets_compatible(*t1, *t2));
  t2->transparent = 1;
  EXPECT_FALSE(sets_compatible(*t1, *t2));
  t1->transparent = 1;
  t1->transparent_colour = red;
  EXPECT_FALSE(sets_compatible(*t1, *t2));
  EXPECT_FALSE(sets_compatible(*set_of({palette_picture(8, {red, blue, green}, {{0}})}),
                               *set_of({palette_picture(8, {red, blue}, {{0}})})));
}

}  // namespace
}  // namespace vexa::resources
