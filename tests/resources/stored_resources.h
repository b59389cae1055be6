// Helpers of the resource tests: pictures and BMP files built from their
// pixels, sets of pictures, and the bytes a compiler stored for a resource.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "../imagefiles/bmp_files.h"
#include "driver/context.h"
#include "driver/dataflash.h"
#include "resources/colour.h"
#include "test_support.h"

namespace vexa::test {

using Row = std::vector<resources::Bgr>;
using Rows = std::vector<Row>;  // picture rows, top row first

inline Rows plain_rows(int width, int height, resources::Bgr colour) {
  return Rows(static_cast<std::size_t>(height), Row(static_cast<std::size_t>(width), colour));
}

// A 24-bit picture written byte by byte (5-6-5 when bits is 16).
inline resources::Image picture(const Rows& rows, int bits = 24) {
  resources::Image image;
  EXPECT_TRUE(resources::create_image(image, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()), 24));
  for (std::size_t y = 0; y < rows.size(); ++y)
    for (std::size_t x = 0; x < rows[y].size(); ++x) {
      std::uint8_t* p = resources::row_pointer(image, static_cast<int>(y)) + 3 * x;
      p[0] = rows[y][x].blue;
      p[1] = rows[y][x].green;
      p[2] = rows[y][x].red;
    }
  if (bits == 16) {
    EXPECT_TRUE(resources::convert_to_16_bit(image, false, nullptr));
  }
  return image;
}

// A set of the images numbered from first on.
inline std::unique_ptr<resources::ImageSet> set_of(std::vector<resources::Image> images, int first = 1) {
  auto set = std::make_unique<resources::ImageSet>();
  set->first_number = static_cast<std::uint16_t>(first);
  set->count = static_cast<std::uint16_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) set->images[first + i] = std::move(images[i]);
  return set;
}

// A 24-bit BMP from its rows, top row first.
inline ByteList bmp24_rows(const Rows& rows) {
  BmpSpec spec;
  spec.width = static_cast<int>(rows.at(0).size());
  spec.height = static_cast<int>(rows.size());
  const std::size_t stride = (static_cast<std::size_t>(spec.width) * 3 + 3) / 4 * 4;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    ByteList bytes(stride, 0);
    for (std::size_t x = 0; x < row->size(); ++x) {
      bytes[3 * x] = (*row)[x].blue;
      bytes[3 * x + 1] = (*row)[x].green;
      bytes[3 * x + 2] = (*row)[x].red;
    }
    spec.pixels.insert(spec.pixels.end(), bytes.begin(), bytes.end());
  }
  return bmp_file(spec);
}

inline ByteList bmp24_plain(int width, int height, resources::Bgr colour) {
  return bmp24_rows(plain_rows(width, height, colour));
}

// A palette BMP of 1, 4 or 8 bits from its indices, top row first.
inline ByteList bmp_indexed(int bits, const Row& table, const std::vector<std::vector<int>>& rows) {
  BmpSpec spec;
  spec.width = static_cast<int>(rows.at(0).size());
  spec.height = static_cast<int>(rows.size());
  spec.bits = bits;
  spec.table = table;
  const std::size_t stride = (static_cast<std::size_t>(spec.width) * bits + 31) / 32 * 4;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    ByteList bytes(stride, 0);
    for (int x = 0; x < spec.width; ++x) {
      int bit = x * bits;
      bytes[bit / 8] |= static_cast<std::uint8_t>((*row)[x] << (8 - bits - bit % 8));
    }
    spec.pixels.insert(spec.pixels.end(), bytes.begin(), bytes.end());
  }
  return bmp_file(spec);
}

// The image a BMP file holds: its bytes after the 14-byte file header.
inline resources::Image image_of_bmp(const ByteList& file) {
  resources::Image image;
  image.dib.assign(file.begin() + 14, file.end());
  EXPECT_TRUE(resources::refresh_layout(image));
  return image;
}

// The bytes of a stored resource: from its directory offset to the next
// resource's offset (or the end of the area); empty when the entry is free.
inline ByteList stored_resource(const Context& ctx, int kind, int page, int number) {
  const std::uint8_t* e =
      ctx.flash.directories[static_cast<std::size_t>(kind)].data() + driver::resource_entry(page, number);
  if (!driver::entry_used(e)) return {};
  std::uint32_t start = driver::get_u24(e);
  std::uint32_t end = static_cast<std::uint32_t>(ctx.flash.resource_pos);
  for (const auto& dir : ctx.flash.directories)
    for (std::size_t at = 0; at < dir.size(); at += 3)
      if (driver::entry_used(dir.data() + at) && driver::get_u24(dir.data() + at) > start)
        end = std::min(end, driver::get_u24(dir.data() + at));
  return ByteList(ctx.flash.resources.begin() + start, ctx.flash.resources.begin() + end);
}

// Whether the console holds "--->LINE n: message\r\n".
inline bool has_error(CapturedContext& c, int line, const std::string& message) {
  return c.console().find("--->LINE " + std::to_string(line) + ": " + message + "\r\n") != std::string::npos;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace vexa::test
