// Colour reduction by its properties, over pictures made from seeds: the
// analysis is lossless, a depth limit is kept with a palette of the allowed
// size, the key colour stays exact, the nearest entry is the first nearest,
// a fresh key is unused, and harmonised sets share one table and key. The
// exact palettes, mappings and lines are pinned by the golden projects.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "imagefiles/colour.h"
#include "resources/colour.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

using Colours = std::vector<imagefiles::Bgr>;

Colours pixels_of(const Image& image) {
  Colours out;
  for (int y = 0; y < imagefiles::image_height(image); ++y)
    for (int x = 0; x < imagefiles::image_width(image); ++x) out.push_back(imagefiles::pixel_colour(image, x, y));
  return out;
}

// The colour table (empty above 8 bits, where colour_count counts what the depth can hold).
Colours table_of(const Image& image) {
  Colours t;
  for (std::uint32_t i = 0; i < image.colour_count && bit_count(image) <= 8; ++i)
    t.push_back(imagefiles::colour_entry(image, static_cast<int>(i)));
  return t;
}

// An 8-bit picture whose table holds the colours, then a repeat of the first
// and one colour no pixel uses; pixels use every other entry.
Image palette_picture(const Colours& colours, unsigned seed) {
  Colours table = colours;
  table.push_back(colours[0]);
  table.push_back(rgb(1, 2, 3));
  Image image;
  const auto entries = static_cast<std::uint32_t>(table.size());
  EXPECT_TRUE(create_dib(image, 9, 7, 8, entries, entries));
  for (std::size_t i = 0; i < table.size(); ++i) set_colour_entry(image, static_cast<int>(i), table[i]);
  std::mt19937 random(seed);
  const std::size_t used = colours.size() + 1;
  for (std::size_t i = 0; i < 63; ++i) row_pointer(image, static_cast<int>(i / 9))[i % 9] = static_cast<std::uint8_t>(i < used ? i : random() % used);
  return image;
}

TEST(AnalyseColours, IsLosslessAndDropsToTheSmallestDepth) {
  base::ReportLines lines;
  for (int n : {1, 2, 3, 16, 17, 60, 256, 257, 400})
    for (int source : {24, 16, 8})
      for (bool transparent : {false, true}) {
        if (source == 8 && n > 54) continue;
        const Colours colours = test::seeded_colours(n, static_cast<unsigned>(n), source == 16);
        imagefiles::Image image = source == 8 ? palette_picture(colours, 7) : test::seeded_picture(21, 20, colours, 3, source);
        const Colours before = pixels_of(image), table_before = table_of(image);
        std::array<imagefiles::Bgr, 256> first_seen{};
        ASSERT_EQ(count_colours(image, first_seen, false), n);
        const int depth = n > 256 ? source : (n > 16 ? 8 : (n < 3 && !transparent ? 1 : 4));
        EXPECT_EQ(analyse_colours(image, 0, transparent, lines), std::min(n, 257)) << n;
        ASSERT_EQ(bit_count(image), depth) << n << " colours from " << source << " bits";
        EXPECT_EQ(pixels_of(image), before) << n << " colours from " << source << " bits";
        if (n > 256) continue;
        const Colours table = table_of(image);
        ASSERT_EQ(table.size(), static_cast<std::size_t>(n));
        // A full table needs no count in the header.
        EXPECT_EQ(imagefiles::header_field(image, dib::clr_used), n == 1 << depth ? 0u : static_cast<std::uint32_t>(n)) << n;
        // A palette picture keeps its own order without repeated and unused
        // entries; other pictures list colours as the stored rows meet them.
        const Colours& order = source == 8 ? table_before : Colours(first_seen.begin(), first_seen.end());
        EXPECT_TRUE(std::equal(table.begin(), table.end(), order.begin())) << n;
      }
}

