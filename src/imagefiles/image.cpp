#include "base/bytes.h"
#include "imagefiles/image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace vexa::imagefiles {

std::uint32_t header_field(const Image& image, std::size_t offset) {
  if (image.dib.size() < offset + 4) return 0;
  return base::get_u32(image.dib.data() + offset);
}

void set_header_field(Image& image, std::size_t offset, std::uint32_t value) {
  if (image.dib.size() >= offset + 4) base::put_u32(image.dib.data() + offset, value);
}

std::int32_t image_width(const Image& image) {
  return static_cast<std::int32_t>(header_field(image, dib::width));
}
std::int32_t image_height(const Image& image) {
  return static_cast<std::int32_t>(header_field(image, dib::height));
}
int bit_count(const Image& image) {
  return image.dib.size() < dib::header_bytes ? 0 : base::get_u16(image.dib.data() + dib::bit_count);
}

bool is_565(const Image& image) {
  if (bit_count(image) != 16 || header_field(image, dib::compression) != 3) return false;
  // The red mask is the first mask: right after a 40-byte info header, and at
  // the same offset inside the longer headers that hold their masks.
  std::size_t masks = dib::header_bytes;
  return image.dib.size() >= masks + 4 && base::get_u32(image.dib.data() + masks) == 0xF800;
}

Bgr default_palette(int i) {
  static constexpr std::array<Bgr, 16> first = {
      rgb(0, 0, 0),       rgb(0, 0, 255),     rgb(255, 0, 0),   rgb(0, 255, 0),
      rgb(255, 0, 255),   rgb(0, 255, 255),   rgb(255, 255, 0), rgb(255, 255, 255),
      rgb(85, 85, 85),    rgb(255, 127, 0),   rgb(127, 0, 255), rgb(255, 0, 127),
      rgb(0, 255, 128),   rgb(128, 255, 0),   rgb(2, 128, 255), rgb(170, 170, 170)};
  static constexpr std::array<int, 10> ramp = {238, 221, 187, 170, 136, 119, 85, 68, 34, 17};
  if (i < 0 || i > 255) return Bgr{};
  if (i < 16) return first[static_cast<std::size_t>(i)];
  if (i < 215)  // colour cube, positions 0-15 unused
    return rgb(255 - 51 * (i / 36), 255 - 51 * ((i / 6) % 6), 255 - 51 * (i % 6));
  if (i < 225) return rgb(ramp[static_cast<std::size_t>(i - 215)], 0, 0);
  if (i < 235) return rgb(0, ramp[static_cast<std::size_t>(i - 225)], 0);
  if (i < 245) return rgb(0, 0, ramp[static_cast<std::size_t>(i - 235)]);
  if (i < 255) {
    int v = ramp[static_cast<std::size_t>(i - 245)];
    return rgb(v, v, v);
  }
  return rgb(0, 0, 0);
}

Bgr colour_entry(const Image& image, int index) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= image.colour_count || bit_count(image) > 8)
    return Bgr{};
  const std::uint8_t* p = image.dib.data() + image.colour_table + 4 * index;
  return Bgr{p[0], p[1], p[2]};
}

void set_colour_entry(Image& image, int index, Bgr colour) {
  if (index < 0 || static_cast<std::uint32_t>(index) >= image.colour_count || bit_count(image) > 8)
    return;
  std::uint8_t* p = image.dib.data() + image.colour_table + 4 * index;
  p[0] = colour.blue;
  p[1] = colour.green;
  p[2] = colour.red;
  p[3] = 0;
}

std::uint8_t* row_pointer(Image& image, int y) {
  return image.dib.data() + image.pixels +
         static_cast<std::size_t>(image.row_stride) * static_cast<std::size_t>(image_height(image) - 1 - y);
}

const std::uint8_t* row_pointer(const Image& image, int y) {
  return image.dib.data() + image.pixels +
         static_cast<std::size_t>(image.row_stride) * static_cast<std::size_t>(image_height(image) - 1 - y);
}

std::uint32_t pixel_value(const Image& image, int x, int y) {
  const std::uint8_t* row = row_pointer(image, y);
  switch (bit_count(image)) {
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 8: return row[x];
    case 16: return base::get_u16(row + 2 * x);
    case 24: return row[3 * x] | (row[3 * x + 1] << 8) | (row[3 * x + 2] << 16);
    case 32: return row[4 * x + 1] | (row[4 * x + 2] << 8) | (row[4 * x + 3] << 16);
    default: return 0;
  }
}

