// The ANIMATION directive and its difference frames.
#include "resources/animations.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/format.h"
#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/colour.h"
#include "resources/bitmap.h"
#include "resources/colour.h"
#include "resources/compilers.h"
#include "resources/exports.h"
#include "resources/import.h"
#include "resources/resize.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

constexpr NumberRule animation_rule{"Animation", command::kind_animations, 0, 255};
constexpr const char* cannot_convert = "cannot convert animation !";
constexpr const char* indent_17 = "                 ";
constexpr int difference_flag = 2;  // the transparency field of a block of difference frames

// MAXCOLORDEPTH: a set deeper than the limit is converted to it through one
// shared palette.
bool limit_depth(imagefiles::ImageSet& set, int max_depth) {
  const imagefiles::Image* first = set_first_image(set);
  if (first == nullptr) return false;
  return bit_count(*first) <= max_depth || convert_set_depth(set, max_depth, 0);
}

// The exports of a stored animation, all in the macro file's directory and
// named after the first file the import loaded (for a '?' sequence its first
// match: the pattern itself is no valid file name on every system): the full
// frames as G16 file and single BMP
// files, with the extra bit the difference frames as G16 file and sheet, and
// always the sheet of the full frames.
void export_animation(command::Context& ctx, imagefiles::ImageSet& full, imagefiles::ImageSet& difference, const BitmapBlock& block, int number,
                      const std::string& first_file) {
  const int bits = ctx.settings.export_overview;
  const imagefiles::BlockHeader h = block_header(block);
  const int width = h.width, height = h.height;
  const int first = full.first_number, last = full.first_number + full.count - 1;
  const std::string prefix = vexa::base::format("%sAnimation%d_%s", ctx.settings.macro_directory.c_str(), number,
                                          export_base_name(first_file).c_str());
  const std::string range = vexa::base::format("%s_%d-%d", prefix.c_str(), first, last);
  if (bits & export_g16_file) export_g16(ctx, full, range + ".G16");
  if (bits & export_bmp_files) export_single_bmps(ctx, full, prefix);
  if ((bits & export_extra) && ctx.settings.compress != 0) {
    export_g16(ctx, difference, range + "_difference.G16");
    export_sheet(ctx, range + "_difference.bmp", difference, width, height, 10, 3);
  }
  export_sheet(ctx, range + ".bmp", full, width, height, 10, 3);
}