TEST(ChangeColourDepth, KeepsTheLimitThePaletteAndTheKeyColour) {
  base::ReportLines lines;
  const Colours many = test::seeded_colours(40, 11);
  const Bgr key = many[5];
  for (int limit : {1, 4, 8, 16})
    for (int dithering : {0, 1, 2, 3})
      for (bool keyed : {false, true}) {
        auto set = test::set_of({test::seeded_picture(13, 9, many, 5), test::seeded_picture(7, 4, many, 6)});
        set->transparent = keyed ? 1 : 0;
        set->transparent_colour = key;
        const Colours before = pixels_of(set->images[1]);
        ASSERT_TRUE(change_colour_depth(*set, limit, dithering, lines));
        const std::string name = std::to_string(limit) + " bits, dithering " + std::to_string(dithering);
        for (int slot : {1, 2}) {
          const Image& image = set->images[static_cast<std::size_t>(slot)];
          ASSERT_EQ(bit_count(image), limit) << name;
          EXPECT_EQ(table_of(image), table_of(set->images[1])) << name << ": one palette for the set";
          EXPECT_TRUE(limit > 8 || image.colour_count <= 1u << limit) << name;
          // Dithering asks for a palette of 5-6-5 colours (and the key).
          for (imagefiles::Bgr e : table_of(image)) EXPECT_TRUE(limit == 1 || !dithering || e == round_565(e) || (keyed && e == key)) << name;
        }
        // The key stays exact (in 5-6-5 at 16 bits); 1 bit cannot hold it and
        // drops the transparency.
        const Colours after = pixels_of(set->images[1]);
        for (std::size_t i = 0; i < before.size(); ++i) {
          EXPECT_TRUE(limit != 1 || after[i] == imagefiles::rgb(0, 0, 0) || after[i] == imagefiles::rgb(255, 255, 255)) << name;
          EXPECT_TRUE(limit != 16 || dithering % 2 || after[i] == imagefiles::round_565(before[i])) << name << ": truncated";
          EXPECT_TRUE(!keyed || limit == 1 || before[i] != key || after[i] == (limit == 16 ? imagefiles::round_565(key) : key)) << name;
        }
        EXPECT_EQ(set->transparent, keyed && limit != 1 ? 1 : 0) << name;
      }

  // Key pixels among a colour the 5-6-5 palette rounds receive its error and
  // would drift to the rounded entry; they are put back.
  const Bgr grey = rgb(120, 120, 120);
  auto keyed = test::set_of({test::seeded_picture(6, 6, {imagefiles::rgb(126, 120, 126)}, 1)});
  for (int i = 0; i < 6; ++i) imagefiles::set_pixel_colour(keyed->images[1], i, (i * 5) % 6, grey);
  keyed->transparent = 1;
  keyed->transparent_colour = grey;
  ASSERT_TRUE(change_colour_depth(*keyed, 8, 1, lines));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(imagefiles::pixel_colour(keyed->images[1], i, (i * 5) % 6), grey) << i;

  // A palette that holds every colour loses none of them; a 1- or 4-bit
  // picture keeps its own table.
  for (int limit : {4, 8})
    for (int dithering : {0, 1}) {
      auto set = test::set_of({test::seeded_picture(17, 16, test::seeded_colours((1 << limit) - 1, 2, true), 9)});
      const Colours before = pixels_of(set->images[1]);
      ASSERT_TRUE(change_colour_depth(*set, limit, dithering, lines));
      EXPECT_EQ(pixels_of(set->images[1]), before) << limit << " bits, dithering " << dithering;
    }
  for (int bits : {1, 4}) {
    imagefiles::Image small;
    ASSERT_TRUE(imagefiles::create_image(small, 5, 3, bits));
    for (int i = 0; i < 15; ++i) imagefiles::set_pixel_colour(small, i % 5, i / 5, imagefiles::colour_entry(small, (i * 7) % (1 << bits)));
    imagefiles::Image wide = small;
    ASSERT_TRUE(bits == 1 ? convert_to_4_bit(wide, 24, nullptr, nullptr) : convert_to_8_bit(wide, 24, nullptr, nullptr));
    EXPECT_EQ(table_of(wide), table_of(small)) << bits;
    EXPECT_EQ(pixels_of(wide), pixels_of(small)) << bits;
  }
}

TEST(NearestColour, TheFirstEntryOfTheSmallestDistance) {
  std::mt19937 random(17);
  auto channel = [&random](int levels) { return static_cast<int>(random() % static_cast<unsigned>(levels)) * (255 / (levels - 1)); };
  for (int trial = 0; trial < 300; ++trial) {
    const int entries = 1 + static_cast<int>(random() % 20);
    imagefiles::Image palette;
    ASSERT_TRUE(imagefiles::create_image(palette, 1, 1, 8));
    // Few values per channel, so that equal distances are frequent.
    for (int i = 0; i < entries; ++i) imagefiles::set_colour_entry(palette, i, imagefiles::rgb(channel(4), channel(4), channel(4)));
    const Bgr colour = rgb(channel(256), channel(256), channel(256));
    auto distance = [&](int i) {
      const Bgr e = colour_entry(palette, i);
      return (e.red - colour.red) * (e.red - colour.red) + (e.green - colour.green) * (e.green - colour.green) +
             (e.blue - colour.blue) * (e.blue - colour.blue);
    };
    int best = 0;
    for (int i = 1; i < entries; ++i) best = distance(i) < distance(best) ? i : best;
    ASSERT_EQ(imagefiles::nearest_colour_index(palette, colour, entries), best) << trial;
  }
}