Bgr pixel_colour(const Image& image, int x, int y) {
  std::uint32_t v = pixel_value(image, x, y);
  int bits = bit_count(image);
  if (bits <= 8) return colour_entry(image, static_cast<int>(v));
  if (bits == 16) return is_565(image) ? unpack_565(static_cast<std::uint16_t>(v))
                                       : unpack_555(static_cast<std::uint16_t>(v));
  return Bgr{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
             static_cast<std::uint8_t>(v >> 16)};
}

bool refresh_layout(Image& image) {
  if (image.dib.size() < dib::header_bytes) return false;
  const std::uint8_t* h = image.dib.data();
  std::uint64_t header_size = base::get_u32(h + dib::size);
  std::int64_t width = static_cast<std::int32_t>(base::get_u32(h + dib::width));
  std::int64_t height = static_cast<std::int32_t>(base::get_u32(h + dib::height));
  int bits = base::get_u16(h + dib::bit_count);
  std::uint32_t clr_used = base::get_u32(h + dib::clr_used);
  std::uint32_t compression = base::get_u32(h + dib::compression);
  if (header_size < dib::header_bytes || header_size > image.dib.size()) return false;
  if (width < 1 || height < 1 || width > base::limits::image_side || height > base::limits::image_side) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;

  std::uint64_t colours;
  if (clr_used != 0)
    colours = clr_used;
  else if (bits == 32)
    colours = 1u << 24;
  else
    colours = 1ull << bits;
  if (bits <= 8 && colours > 256) return false;

  std::uint64_t pixel_offset;
  if (bits <= 8)
    pixel_offset = header_size + colours * 4;
  else if (header_size == dib::header_bytes && compression == 3)
    pixel_offset = 52;  // the three bit-field masks follow the header
  else
    pixel_offset = header_size;

  std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bits + 31) / 32) * 4;
  std::uint64_t size_image = stride * static_cast<std::uint64_t>(height);
  if (size_image > base::limits::image_bytes) return false;
  // Run-length coded rows are shorter than the layout; the decoder replaces
  // the block, so only the table needs to be inside it here.
  bool run_length = compression == 1 || compression == 2;
  if (pixel_offset > image.dib.size()) return false;
  if (!run_length && pixel_offset + size_image > image.dib.size()) return false;

  image.colour_count = static_cast<std::uint32_t>(colours);
  image.colour_table = static_cast<std::uint32_t>(header_size);
  image.pixels = static_cast<std::uint32_t>(pixel_offset);
  image.row_stride = static_cast<std::uint32_t>(stride);
  base::put_u32(image.dib.data() + dib::size_image, static_cast<std::uint32_t>(size_image));
  image.dib_size = static_cast<std::uint32_t>(pixel_offset + size_image);
  return true;
}

bool create_dib(Image& image, std::int64_t width, std::int64_t height, int bits, std::uint32_t table_entries,
                std::uint32_t clr_used, void (*prepare)(void* block, std::size_t size)) {
  release_image(image);
  if (width < 1 || height < 1 || width > base::limits::image_side || height > base::limits::image_side) return false;
  if (table_entries > 256) return false;
  // Sides are at most image_side, so these products stay far inside 64 bits.
  const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32) * 4;
  const std::uint64_t size_image = stride * static_cast<std::uint64_t>(height);
  if (size_image > base::limits::image_bytes) return false;
  const std::uint64_t table_bytes = bits <= 8 ? 4ull * table_entries : (bits == 16 ? 12 : 0);
  const std::size_t total = static_cast<std::size_t>(dib::header_bytes + table_bytes + size_image);
  try {
    image.dib.reserve(total);
    if (prepare != nullptr) prepare(image.dib.data(), total);
    image.dib.assign(total, 0);
  } catch (const std::bad_alloc&) {
    release_image(image);
    return false;
  }
  std::uint8_t* h = image.dib.data();
  base::put_u32(h + dib::size, dib::header_bytes);
  base::put_u32(h + dib::width, static_cast<std::uint32_t>(width));
  base::put_u32(h + dib::height, static_cast<std::uint32_t>(height));
  base::put_u16(h + dib::planes, 1);
  base::put_u16(h + dib::bit_count, static_cast<std::uint16_t>(bits));
  base::put_u32(h + dib::compression, bits == 16 ? 3 : 0);
  base::put_u32(h + dib::x_pels, dib::pels_per_metre);
  base::put_u32(h + dib::y_pels, dib::pels_per_metre);
  base::put_u32(h + dib::clr_used, clr_used);
  base::put_u32(h + dib::clr_important, clr_used);
  if (bits == 16) {
    base::put_u32(h + dib::header_bytes, 0xF800);
    base::put_u32(h + dib::header_bytes + 4, 0x07E0);
    base::put_u32(h + dib::header_bytes + 8, 0x001F);
  }
  // A clr_used that disagrees with table_entries would move the pixel rows.
  if (!refresh_layout(image) || image.dib_size != image.dib.size()) {
    release_image(image);
    return false;
  }
  return true;
}

