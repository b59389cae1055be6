// The INSTRUMENT directive and the instrument block: cropping the positions
// against the background, encoding, placeholders, I16 files, and decoding a
// block again for the exports.
#include "resources/instruments.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

#include "base/bytes.h"
#include "base/crc16.h"
#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/colour.h"
#include "resources/bitmap.h"
#include "resources/colour.h"
#include "resources/compilers.h"
#include "resources/dummy.h"
#include "resources/exports.h"
#include "resources/import.h"
#include "resources/resize.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

constexpr NumberRule instrument_rule{"Instrument", command::kind_instruments, 0, 255};
// Instruments report their conversion failures with the animation text.
constexpr const char* cannot_convert = "cannot convert animation !";
constexpr const char* indent_14 = "              ";
constexpr const char* indent_15 = "               ";

constexpr std::uint32_t pixel_bytes = 2;  // every stored frame is 5-6-5

// Header offsets of the fields the compiler fills in after encoding.
constexpr std::size_t at_pivot_x = 22;
constexpr std::size_t at_pivot_y = 24;
constexpr std::size_t at_start_angle = 26;
constexpr std::size_t at_end_angle = 28;
// Bytes 17 to 33 (last number, size, pivot, angles, two further fields)
// survive the replacement by placeholders.
constexpr std::size_t kept_from = 17;
constexpr std::size_t kept_bytes = instrument_header_bytes - kept_from;

// Without a selected model the size check uses the start values of MAXSIZE.
constexpr int default_display = 480;

bool has_extension(const std::string& name, const char* extension) {
  const std::size_t n = std::strlen(extension);
  if (name.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = name[name.size() - n + i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != extension[i]) return false;
  }
  return true;
}

// One frame-table entry of a block, as read.
struct FrameEntry {
  int width = 0;
  int height = 0;
  std::uint32_t offset = 0;
  bool coded = false;
  std::uint8_t delay = 0;
  int x = 0;
  int y = 0;
};

FrameEntry read_entry(const std::uint8_t* e) {
  FrameEntry f;
  f.width = base::get_u16(e);
  f.height = base::get_u16(e + 2);
  f.offset = base::get_u24(e + 4);
  f.coded = (e[7] & 0x80) != 0;
  f.delay = static_cast<std::uint8_t>(e[7] & 0x7F);
  f.x = base::get_u16(e + 8);
  f.y = base::get_u16(e + 10);
  return f;
}

// The frame's data, rows top to bottom, each width x 2 bytes, into the
// caller's rows (row(y) gives the destination of row y; null only checks).
// Raw data must lie inside the block; coded rows must be filled exactly by
// their chunks (the encoder never lets a run cross a row's end), and every
// chunk must lie inside the block.
template <typename RowOf>
bool decode_frame(const std::uint8_t* block, std::uint32_t size, const FrameEntry& f, RowOf row) {
  const std::uint64_t row_bytes = static_cast<std::uint64_t>(f.width) * pixel_bytes;
  if (!f.coded) {
    if (f.offset + row_bytes * static_cast<std::uint64_t>(f.height) > size) return false;
    for (int y = 0; y < f.height; ++y) {
      std::uint8_t* out = row(y);
      if (out != nullptr) std::memcpy(out, block + f.offset + row_bytes * static_cast<std::uint64_t>(y), row_bytes);
    }
    return true;
  }
  std::uint64_t at = f.offset;
  for (int y = 0; y < f.height; ++y) {
    std::uint8_t* out = row(y);
    std::uint64_t filled = 0;
    while (filled < row_bytes) {
      if (at >= size) return false;
      const std::uint8_t control = block[at++];
      const std::uint64_t units = (control & 0x7Fu) + 1u;
      if (filled + units * pixel_bytes > row_bytes) return false;
      if (control & 0x80) {
        if (at + pixel_bytes > size) return false;
        if (out != nullptr)
          for (std::uint64_t u = 0; u < units; ++u) std::memcpy(out + filled + u * pixel_bytes, block + at, pixel_bytes);
        at += pixel_bytes;
      } else {
        if (at + units * pixel_bytes > size) return false;
        if (out != nullptr) std::memcpy(out + filled, block + at, units * pixel_bytes);
        at += units * pixel_bytes;
      }
      filled += units * pixel_bytes;
    }
  }
  return true;
}

