// The bitmap block encoder: every block reads back to its pictures, true colour is dithered to 5-6-5
// with the key exact, and sets the block cannot describe are refused. Whole
// blocks of every resource kind, with their chunks and coding decisions, are
// pinned by the golden projects.
#include <gtest/gtest.h>

#include "base/bytes.h"
#include "imagefiles/native.h"
#include "resources/bitmap.h"
#include "stored_resources.h"

namespace vexa::resources {
namespace {

using namespace imagefiles;

using Bytes = std::vector<std::uint8_t>;

// Pictures numbered 2, 3 and 5 (4 a gap) of three sizes at the given depth,
// the set transparent with a colour of the pictures.
std::unique_ptr<imagefiles::ImageSet> numbered_set(int bits) {
  const std::vector<imagefiles::Bgr> colours = bits == 1 ? std::vector<imagefiles::Bgr>{imagefiles::rgb(255, 0, 0), imagefiles::rgb(0, 0, 0)}
                                             : test::seeded_colours(bits == 4 ? 16 : 30, 8, bits == 16);
  std::vector<imagefiles::Image> images;
  for (auto [w, h] : {std::pair{9, 4}, std::pair{2, 2}, std::pair{1, 1}, std::pair{80, 3}}) {
    imagefiles::Image picture = test::seeded_picture(w, h, colours, static_cast<unsigned>(w), bits > 8 ? bits : 24);
    if (bits <= 8) {
      imagefiles::Image indexed;
      EXPECT_TRUE(imagefiles::create_image(indexed, w, h, bits));
      for (std::size_t i = 0; i < colours.size(); ++i) imagefiles::set_colour_entry(indexed, static_cast<int>(i), colours[i]);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) imagefiles::set_pixel_colour(indexed, x, y, imagefiles::pixel_colour(picture, x, y));
      picture = std::move(indexed);
    }
    images.push_back(std::move(picture));
  }
  // Rows of 2 units: coding would pay for 16 and 24 bits, but rows that
  // short are never coded. Long runs in the wide picture: coding pays there.
  imagefiles::set_pixel_colour(images[1], 1, 0, imagefiles::pixel_colour(images[1], 0, 0));
  set_pixel_colour(images[1], 1, 1, pixel_colour(images[1], 0, 1));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 72; ++x) set_pixel_colour(images[3], x, y, colours[1]);
  images[2] = imagefiles::Image{};
  auto set = test::set_of(std::move(images), 2);
  set->transparent = bits == 1 ? 0 : 1;
  set->transparent_colour = colours[1];
  set->delays[2] = 3;
  set->delays[5] = 0x85;  // only the low 7 bits are stored
  return set;
}