TEST(FindUnusedColour, ThirtyTwoExactColoursNoPixelUsesThenNone) {
  imagefiles::Image mono;
  ASSERT_TRUE(imagefiles::create_image(mono, 8, 1, 1));
  imagefiles::Bgr found = imagefiles::rgb(1, 2, 3);
  EXPECT_EQ(imagefiles::find_unused_colour(mono, found), 0);
  for (int bits : {24, 16, 8}) {
    // A white picture; each colour chosen is then painted (or put in the
    // table), so the next choice must avoid it too.
    imagefiles::Image image;
    ASSERT_TRUE(bits == 8 ? imagefiles::create_dib(image, 8, 6, 8, 48, 48) : imagefiles::create_image(image, 8, 6, bits));
    for (int i = 0; i < 48; ++i) bits == 8 ? imagefiles::set_colour_entry(image, i, imagefiles::rgb(255, 255, 255)) : imagefiles::set_pixel_colour(image, i % 8, i / 8, imagefiles::rgb(255, 255, 255));
    std::vector<std::uint16_t> chosen;
    for (int round = 0; round < 32; ++round) {
      ASSERT_EQ(imagefiles::find_unused_colour(image, found), 1) << bits << " round " << round;
      EXPECT_EQ(found, imagefiles::round_565(found)) << bits;
      for (imagefiles::Bgr used : bits == 8 ? table_of(image) : pixels_of(image)) ASSERT_NE(pack_565(used), pack_565(found)) << bits;
      chosen.push_back(imagefiles::pack_565(found));
      bits == 8 ? imagefiles::set_colour_entry(image, round, found) : imagefiles::set_pixel_colour(image, round % 8, round / 8, found);
    }
    found = imagefiles::rgb(1, 2, 3);
    EXPECT_EQ(imagefiles::find_unused_colour(image, found), 0) << bits << ": all candidates in use";
    EXPECT_EQ(found, imagefiles::rgb(1, 2, 3));
  }
}

TEST(ReplaceColour, EveryPixelOfTheColourAndNoOther) {
  Colours colours = test::seeded_colours(6, 31, true);
  colours[1] = imagefiles::unpack_565(imagefiles::pack_565(colours[0]) ^ 0x8000);  // the same low byte in 5-6-5
  for (int bits : {24, 16, 8}) {
    imagefiles::Image image = bits == 8 ? palette_picture(colours, 3) : test::seeded_picture(9, 7, colours, 3, bits);
    const Colours before = pixels_of(image);
    replace_colour(image, colours[0], imagefiles::rgb(0, 0, 255));  // the palette holds colours[0] twice
    const Colours after = pixels_of(image);
    for (std::size_t i = 0; i < before.size(); ++i)
      EXPECT_EQ(after[i], before[i] == colours[0] ? imagefiles::rgb(0, 0, 255) : before[i]) << bits << " bits, pixel " << i;
  }
}

TEST(HarmoniseSets, OneTableAndOneKeyWhilePixelsKeepTheirColours) {
  const Colours a_colours = test::seeded_colours(3, 21), b_colours = test::seeded_colours(5, 22);
  for (bool a_keyed : {false, true})
    for (int b_bits : {24, 8}) {
      auto a = test::set_of({test::seeded_picture(5, 3, a_colours, 1)});
      Colours b_list = b_colours;
      b_list.push_back(a_colours[0]);  // B uses A's key as an ordinary colour
      auto b = test::set_of({b_bits == 8 ? palette_picture(b_list, 2) : test::seeded_picture(4, 6, b_list, 2)});
      ASSERT_TRUE(convert_set_depth(*a, 4, 0));
      a->transparent = a_keyed ? 1 : 0;
      a->transparent_colour = a_colours[0];
      const Colours a_before = pixels_of(a->images[1]), b_before = pixels_of(b->images[1]);
      ASSERT_TRUE(harmonise_sets(*a, *b));
      EXPECT_TRUE(sets_compatible(*a, *b));
      EXPECT_EQ(b->transparent, a->transparent);
      if (a_keyed) { EXPECT_EQ(a->transparent_colour, b->transparent_colour); }
      const Colours a_after = pixels_of(a->images[1]), b_after = pixels_of(b->images[1]);
      EXPECT_EQ(b_after, b_before) << "B's own colours stay";
      for (std::size_t i = 0; i < a_before.size(); ++i)
        EXPECT_EQ(a_after[i], a_keyed && a_before[i] == a_colours[0] ? a->transparent_colour : a_before[i]) << i;
      if (a_keyed) { EXPECT_EQ(std::count(b_after.begin(), b_after.end(), a->transparent_colour), 0) << "a fresh key"; }
    }
}

}  // namespace
}  // namespace vexa::resources