// Everything an instrument block must satisfy before its fields and frames
// are used: the signature, a number range whose frame table fits, a
// background (frame 0) of the header's size, every other frame inside the
// background and every frame's data inside the block.
bool valid_instrument_block(const std::uint8_t* b, std::uint32_t size) {
  if (size < instrument_header_bytes) return false;
  if (b[0] != 0x1B || b[1] != 'U' || b[2] != 'L' || b[7] != 'I') return false;
  const int first = b[16], last = b[17];
  if (last < first) return false;
  const std::uint32_t slots = static_cast<std::uint32_t>(last - first + 1);
  if (instrument_header_bytes + instrument_entry_bytes * slots > size) return false;
  const int width = base::get_u16(b + 18), height = base::get_u16(b + 20);
  if (width == 0 || height == 0) return false;
  for (std::uint32_t i = 0; i < slots; ++i) {
    FrameEntry f = read_entry(b + instrument_header_bytes + instrument_entry_bytes * i);
    if (f.width == 0) {
      if (i == 0) return false;
      continue;
    }
    if (i == 0 && (f.width != width || f.height != height || f.x != 0 || f.y != 0)) return false;
    if (f.height == 0 || f.x + f.width > width || f.y + f.height > height) return false;
    if (!decode_frame(b, size, f, [](int) -> std::uint8_t* { return nullptr; })) return false;
  }
  return true;
}

// instrument-file -> size(4) block(size) crc(2)
int load_i16(command::Context& ctx, const std::string& name, InstrumentBlock& out) {
  base::report_text(ctx.out, vexa::base::format("Import Instrument <%s>\r\n", name.c_str()), base::to_all);
  const std::string cannot_load = vexa::base::format("cannot load instrument <%s> !", name.c_str());
  std::string file;
  if (!base::read_whole_file(name, file) || file.size() < 4) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  const std::uint64_t size = base::get_u32(bytes);
  // A block that cannot be held by the resource area is as unusable as one
  // the file does not contain completely.
  if (size > base::limits::work_area || 4 + size + 2 > file.size()) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  const std::uint16_t computed = base::crc16(bytes + 4, static_cast<std::size_t>(size));
  const std::uint16_t stored = base::get_u16(bytes + 4 + size);
  if (computed != stored) {
    command::report_error(ctx, vexa::base::format("crc is wrong $%04X != $%04X !", computed, stored));
    return 0;
  }
  // The CRC only says the file is what was written; what was written must
  // also be an instrument this program can check, show and export.
  if (!valid_instrument_block(bytes + 4, static_cast<std::uint32_t>(size))) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  try {
    out.block.assign(bytes + 4, bytes + 4 + size);
  } catch (const std::bad_alloc&) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  out.block_size = static_cast<std::uint32_t>(size);
  return 1;
}

