// Helpers of the resource tests: the bytes a compiler stored for a resource,
// its messages, and pictures of many colours made from a seed.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "base/bytes.h"
#include "command/context.h"
#include "command/work_areas.h"
#include "imagefiles/colour.h"
#include "pictures.h"
#include "test_support.h"

namespace vexa::test {

// The bytes of a stored resource: from its directory offset to the next
// resource's offset (or the end of the area); empty when the entry is free.
inline ByteList stored_resource(const command::Context& ctx, int kind, int page, int number) {
  const std::uint8_t* e =
      command::table_entry(ctx.flash.directories[static_cast<std::size_t>(kind)], command::resource_entry(page, number));
  if (!command::entry_used(e)) return {};
  std::uint32_t start = base::get_u24(e);
  std::uint32_t end = static_cast<std::uint32_t>(ctx.flash.resource_pos);
  for (const auto& dir : ctx.flash.directories)
    for (std::size_t at = 0; at < dir.size(); at += 3)
      if (command::entry_used(dir.data() + at) && base::get_u24(dir.data() + at) > start)
        end = std::min(end, base::get_u24(dir.data() + at));
  return ByteList(ctx.flash.resources.begin() + start, ctx.flash.resources.begin() + end);
}

// Whether the console holds "--->LINE n: message\r\n".
inline bool has_error(CapturedContext& c, int line, const std::string& message) {
  return c.console().find("--->LINE " + std::to_string(line) + ": " + message + "\r\n") != std::string::npos;
}

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// n distinct colours drawn from the seed (n up to 2^18); with exact_565 every
// one is its own 5-6-5 rounding.
inline std::vector<imagefiles::Bgr> seeded_colours(int n, unsigned seed, bool exact_565 = false) {
  std::mt19937 random(seed);
  std::vector<imagefiles::Bgr> colours;
  while (static_cast<int>(colours.size()) < n) {
    imagefiles::Bgr c = imagefiles::rgb(static_cast<int>(random() & 0xFF), static_cast<int>(random() & 0xFF),
                                      static_cast<int>(random() & 0xFF));
    if (exact_565) c = imagefiles::round_565(c);
    if (std::find(colours.begin(), colours.end(), c) == colours.end()) colours.push_back(c);
  }
  return colours;
}

// A 24-bit (or 16-bit) picture whose pixels use every colour of the list at
// least once when it has room, the rest drawn from the seed.
inline imagefiles::Image seeded_picture(int width, int height, const std::vector<imagefiles::Bgr>& colours, unsigned seed,
                                       int bits = 24) {
  std::mt19937 random(seed);
  imagefiles::Image image;
  EXPECT_TRUE(imagefiles::create_image(image, width, height, bits));
  for (int i = 0; i < width * height; ++i) {
    const std::size_t k = static_cast<std::size_t>(i) < colours.size() ? static_cast<std::size_t>(i) : random() % colours.size();
    imagefiles::set_pixel_colour(image, i % width, i / width, colours[k]);
  }
  return image;
}

// A set of the images numbered from first on.
inline std::unique_ptr<imagefiles::ImageSet> set_of(std::vector<imagefiles::Image> images, int first = 1) {
  auto set = std::make_unique<imagefiles::ImageSet>();
  set->first_number = static_cast<std::uint16_t>(first);
  set->count = static_cast<std::uint16_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) set->images[first + i] = std::move(images[i]);
  return set;
}

}  // namespace vexa::test
