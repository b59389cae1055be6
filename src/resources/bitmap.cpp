#include "resources/bitmap.h"

#include <algorithm>
#include <new>

#include "imagefiles/colour.h"

namespace vexa::resources {

bool encode_bitmap(imagefiles::ImageSet& set, BitmapBlock& descriptor, int rle_mode, int dithering) {
  const int first = set.first_number;
  if (set.count == 0 || !has_image(set, first)) return false;
  const int format = descriptor.colour_format;
  if (format != colour_format_16 && format != colour_format_24) return false;
  const int slots = std::min<int>(set.count, base::limits::image_slots - first);

  int depth = bit_count(set.images[first]);
  const int source_depth = depth;
  if (depth == 24 && format == colour_format_16) depth = 16;
  if (depth == 16 && format == colour_format_24) depth = 24;
  if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24) return false;

  // The largest sides and whether all sides agree. Images are brought to the
  // stored depth on the way.
  const imagefiles::Bgr* keep_exact = set.transparent ? &set.transparent_colour : nullptr;
  std::int32_t max_width = 0, max_height = 0;
  const std::int32_t first_width = image_width(set.images[first]);
  const std::int32_t first_height = image_height(set.images[first]);
  bool same_width = true, same_height = true;
  for (int i = 0; i < slots; ++i) {
    imagefiles::Image& image = set.images[first + i];
    if (is_empty(image)) continue;
    if (depth != source_depth) {
      bool ok = depth == 16 ? imagefiles::convert_to_16_bit(image, (dithering & 1) != 0, keep_exact) : imagefiles::convert_to_24_bit(image);
      if (!ok) return false;
    }
    // Every image must now have the stored depth: a row of another depth
    // would be read past its end.
    if (bit_count(image) != depth) return false;
    std::int32_t w = imagefiles::image_width(image), h = image_height(image);
    max_width = std::max(max_width, w);
    max_height = std::max(max_height, h);
    same_width = same_width && w == first_width;
    same_height = same_height && h == first_height;
  }

  const imagefiles::Image& head = set.images[first];
  imagefiles::BlockHeader h;
  h.colour_format = format;
  h.depth = depth;
  h.transparent = set.transparent;
  h.same_width = same_width;
  h.same_height = same_height;
  h.first = first;
  h.last = first + slots - 1;
  h.width = max_width;
  h.height = max_height;
  std::vector<imagefiles::Bgr> palette;
  switch (depth) {
    case 1: {
      // Plain white/black glyphs leave the colours to the module; any other
      // pair is stored so the module draws it.
      std::uint16_t zero = imagefiles::pack_565(imagefiles::colour_entry(head, 0));
      std::uint16_t one = imagefiles::pack_565(imagefiles::colour_entry(head, 1));
      if ((zero != 0x0000 && zero != 0xFFFF) || (one != 0x0000 && one != 0xFFFF)) {
        h.colour_zero = zero;
        h.colour_one = one;
        h.own_colours = true;
      }
      break;
    }
    case 4:
    case 8: {
      h.palette_entries = static_cast<int>(head.colour_count);
      for (std::uint32_t i = 0; i < head.colour_count; ++i) palette.push_back(imagefiles::colour_entry(head, static_cast<int>(i)));
      if (h.transparent != 0) {
        auto match = std::find(palette.rbegin(), palette.rend(), set.transparent_colour);
        if (match != palette.rend())
          h.key = static_cast<std::uint32_t>(palette.rend() - match - 1);
        else
          h.transparent = 0;  // the key colour is not in the palette: nothing is transparent
      }
      break;
    }
    case 16:
      h.key = pack_565(set.transparent_colour);
      break;
    default:
      h.key = static_cast<std::uint32_t>(set.transparent_colour.blue | set.transparent_colour.green << 8 |
                                         set.transparent_colour.red << 16);
      break;
  }

  std::vector<std::uint8_t>().swap(descriptor.block);
  descriptor.block_size = 0;
  std::vector<std::uint8_t>& block = descriptor.block;
  try {
    block.assign(static_cast<std::size_t>(imagefiles::block_layout(h).image_data), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!imagefiles::write_block_header(h, block) || !imagefiles::write_block_palette(block, h, palette)) return false;
  for (int i = 0; i < slots; ++i) {
    const imagefiles::Image& image = set.images[first + i];
    if (is_empty(image)) continue;
    imagefiles::FrameEntry entry;
    entry.delay = set.delays[first + i];
    if (!imagefiles::append_frame(block, h, i, image, entry, rle_mode)) return false;
  }
  descriptor.block_size = static_cast<std::uint32_t>(block.size());
  return true;
}

}  // namespace vexa::resources