TEST(EncodeBitmap, EveryBlockReadsBackToItsPictures) {
  for (int bits : {1, 4, 8, 16, 24})
    for (int format : {colour_format_16, colour_format_24})
      for (int mode : {0, 1, 2}) {
        const std::string name = std::to_string(bits) + " bits, format " + std::to_string(format) + ", mode " + std::to_string(mode);
        auto original = numbered_set(bits), set = numbered_set(bits);
        BitmapBlock d;
        d.colour_format = format;
        ASSERT_TRUE(encode_bitmap(*set, d, mode, 0)) << name;
        const std::uint8_t* h = d.block.data();
        const std::size_t table = block_layout(block_header(d)).frame_table;
        ASSERT_EQ(h[10], bits > 8 ? (format == colour_format_16 ? 16 : 24) : bits) << name;
        EXPECT_EQ(Bytes(h + 15, h + 22), (Bytes{0, 2, 5, 80, 0, 4, 0})) << name << ": sizes differ";
        EXPECT_EQ(Bytes(h + table + 16, h + table + 24), Bytes(8, 0)) << name << ": the gap";
        for (int slot : {2, 3, 5}) {
          const std::uint8_t* entry = h + table + 8 * (slot - 2);
          EXPECT_EQ(entry[7] & 0x7F, slot == 2 ? 3 : (slot == 5 ? 5 : 0)) << name;
          // Mode 2 codes the wide picture (it pays), never rows of 2 units.
          if (mode != 2 || slot != 2) {
            EXPECT_EQ((entry[7] & 0x80) != 0, mode == 1 || (mode == 2 && slot == 5)) << name << " slot " << slot;
          }
        }
        imagefiles::ImageSet back;
        ASSERT_EQ(imagefiles::read_g16(back, imagefiles::Bytes(h, d.block_size)), 1) << name;
        ASSERT_TRUE(back.first_number == 2 && back.count == 4 && is_empty(back.images[4])) << name;
        EXPECT_EQ(back.transparent, original->transparent) << name;
        // What the module shows: a G16 block holds 5-6-5 colours; a 1-bit
        // block leaves its colours to the header, so indices are compared.
        auto shown = [format](Bgr c) { return format == colour_format_16 ? imagefiles::round_565(c) : c; };
        if (bits != 1) { EXPECT_EQ(back.transparent_colour, shown(original->transparent_colour)) << name; }
        for (int slot : {2, 3, 5})
          for (int y = 0; y < imagefiles::image_height(original->images[slot]); ++y)
            for (int x = 0; x < imagefiles::image_width(original->images[slot]); ++x) {
              const Image& was = original->images[slot];
              ASSERT_TRUE(bits == 1 ? imagefiles::pixel_value(back.images[slot], x, y) == imagefiles::pixel_value(was, x, y)
                                    : imagefiles::pixel_colour(back.images[slot], x, y) == shown(imagefiles::pixel_colour(was, x, y)))
                  << name << " slot " << slot << " at " << x << "," << y;
            }
      }
}

TEST(EncodeBitmap, TrueColourIsDitheredTo565WithTheKeyExact) {
  // A key at the top of its 5-6-5 steps: any error added would change its word.
  const Bgr key = rgb(15, 79, 143);
  for (int dithering : {0, 1, 2, 3}) {
    imagefiles::Image picture = test::seeded_picture(16, 6, test::seeded_colours(40, 3), 5);
    for (int i = 0; i < 16; ++i) imagefiles::set_pixel_colour(picture, i, i % 6, key);
    auto set = test::set_of({picture});
    set->transparent = 1;
    set->transparent_colour = key;
    BitmapBlock d;
    ASSERT_TRUE(encode_bitmap(*set, d, 0, dithering) && d.block[10] == 16);
    int spread = 0;
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 16; ++x) {
        const std::uint16_t word = base::get_u16(&d.block[block_layout(block_header(d)).image_data + 2 * (16 * y + x)]);
        const Bgr c = pixel_colour(picture, x, y);
        if (c == key) { EXPECT_EQ(word, imagefiles::pack_565(key)) << dithering << ": " << x << "," << y; }
        spread += word != imagefiles::pack_565(c);
      }
    // Bit 0 spreads the error: some pixels then differ from their own 5-6-5 form.
    EXPECT_EQ(spread > 0, (dithering & 1) != 0) << dithering;
  }
}

TEST(EncodeBitmap, RefusesSetsItCannotDescribe) {
  imagefiles::ImageSet empty;
  BitmapBlock d;
  EXPECT_FALSE(encode_bitmap(empty, d, 2, 1));
  // Images of different depths would have rows of different lengths.
  imagefiles::Image a, b;
  ASSERT_TRUE(imagefiles::create_image(a, 4, 4, 8) && create_image(b, 4, 4, 1));
  auto mixed = test::set_of({std::move(a), std::move(b)});
  EXPECT_FALSE(encode_bitmap(*mixed, d, 2, 1));
  // The second image would start beyond what a 24-bit offset can say.
  auto big = test::set_of({imagefiles::Image{}, imagefiles::Image{}});
  ASSERT_TRUE(create_image(big->images[1], 4096, 4096, 8) && create_image(big->images[2], 1, 1, 8));
  EXPECT_FALSE(encode_bitmap(*big, d, 0, 1));
  ASSERT_TRUE(create_image(big->images[1], 4096, 4095, 8));  // ends just below 2^24
  EXPECT_TRUE(encode_bitmap(*big, d, 0, 1));
}

}  // namespace
}  // namespace vexa::resources
