// Helpers of the resource compiler tests: 24-bit BMP files built from
// their pixels, and the bytes a compiler stored for a resource.
#pragma once

#include <algorithm>
#include <vector>

#include "../imagefiles/bmp_files.h"
#include "driver/context.h"
#include "driver/dataflash.h"

namespace vexa::test {

// A 24-bit BMP from its rows, top row first.
inline ByteList bmp24_rows(const std::vector<std::vector<resources::Bgr>>& rows) {
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

// A picture of one colour.
inline ByteList bmp24_plain(int width, int height, resources::Bgr colour) {
  return bmp24_rows(std::vector<std::vector<resources::Bgr>>(static_cast<std::size_t>(height),
                                                             std::vector<resources::Bgr>(static_cast<std::size_t>(width), colour)));
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

}  // namespace vexa::test
