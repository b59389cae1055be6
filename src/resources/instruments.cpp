// The INSTRUMENT directive and the instrument block: cropping the positions
// against the background, encoding, placeholders, I16 files, and decoding a
// block again for the exports.
#include "resources/instruments.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/bytes.h"
#include "base/crc16.h"
#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/bitmap_block.h"
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

// Everything an instrument block must satisfy before its fields and frames
// are used: a valid block of the instrument kind, a background (frame 0) of
// the header's size at the top-left corner, every other frame inside the
// background, and every frame's data decoding inside the block.
bool valid_instrument_block(base::Bytes b, imagefiles::BlockSummary& summary) {
  if (!imagefiles::validate_block(b, summary) || summary.header.kind != imagefiles::block_instrument) return false;
  const imagefiles::BlockHeader& h = summary.header;
  if (h.width == 0 || h.height == 0) return false;
  for (int i = 0; i < summary.layout.entries; ++i) {
    imagefiles::FrameEntry f;
    if (!imagefiles::read_frame_entry(b, h, i, f)) return false;
    if (f.width == 0) {
      if (i == 0) return false;
      continue;
    }
    if (i == 0 && (f.width != h.width || f.height != h.height || f.x != 0 || f.y != 0)) return false;
    if (f.x + f.width > h.width || f.y + f.height > h.height) return false;
    if (!imagefiles::decode_frame(b, h, f, nullptr)) return false;
  }
  return true;
}

// instrument-file -> size(4) block(size) crc(2)
int load_i16(command::Context& ctx, const std::string& name, InstrumentBlock& out) {
  base::report_text(ctx.out, vexa::base::format("Import Instrument <%s>\r\n", name.c_str()), base::to_all);
  const std::string cannot_load = vexa::base::format("cannot load instrument <%s> !", name.c_str());
  std::string file;
  if (!base::read_whole_file(name, file)) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  base::ByteCursor in{base::Bytes(reinterpret_cast<const std::uint8_t*>(file.data()), file.size())};
  std::uint32_t size = 0;
  std::uint16_t stored = 0;
  base::Bytes block;
  // A block that cannot be held by the resource area is as unusable as one
  // the file does not contain completely.
  if (!in.u32(size) || size > base::limits::work_area || !in.take(size, block) || !in.u16(stored)) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  const std::uint16_t computed = base::crc16(block.data(), block.size());
  if (computed != stored) {
    command::report_error(ctx, vexa::base::format("crc is wrong $%04X != $%04X !", computed, stored));
    return 0;
  }
  // The CRC only says the file is what was written; what was written must
  // also be an instrument this program can check, show and export.
  imagefiles::BlockSummary summary;
  if (!valid_instrument_block(block, summary)) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  try {
    out.block.assign(block.begin(), block.end());
  } catch (const std::bad_alloc&) {
    command::report_error(ctx, cannot_load);
    return 0;
  }
  out.block_size = size;
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
  imagefiles::BlockHeader h = block_header(out);
  h.pivot_x = pivot.x;
  h.pivot_y = pivot.y;
  h.start_angle = angle_code(s.instrument_angles[0]);
  h.end_angle = angle_code(s.instrument_angles[1]);
  imagefiles::write_block_header(h, out.block);
  return 1;
}

// The exports of a stored instrument: the G16 file and single BMP files of
// the frames expanded to the background's size, their overview sheet, and
// with the extra bit the sheet of the frames as stored.
void export_instrument(command::Context& ctx, const InstrumentBlock& instrument, int number) {
  const int bits = ctx.settings.export_overview;
  imagefiles::ImageSet& set = ctx.work_set;
  const imagefiles::BlockHeader h = block_header(instrument);
  // The count in the names is the one the information line gives as
  // "images": the number of positions, the last number.
  const int images = h.last;
  const int width = h.width, height = h.height;
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
  for (int i = 0; i < slots; ++i) {
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(first + i)];
    if (!is_empty(image) && bit_count(image) != 16) return false;
  }

  imagefiles::BlockHeader h;
  h.kind = imagefiles::block_instrument;
  h.depth = 16;
  h.transparent = set.transparent;
  h.key = imagefiles::pack_565(set.transparent_colour);
  h.first = first;
  h.last = first + slots - 1;
  h.width = imagefiles::image_width(background);
  h.height = imagefiles::image_height(background);
  out.block_size = 0;
  try {
    out.block.assign(static_cast<std::size_t>(imagefiles::block_layout(h).image_data), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  imagefiles::write_block_header(h, out.block);
  for (int i = 0; i < slots; ++i) {
    const auto slot = static_cast<std::size_t>(first + i);
    const imagefiles::Image& image = set.images[slot];
    if (is_empty(image)) continue;
    imagefiles::FrameEntry entry;
    entry.delay = set.delays[slot];
    entry.x = out.positions[slot].x;
    entry.y = out.positions[slot].y;
    // The background is drawn whole and first; only positions are coded.
    if (!imagefiles::append_frame(out.block, h, i, image, entry, i > 0 ? rle_mode : 0)) return false;
  }
  out.block_size = static_cast<std::uint32_t>(out.block.size());
  return true;
}

int make_dummy_instrument(command::Context& ctx, imagefiles::ImageSet& set, InstrumentBlock& out, int number) {
  imagefiles::BlockHeader kept;
  if (!imagefiles::read_block_header(block_bytes(out), kept)) return 0;
  const int last = kept.last, width = kept.width, height = kept.height;
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
  imagefiles::BlockHeader h = block_header(out);
  h.last = kept.last;
  h.width = kept.width;
  h.height = kept.height;
  h.pivot_x = kept.pivot_x;
  h.pivot_y = kept.pivot_y;
  h.start_angle = kept.start_angle;
  h.end_angle = kept.end_angle;
  h.further = kept.further;
  imagefiles::write_block_header(h, out.block);
  return 1;
}

bool expand_instrument_frames(imagefiles::ImageSet& set, const InstrumentBlock& in, int full) {
  clear_set(set);
  const base::Bytes b = block_bytes(in);
  imagefiles::BlockSummary summary;
  if (!valid_instrument_block(b, summary)) return false;
  const imagefiles::BlockHeader& h = summary.header;
  const int first = h.first, last = h.last;
  // All frames together may not take more than one picture may: a bound on
  // what a block, whatever it claims, makes this allocate.
  const std::uint64_t slots = static_cast<std::uint64_t>(last - first + 1);
  if (static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height) * pixel_bytes * slots > base::limits::image_bytes)
    return false;

  const auto key = static_cast<std::uint16_t>(h.key);
  auto fail = [&set]() {
    clear_set(set);
    return false;
  };
  // Frames as stored first; slot first holds the background.
  for (int slot = first; slot <= last; ++slot) {
    imagefiles::FrameEntry f;
    if (!imagefiles::read_frame_entry(b, h, slot - first, f)) return fail();
    if (f.width == 0) continue;
    imagefiles::Image& image = set.images[static_cast<std::size_t>(slot)];
    if (!imagefiles::create_image(image, f.width, f.height, 16) || !imagefiles::decode_frame(b, h, f, &image)) return fail();
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
  set.transparent = full ? static_cast<std::uint16_t>(h.transparent) : 1;
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

  const imagefiles::BlockHeader h = block_header(instrument);
  const int width = h.width, height = h.height;
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
              vexa::base::format("%d images, size: %dx%d dots, %d bytes\r\n", h.last, width, height,
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