bool create_image(Image& image, int width, int height, int bits, const Image* templ) {
  if (bits == 0 && templ != nullptr) bits = bit_count(*templ);
  release_image(image);
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24) return false;
  // A palette image has the template's number of entries, at most 2^bits.
  std::uint32_t colours = 0;
  if (bits <= 8) {
    colours = 1u << bits;
    if (templ != nullptr && templ->colour_count >= 1 && templ->colour_count < colours)
      colours = templ->colour_count;
  }
  if (!create_dib(image, width, height, bits, colours, colours)) return false;
  if (bits <= 8) {
    for (std::uint32_t i = 0; i < colours; ++i) {
      Bgr c;
      if (templ != nullptr && bit_count(*templ) <= 8)
        c = colour_entry(*templ, static_cast<int>(i));
      else if (bits == 1)
        c = i == 0 ? rgb(255, 255, 255) : rgb(0, 0, 0);
      else
        c = default_palette(static_cast<int>(i));
      set_colour_entry(image, static_cast<int>(i), c);
    }
  }
  return true;
}

bool duplicate_image(const Image& source, Image& target) {
  if (&source == &target) return true;
  release_image(target);
  if (is_empty(source)) return true;
  try {
    target = source;
  } catch (const std::bad_alloc&) {
    release_image(target);
    return false;
  }
  return true;
}

void release_image(Image& image) {
  if (image.dib.capacity() != 0) std::vector<std::uint8_t>().swap(image.dib);
  image.dib_size = 0;
  image.colour_count = 0;
  image.row_stride = 0;
  image.colour_table = 0;
  image.pixels = 0;
}

void clear_set(ImageSet& set) {
  for (Image& image : set.images) release_image(image);
  set.count = 0;
  set.first_number = 0;
  set.transparent = 0;
  set.transparent_colour = Bgr{};
  set.delays.fill(0);
}

bool copy_set(const ImageSet& source, ImageSet& target) {
  if (&source == &target) return true;
  clear_set(target);
  int end = std::min<int>(source.first_number + source.count, base::limits::image_slots);
  for (int slot = source.first_number; slot < end; ++slot) {
    if (is_empty(source.images[slot])) continue;
    if (!duplicate_image(source.images[slot], target.images[slot])) {
      clear_set(target);
      return false;
    }
    target.delays[slot] = source.delays[slot];
  }
  target.count = source.count;
  target.first_number = source.first_number;
  target.transparent = source.transparent;
  target.transparent_colour = source.transparent_colour;
  return true;
}

int append_set(ImageSet& target, ImageSet& source) {
  int next = target.first_number + target.count;
  int last_delay = next >= 1 && next - 1 < base::limits::image_slots ? target.delays[next - 1] : 0;
  int end = std::min<int>(source.first_number + source.count, base::limits::image_slots);
  for (int slot = source.first_number; slot < end; ++slot) {
    Image& image = source.images[slot];
    if (is_empty(image)) continue;
    if (next < slot) next = slot;  // an image never moves to a lower number
    if (next < base::limits::image_slots) {
      target.images[next] = std::move(image);
      release_image(image);
      target.delays[next] = static_cast<std::uint8_t>(source.delays[slot] != 0 ? source.delays[slot] : last_delay);
    } else {
      release_image(image);
    }
    ++next;
  }
  source.count = 0;
  target.count = static_cast<std::uint16_t>(next <= base::limits::image_slots ? next - target.first_number
                                                                        : base::limits::image_slots - target.first_number);
  return next;
}

bool has_image(const ImageSet& set, int slot) {
  return slot >= set.first_number && slot < set.first_number + set.count && slot < base::limits::image_slots &&
         !is_empty(set.images[static_cast<std::size_t>(slot)]);
}

}  // namespace vexa::imagefiles
