// Pictures for tests, written as text art: one character a pixel, rows top
// first. A legend names the colour of each character; the same art becomes
// BMP file bytes (to feed a reader or a project) or an image record (to feed
// an image operation), and an image record becomes art again for comparing.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/bytes.h"
#include "imagefiles/bmp.h"
#include "imagefiles/image.h"

namespace vexa::test {

using ByteList = std::vector<std::uint8_t>;
using Art = std::vector<std::string>;
using Legend = std::map<char, imagefiles::Bgr>;

// '.' black, '#' and 'W' white, primaries R G B, mixtures Y C M, 'g' grey,
// 'o' orange.
inline const Legend& default_legend() {
  static const Legend legend = {
      {'.', imagefiles::rgb(0, 0, 0)},       {'#', imagefiles::rgb(255, 255, 255)}, {'W', imagefiles::rgb(255, 255, 255)},
      {'R', imagefiles::rgb(255, 0, 0)},     {'G', imagefiles::rgb(0, 255, 0)},     {'B', imagefiles::rgb(0, 0, 255)},
      {'Y', imagefiles::rgb(255, 255, 0)},   {'C', imagefiles::rgb(0, 255, 255)},   {'M', imagefiles::rgb(255, 0, 255)},
      {'g', imagefiles::rgb(128, 128, 128)}, {'o', imagefiles::rgb(250, 140, 0)}};
  return legend;
}

// The distinct characters of the art in order of first appearance: the
// colour table of a palette picture made from it.
inline std::string art_characters(const Art& art) {
  std::string seen;
  for (const std::string& row : art)
    for (char c : row)
      if (seen.find(c) == std::string::npos) seen += c;
  return seen;
}

// An image record of the art: 24 bits, 16 bits (5-6-5), or 1, 4 or 8 bits
// with a colour table of the art's characters in order of appearance.
inline imagefiles::Image image_from_art(const Art& art, int bits = 24, const Legend& legend = default_legend()) {
  imagefiles::Image image;
  const int width = static_cast<int>(art.at(0).size()), height = static_cast<int>(art.size());
  const std::string table = art_characters(art);
  const std::uint32_t entries = bits <= 8 ? 1u << bits : 0;
  EXPECT_TRUE(bits > 8 || table.size() <= entries) << "more colours than " << bits << " bits hold";
  EXPECT_TRUE(imagefiles::create_image(image, width, height, bits));
  for (std::size_t i = 0; i < table.size() && i < entries; ++i)
    imagefiles::set_colour_entry(image, static_cast<int>(i), legend.at(table[i]));
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = imagefiles::row_pointer(image, y);
    for (int x = 0; x < width; ++x) {
      const imagefiles::Bgr c = legend.at(art[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]);
      if (bits == 24) {
        row[3 * x] = c.blue, row[3 * x + 1] = c.green, row[3 * x + 2] = c.red;
      } else if (bits == 16) {
        base::put_u16(row + 2 * x, imagefiles::pack_565(c));
      } else {
        const auto index = static_cast<std::uint8_t>(table.find(art[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)]));
        const int per_byte = 8 / bits, shift = 8 - bits * (x % per_byte + 1);
        row[x / per_byte] = static_cast<std::uint8_t>(row[x / per_byte] | index << shift);
      }
    }
  }
  return image;
}

// The bytes of a BMP file of the art (bottom-up, 40-byte header).
inline ByteList bmp_from_art(const Art& art, int bits = 24, const Legend& legend = default_legend()) {
  return imagefiles::bmp_file_bytes(image_from_art(art, bits, legend));
}

// The art of an image record under a legend; a colour the legend lacks is '?'.
inline Art art_from_image(const imagefiles::Image& image, const Legend& legend = default_legend()) {
  Art art;
  for (int y = 0; y < imagefiles::image_height(image); ++y) {
    std::string row;
    for (int x = 0; x < imagefiles::image_width(image); ++x) {
      const imagefiles::Bgr c = imagefiles::pixel_colour(image, x, y);
      auto hit = std::find_if(legend.begin(), legend.end(), [&](const auto& entry) { return entry.second == c; });
      row += hit == legend.end() ? '?' : hit->first;
    }
    art.push_back(row);
  }
  return art;
}

}  // namespace vexa::test