// The screen an animation is played on, in 24 bits, and which of its dots a
// frame has drawn; false when there is no memory for it.
bool clear_screen(int width, int height, std::vector<std::uint8_t>& screen, std::vector<std::uint8_t>& drawn) {
  const std::size_t dots = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  try {
    screen.assign(dots * 3, 0);
    drawn.assign(dots, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

// Frames of another size than the first: every frame is drawn from the
// screen's top-left corner, so the screen is as large as the largest frame
// and each pixel is compared with the same place on it. A place no frame has
// drawn yet (outside the first frame) is never "unchanged", so a comparison
// never reads outside the frame or the screen and no pixel is lost.
bool make_difference_frames(imagefiles::ImageSet& set) {
  const int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  int first = -1, screen_w = 0, screen_h = 0;
  for (int s = set.first_number; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    if (!imagefiles::convert_to_24_bit(image)) return false;
    if (first < 0) first = s;
    screen_w = std::max(screen_w, imagefiles::image_width(image));
    screen_h = std::max(screen_h, imagefiles::image_height(image));
  }
  if (first < 0) return false;
  if (set.transparent == 0) {
    imagefiles::Image sheet;
    imagefiles::Bgr key;
    if (!stack_sheet(set, sheet) || !imagefiles::find_unused_colour(sheet, key)) return false;
    set.transparent_colour = key;
    set.transparent = 1;
  }
  const std::uint8_t key[3] = {set.transparent_colour.blue, set.transparent_colour.green, set.transparent_colour.red};

  std::vector<std::uint8_t> screen, drawn;
  if (!clear_screen(screen_w, screen_h, screen, drawn)) return false;
  auto place = [screen_w](int x, int y) { return static_cast<std::size_t>(y) * static_cast<std::size_t>(screen_w) + static_cast<std::size_t>(x); };
  {
    const imagefiles::Image& image = set.images[static_cast<std::size_t>(first)];
    for (int y = 0; y < imagefiles::image_height(image); ++y) {
      std::memcpy(screen.data() + 3 * place(0, y), imagefiles::row_pointer(image, y), static_cast<std::size_t>(imagefiles::image_width(image)) * 3);
      std::fill_n(drawn.begin() + static_cast<std::ptrdiff_t>(place(0, y)), imagefiles::image_width(image), 1);
    }
  }
  for (int s = first + 1; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    const int w = imagefiles::image_width(image), h = image_height(image);
    for (int y = 0; y < h; ++y) {
      std::uint8_t* p = imagefiles::row_pointer(image, y);
      for (int x = 0; x < w; ++x, p += 3) {
        const std::size_t at = place(x, y);
        std::uint8_t* shown = screen.data() + 3 * at;
        if (drawn[at] && std::memcmp(p, shown, 3) == 0) {
          std::memcpy(p, key, 3);
        } else if (std::memcmp(p, key, 3) != 0) {
          std::memcpy(shown, p, 3);
          drawn[at] = 1;
        }
      }
    }
  }
  return true;
}

bool compose_difference_frames(imagefiles::ImageSet& set) {
  if (set.transparent != difference_flag) return true;
  const int end = std::min<int>(set.first_number + set.count, base::limits::image_slots);
  int screen_w = 0, screen_h = 0;
  for (int s = set.first_number; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    if (!imagefiles::convert_to_24_bit(image)) return false;
    screen_w = std::max(screen_w, imagefiles::image_width(image));
    screen_h = std::max(screen_h, imagefiles::image_height(image));
  }
  const std::uint8_t key[3] = {set.transparent_colour.blue, set.transparent_colour.green, set.transparent_colour.red};
  std::vector<std::uint8_t> screen, drawn;
  if (!clear_screen(screen_w, screen_h, screen, drawn)) return false;
  // A key pixel where nothing was drawn yet stays the key colour: the
  // frame's own transparent pixel.
  for (int s = set.first_number; s < end; ++s) {
    imagefiles::Image& image = set.images[static_cast<std::size_t>(s)];
    if (is_empty(image)) continue;
    for (int y = 0; y < imagefiles::image_height(image); ++y) {
      std::uint8_t* p = imagefiles::row_pointer(image, y);
      for (int x = 0; x < imagefiles::image_width(image); ++x, p += 3) {
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(screen_w) + static_cast<std::size_t>(x);
        if (std::memcmp(p, key, 3) != 0) {
          std::memcpy(screen.data() + 3 * at, p, 3);
          drawn[at] = 1;
        } else if (drawn[at]) {
          std::memcpy(p, screen.data() + 3 * at, 3);
        }
      }
    }
  }
  set.transparent = 0;
  return true;
}

// animation -> ANIMATION number [ '[' page ']' ] '<' file '>' { '<' file '>' }
int compile_animation(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, animation_rule, number, page)) return 0;
  std::string name, first_file;
  int first_file_number = -1;
  if (!peek_import_name(ctx, name, first_file, first_file_number)) return 0;
  if (!import_images(ctx, "Animation", base::limits::image_slots)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  if (set_image_count(set) < 2) {
    command::report_error(ctx, "an animation is only possible with 2 or more pictures !");
    return 0;
  }
  const command::Settings& s = ctx.settings;
  if (!fit_to_max_size(ctx, set)) return 0;
  if (remove_borders(ctx, set) < 0) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  // The full frames are only needed by the exports; without them the copy
  // (and its memory) is left out.
  const bool exporting = (s.export_overview & export_animations) != 0;
  imagefiles::ImageSet& full = ctx.second_set;
  base::ReportLines none;  // report depth 0: the analyses have nothing to say
  if (exporting && (!imagefiles::copy_set(set, full) || !analyse_set_colours(full, 0, none) ||
                    !limit_depth(full, s.max_colour_depth))) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  if (s.compress != 0 && (!make_difference_frames(set) || !analyse_set_colours(set, 0, none))) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  BitmapBlock block;
  if (!limit_depth(set, s.max_colour_depth) || !encode_bitmap(set, block, s.rle_mode, s.dithering)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  imagefiles::BlockHeader h = block_header(block);
  if (s.compress != 0) {
    h.transparent = difference_flag;
    imagefiles::write_block_header(h, block.block);
  }
  report_info(ctx, indent_17,
              vexa::base::format("image number: %d..%d, size: %dx%d dots, colordepth: %d-bit, %d bytes\r\n", h.first, h.last,
                                 h.width, h.height, h.depth, static_cast<int>(block.block_size))
                  .c_str());
  // Placeholders are full frames: their block carries the encoder's own
  // transparency byte, not the difference flag.
  if (!replace_big_resource(ctx, set, block, 'A', number,
                            "Animation > %dkB, replace with small dummy images, %d bytes\r\n", cannot_convert))
    return 0;
  if (!store_resource(ctx, command::kind_animations, page, number, block.block.data(), block.block_size)) return 0;
  if (exporting) export_animation(ctx, full, set, block, number, first_file);
  return 1;
}

}  // namespace vexa::resources