// Steps 2 to 7 of an instrument built from a numbered file sequence.
int build_instrument(command::Context& ctx, int first_file_number, InstrumentBlock& out) {
  if (!import_images(ctx, "Instrument", base::limits::image_slots)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  if (set_image_count(set) < 2) {
    command::report_error(ctx, "an instrument is only possible with 2 or more pictures !");
    return 0;
  }
  command::Settings& s = ctx.settings;
  for (int i = 0; i < 2; ++i)
    if (s.instrument[static_cast<std::size_t>(i)] >= -180 && s.instrument[static_cast<std::size_t>(i)] <= 180)
      s.instrument_angles[static_cast<std::size_t>(i)] = s.instrument[static_cast<std::size_t>(i)];
  const imagefiles::Image* first = set_first_image(set);
  FramePosition pivot = instrument_pivot(s.instrument[2], s.instrument[3], imagefiles::image_width(*first), imagefiles::image_height(*first));

  // The pivot is a point of the pictures as drawn: a border cut off moves it
  // with them. Scaling is left alone; a pivot given for a picture that is
  // too big is the user's to fit.
  if (remove_borders(ctx, set, &pivot.x, &pivot.y) < 0) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  if (!fit_to_max_size(ctx, set)) return 0;
  if (!convert_set_depth(set, 16, 0)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  // A sequence numbered from 1 has no picture of its own for the
  // background: the first position serves as both.
  if (set.first_number == 1 && first_file_number == 1) {
    if (!imagefiles::duplicate_image(set.images[1], set.images[0])) {
      command::report_error(ctx, cannot_convert);
      return 0;
    }
    set.delays[0] = set.delays[1];
    set.first_number = 0;
    ++set.count;
  }
  if (!crop_instrument_frames(set, out) || !encode_instrument(set, out, 1)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  std::uint8_t* h = out.block.data();
  base::put_u16(h + at_pivot_x, static_cast<std::uint16_t>(pivot.x));
  base::put_u16(h + at_pivot_y, static_cast<std::uint16_t>(pivot.y));
  base::put_u16(h + at_start_angle, static_cast<std::uint16_t>(angle_code(s.instrument_angles[0])));
  base::put_u16(h + at_end_angle, static_cast<std::uint16_t>(angle_code(s.instrument_angles[1])));
  return 1;
}

// The exports of a stored instrument: the G16 file and single BMP files of
// the frames expanded to the background's size, their overview sheet, and
// with the extra bit the sheet of the frames as stored.
void export_instrument(command::Context& ctx, const InstrumentBlock& instrument, int number) {
  const int bits = ctx.settings.export_overview;
  imagefiles::ImageSet& set = ctx.work_set;
  const std::uint8_t* h = instrument.block.data();
  // The count in the names is the one the information line gives as
  // "images": the number of positions, header byte 17.
  const int images = h[17];
  const int width = base::get_u16(h + 18), height = base::get_u16(h + 20);
  // These names carry no directory: they go to the current directory.
  const std::string sheet_name = vexa::base::format("Instrument%d_%dx.bmp", number, images);
  if (!expand_instrument_frames(set, instrument, 1)) {
    command::report_error(ctx, vexa::base::format("cannot export overview <%s> !", sheet_name.c_str()));
    return;
  }
  if (bits & export_g16_file) export_g16(ctx, set, vexa::base::format("Instrument%d_%dx.G16", number, images));
  if (bits & export_bmp_files)
    export_single_bmps(ctx, set, vexa::base::format("%sInstrument%d", ctx.settings.macro_directory.c_str(), number));
  export_sheet(ctx, sheet_name, set, width, height, 10, 4);
  if (bits & export_extra) {
    const std::string cropped_name = vexa::base::format("Instrument%d_%dx_cropped.bmp", number, images);
    if (!expand_instrument_frames(set, instrument, 0)) {
      command::report_error(ctx, vexa::base::format("cannot export overview <%s> !", cropped_name.c_str()));
      return;
    }
    export_sheet(ctx, cropped_name, set, width, height, 10, 3);
  }
}

}  // namespace

int angle_code(int degrees) { return degrees <= 90 ? 90 - degrees : 450 - degrees; }

FramePosition instrument_pivot(int p2, int p3, int width, int height) {
  if (p3 < pivot_y_absent) return FramePosition{p2, p3};
  const int code = p2 >= 1 && p2 <= 9 ? p2 : 5;
  const int column = (code - 1) % 3;  // 0 left, 1 middle, 2 right
  const int row = (code - 1) / 3;     // 0 top, 1 middle, 2 bottom
  return FramePosition{column == 0 ? 0 : (column == 1 ? width / 2 : width),
                       row == 0 ? 0 : (row == 1 ? height / 2 : height)};
}

// Frames of another size than the background: a position is drawn inside
// the background's rectangle, whose pixels the module restores by drawing
// the background. So a frame is first cut to the background's size (it lies
// at the top-left corner, as every picture of the sequence does), which
// keeps every comparison inside both images; a smaller frame is compared over
// its own area only, the rest of the background being unchanged by it.
bool crop_instrument_frames(imagefiles::ImageSet& set, InstrumentBlock& out) {
  if (set.count == 0) return false;
  if (set.first_number != 0) {
    const int from = set.first_number;
    const int n = std::min<int>(set.count, base::limits::image_slots - from);
    for (int i = 0; i < n; ++i) {
      set.images[static_cast<std::size_t>(i)] = std::move(set.images[static_cast<std::size_t>(from + i)]);
      set.images[static_cast<std::size_t>(from + i)] = imagefiles::Image{};
      set.delays[static_cast<std::size_t>(i)] = set.delays[static_cast<std::size_t>(from + i)];
      set.delays[static_cast<std::size_t>(from + i)] = 0;
    }
    set.first_number = 0;
    set.count = static_cast<std::uint16_t>(n);
  }
  imagefiles::Image& background = set.images[0];
  if (is_empty(background)) return false;
  const int bits = bit_count(background);
  if (bits != 16 && bits != 24) return false;
  const std::size_t bpp = static_cast<std::size_t>(bits / 8);

  if (set.transparent == 0) {
    imagefiles::Image sheet;
    if (!stack_sheet(set, sheet) || !find_unused_colour(sheet, set.transparent_colour)) return false;
  }
  std::uint8_t key[3];
  if (bits == 16) {
    base::put_u16(key, pack_565(set.transparent_colour));
  } else {
    key[0] = set.transparent_colour.blue;
    key[1] = set.transparent_colour.green;
    key[2] = set.transparent_colour.red;
  }

  out.positions = {};
  const int bw = imagefiles::image_width(background), bh = image_height(background);
  const int end = std::min<int>(set.count, base::limits::image_slots);
  for (int i = 1; i < end; ++i) {
    imagefiles::Image& frame = set.images[static_cast<std::size_t>(i)];
    if (is_empty(frame)) continue;
    if (bit_count(frame) != bits) return false;
    if (imagefiles::image_width(frame) > bw || imagefiles::image_height(frame) > bh) {
      if (!crop_image(frame, 0, 0, std::min(image_width(frame), bw) - 1, std::min(imagefiles::image_height(frame), bh) - 1))
        return false;
    }
    const int w = imagefiles::image_width(frame), h = image_height(frame);
    const std::size_t row_bytes = static_cast<std::size_t>(w) * bpp;
    auto row_equal = [&](int y) { return std::memcmp(imagefiles::row_pointer(frame, y), row_pointer(background, y), row_bytes) == 0; };
    auto column_equal = [&](int x, int top, int bottom) {
      for (int y = top; y <= bottom; ++y)
        if (std::memcmp(imagefiles::row_pointer(frame, y) + x * bpp, row_pointer(background, y) + x * bpp, bpp) != 0) return false;
      return true;
    };
    int top = 0;
    while (top < h && row_equal(top)) ++top;
    Rect r;  // (0,0)-(0,0) when the position shows nothing new
    if (top < h) {
      int bottom = h - 1;
      while (row_equal(bottom)) --bottom;
      int left = 0;
      while (column_equal(left, top, bottom)) ++left;
      int right = w - 1;
      while (column_equal(right, top, bottom)) --right;
      r = Rect{left, top, right, bottom};
    }
    if (!crop_image(frame, r.left, r.top, r.right, r.bottom)) return false;
    out.positions[static_cast<std::size_t>(i)] = FramePosition{r.left, r.top};
    const int cw = image_width(frame), ch = image_height(frame);
    for (int y = 0; y < ch; ++y) {
      std::uint8_t* p = imagefiles::row_pointer(frame, y);
      const std::uint8_t* under = row_pointer(background, r.top + y) + static_cast<std::size_t>(r.left) * bpp;
      for (int x = 0; x < cw; ++x, p += bpp, under += bpp)
        if (std::memcmp(p, under, bpp) == 0) std::memcpy(p, key, bpp);
    }
  }
  return true;
}

bool encode_instrument(const imagefiles::ImageSet& set, InstrumentBlock& out, int rle_mode) {
  const int first = set.first_number;
  if (set.count == 0 || !imagefiles::has_image(set, first)) return false;
  const imagefiles::Image& background = set.images[static_cast<std::size_t>(first)];
  if (bit_count(background) != 16) return false;
  const int slots = std::min<int>(set.count, base::limits::image_slots - first);

  std::uint64_t estimate = instrument_header_bytes + instrument_entry_bytes * static_cast<std::uint64_t>(slots);
  for (int i = 0; i < slots; ++i) {
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(first + i)];
    if (is_empty(image)) continue;
    if (bit_count(image) != 16) return false;
    estimate += static_cast<std::uint64_t>(imagefiles::image_width(image)) * pixel_bytes * static_cast<std::uint64_t>(imagefiles::image_height(image));
  }
  // Twice the raw size holds even forced coding, which at worst doubles a frame.
  out.block_size = 0;
  try {
    out.block.assign(2 * estimate, 0);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  std::uint8_t* h = out.block.data();
  h[0] = 0x1B;
  h[1] = 'U';
  h[2] = 'L';
  h[7] = 'I';
  h[8] = '1';
  h[9] = '6';
  h[10] = 16;
  h[11] = static_cast<std::uint8_t>(set.transparent);
  base::put_u16(h + 12, imagefiles::pack_565(set.transparent_colour));
  h[16] = static_cast<std::uint8_t>(first);
  h[17] = static_cast<std::uint8_t>(first + slots - 1);
  base::put_u16(h + 18, static_cast<std::uint16_t>(imagefiles::image_width(background)));
  base::put_u16(h + 20, static_cast<std::uint16_t>(imagefiles::image_height(background)));

  std::uint64_t offset = instrument_header_bytes + instrument_entry_bytes * static_cast<std::uint64_t>(slots);
  std::vector<std::uint8_t> packed;
  for (int i = 0; i < slots; ++i) {
    const int slot = first + i;
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(slot)];
    if (is_empty(image)) continue;
    // Offsets are 24-bit; a bigger block fits no module.
    if (offset > 0xFFFFFF) return false;
    std::uint8_t* entry = h + instrument_header_bytes + instrument_entry_bytes * static_cast<std::uint32_t>(i);
    const int width = imagefiles::image_width(image), height = image_height(image);
    base::put_u16(entry, static_cast<std::uint16_t>(width));
    base::put_u16(entry + 2, static_cast<std::uint16_t>(height));
    base::put_u24(entry + 4, static_cast<std::uint32_t>(offset));
    entry[7] = static_cast<std::uint8_t>(set.delays[static_cast<std::size_t>(slot)] & 0x7F);
    base::put_u16(entry + 8, static_cast<std::uint16_t>(out.positions[static_cast<std::size_t>(slot)].x));
    base::put_u16(entry + 10, static_cast<std::uint16_t>(out.positions[static_cast<std::size_t>(slot)].y));

    const std::size_t row = static_cast<std::size_t>(width) * pixel_bytes;
    const std::size_t raw = row * static_cast<std::size_t>(height);
    // The background is drawn whole and first; only positions are coded.
    const bool compress = i > 0 && (rle_mode == 1 || (rle_mode == 2 && row / pixel_bytes > 2));
    if (compress) {
      packed.clear();
      try {
        packed.reserve(2 * raw);
        for (int y = 0; y < height; ++y) encode_rle_row(imagefiles::row_pointer(image, y), row, pixel_bytes, packed);
      } catch (const std::bad_alloc&) {
        return false;
      }
      if (rle_mode == 1 || packed.size() < raw - raw / 10) {
        std::memcpy(h + offset, packed.data(), packed.size());
        offset += packed.size();
        entry[7] |= 0x80;
        continue;
      }
    }
    for (int y = 0; y < height; ++y) {
      std::memcpy(h + offset, imagefiles::row_pointer(image, y), row);
      offset += row;
    }
  }
  out.block_size = static_cast<std::uint32_t>(offset);
  out.block.resize(out.block_size);
  return true;
}

int make_dummy_instrument(command::Context& ctx, imagefiles::ImageSet& set, InstrumentBlock& out, int number) {
  if (out.block_size < instrument_header_bytes) return 0;
  std::uint8_t kept[kept_bytes];
  std::memcpy(kept, out.block.data() + kept_from, kept_bytes);
  const int last = kept[0];
  const int width = base::get_u16(kept + 1), height = base::get_u16(kept + 3);
  imagefiles::clear_set(set);
  set.first_number = 0;
  set.count = static_cast<std::uint16_t>(last + 1);
  for (int s = 0; s <= last; ++s) {
    if (!imagefiles::create_image(set.images[static_cast<std::size_t>(s)], width, height, 16)) {
      command::report_error(ctx, cannot_convert);
      return 0;
    }
  }
  if (!make_dummy_images(ctx, set, 'I', number)) return 0;
  if (!convert_set_depth(set, 16, 0) || !crop_instrument_frames(set, out) || !encode_instrument(set, out, 1)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  std::memcpy(out.block.data() + kept_from, kept, kept_bytes);
  return 1;
}

bool expand_instrument_frames(imagefiles::ImageSet& set, const InstrumentBlock& in, int full) {
  clear_set(set);
  const std::uint32_t size = std::min<std::uint32_t>(in.block_size, static_cast<std::uint32_t>(in.block.size()));
  const std::uint8_t* b = in.block.data();
  if (!valid_instrument_block(b, size)) return false;
  const int first = b[16], last = b[17];
  const int width = base::get_u16(b + 18), height = base::get_u16(b + 20);
  // All frames together may not take more than one picture may: a bound on
  // what a block, whatever it claims, makes this allocate.
  const std::uint64_t slots = static_cast<std::uint64_t>(last - first + 1);
  if (static_cast<std::uint64_t>(width) * height * pixel_bytes * slots > base::limits::image_bytes) return false;

  const std::uint16_t key = base::get_u16(b + 12);
  auto fail = [&set]() {
    clear_set(set);
    return false;
  };
  // Frames as stored first; slot first holds the background.
  for (int slot = first; slot <= last; ++slot) {
    FrameEntry f = read_entry(b + instrument_header_bytes + instrument_entry_bytes * static_cast<std::uint32_t>(slot - first));
    if (f.width == 0) continue;
    imagefiles::Image& image = set.images[static_cast<std::size_t>(slot)];
    if (!imagefiles::create_image(image, f.width, f.height, 16)) return fail();
    if (!decode_frame(b, size, f, [&image](int y) { return imagefiles::row_pointer(image, y); })) return fail();
    set.delays[static_cast<std::size_t>(slot)] = f.delay;
    if (full && slot != first) {
      // The background with the frame's changed pixels drawn at its place.
      imagefiles::Image picture;
      if (!duplicate_image(set.images[static_cast<std::size_t>(first)], picture)) return fail();
      for (int y = 0; y < f.height; ++y) {
        const std::uint8_t* p = imagefiles::row_pointer(image, y);
        std::uint8_t* to = imagefiles::row_pointer(picture, f.y + y) + static_cast<std::size_t>(f.x) * pixel_bytes;
        for (int x = 0; x < f.width; ++x, p += pixel_bytes, to += pixel_bytes)
          if (base::get_u16(p) != key) std::memcpy(to, p, pixel_bytes);
      }
      image = std::move(picture);
    }
  }
  set.first_number = static_cast<std::uint16_t>(first);
  set.count = static_cast<std::uint16_t>(slots);
  set.transparent_colour = imagefiles::unpack_565(key);
  set.transparent = full ? b[11] : 1;
  return true;
}

// instrument -> INSTRUMENT number [ '[' page ']' ] ( '<' file.I16 '>' | '<' sequence-with-'?' '>' ... )
int compile_instrument(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, instrument_rule, number, page)) return 0;
  command::Source& src = ctx.source;
  const std::size_t name_start = src.pos;
  std::string name, first_file;
  int first_file_number = -1;
  if (!peek_import_name(ctx, name, first_file, first_file_number)) return 0;

  InstrumentBlock instrument;
  if (has_extension(name, ".I16")) {
    if (!load_i16(ctx, name, instrument)) return 0;
  } else {
    // Pictures make an instrument only as a numbered sequence: the
    // background and the positions in their order.
    const std::size_t bracket = src.line.find('<', name_start);
    const std::string rest = bracket == std::string::npos ? std::string() : src.line.substr(bracket);
    if (rest.find('?') == std::string::npos) {
      command::report_error(ctx, vexa::base::format("wrong instrument type %s !", rest.c_str()));
      return 0;
    }
    if (!build_instrument(ctx, first_file_number, instrument)) return 0;
  }

  const std::uint8_t* h = instrument.block.data();
  const int width = base::get_u16(h + 18), height = base::get_u16(h + 20);
  int display_width = default_display, display_height = default_display;
  if (ctx.settings.model >= 0) {
    display_width = base::models[static_cast<std::size_t>(ctx.settings.model)].width;
    display_height = base::models[static_cast<std::size_t>(ctx.settings.model)].height;
  }
  // Both sides are held against the display's width, the bound MAXSIZE
  // accepts for either side.
  if (width > display_width || height > display_width) {
    command::report_error(ctx, vexa::base::format("The Instrument is to big (max. %dx%d dots) !", display_width, display_height));
    return 0;
  }
  report_info(ctx, indent_14,
              vexa::base::format("%d images, size: %dx%d dots, %d bytes\r\n", h[17], width, height,
                           static_cast<int>(instrument.block_size))
                  .c_str());
  if (is_big_resource(ctx, 'I', instrument.block_size)) {
    if (!make_dummy_instrument(ctx, ctx.work_set, instrument, number)) return 0;
    report_info(ctx, indent_15,
                vexa::base::format("Instrument > %dkB, replace with small dummy images, %d bytes\r\n",
                             ctx.settings.big_limit / 1024, static_cast<int>(instrument.block_size))
                    .c_str());
  }
  if (!store_resource(ctx, command::kind_instruments, page, number, instrument.block.data(), instrument.block_size))
    return 0;
  if (ctx.settings.export_overview & export_instruments) export_instrument(ctx, instrument, number);
  return 1;
}

}  // namespace vexa::resources
