// The PICTURE and BUTTON directives.
#include "resources/pictures.h"

#include "base/format.h"
#include "command/context.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/colour.h"
#include "resources/bitmap.h"
#include "resources/colour.h"
#include "resources/compilers.h"
#include "resources/import.h"
#include "resources/resize.h"
#include "resources/store.h"

namespace vexa::resources {

namespace {

constexpr NumberRule picture_rule{"Picture", command::kind_pictures, 0, 255};
constexpr NumberRule button_rule{"Button", command::kind_buttons, 0, 255};
constexpr const char* cannot_convert = "cannot convert picture !";

// The last image in the set's used range, or null.
const imagefiles::Image* last_image(const imagefiles::ImageSet& set) {
  for (int s = std::min<int>(set.first_number + set.count, base::limits::image_slots) - 1; s >= set.first_number; --s)
    if (!is_empty(set.images[static_cast<std::size_t>(s)])) return &set.images[static_cast<std::size_t>(s)];
  return nullptr;
}

// The common end of PICTURE and BUTTON: encodes the prepared set, writes the
// "size: ..." line (largest width and height, stored depth, bytes), swaps a
// too big resource for placeholders and stores it.
int encode_and_store(command::Context& ctx, imagefiles::ImageSet& set, const NumberRule& rule, int number, int page, char letter,
                     const char* indent, const char* big_line) {
  BitmapBlock block;
  if (!encode_bitmap(set, block, ctx.settings.rle_mode, ctx.settings.dithering)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  const imagefiles::BlockHeader h = block_header(block);
  report_info(ctx, indent,
              vexa::base::format("size: %dx%d dots, colordepth: %d-bit, %d bytes\r\n", h.width, h.height, h.depth,
                                 static_cast<int>(block.block_size))
                  .c_str());
  if (!replace_big_resource(ctx, set, block, letter, number, big_line, cannot_convert)) return 0;
  return store_resource(ctx, rule.kind, page, number, block.block.data(), block.block_size);
}

}  // namespace

int prepare_picture(command::Context& ctx, imagefiles::ImageSet& set) {
  const command::Settings& s = ctx.settings;
  if (!fit_to_max_size(ctx, set)) return 0;
  if (remove_borders(ctx, set) < 0) return -1;
  base::ReportLines lines;
  const bool changed = change_colour_depth(set, s.max_colour_depth, s.dithering, lines);
  base::report_lines(ctx.out, lines, base::to_all);
  imagefiles::Image* first = set_first_image(set);
  if (!changed || first == nullptr) return -1;
  lines.clear();
  analyse_colours(*first, bit_count(*first), set.transparent != 0, lines);
  base::report_lines(ctx.out, lines, base::to_all);
  return 1;
}

// picture -> PICTURE number [ '[' page ']' ] '<' file '>'
int compile_picture(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, picture_rule, number, page)) return 0;
  if (!import_images(ctx, "Picture", 1)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  int prepared = prepare_picture(ctx, set);
  if (prepared <= 0) {
    if (prepared < 0) command::report_error(ctx, cannot_convert);
    return 0;
  }
  return encode_and_store(ctx, set, picture_rule, number, page, 'P', "               ",
                          "Picture > %dkB, replace with a small dummy image, %d bytes\r\n");
}

// button -> BUTTON number [ '[' page ']' ] '<' released '>' [ '<' pressed '>' ]
int compile_button(command::Context& ctx) {
  ReleaseSets release(ctx);
  int number = 0, page = 0;
  if (!read_resource_number(ctx, button_rule, number, page)) return 0;
  if (!import_images(ctx, "Button", 2)) return 0;
  imagefiles::ImageSet& set = ctx.work_set;
  const imagefiles::Image* first = set_first_image(set);
  const imagefiles::Image* last = last_image(set);
  if (first == nullptr || last == nullptr || imagefiles::image_width(*first) != imagefiles::image_width(*last) ||
      imagefiles::image_height(*first) != imagefiles::image_height(*last)) {
    command::report_error(ctx, "Only two Buttons with the same size are allowed!");
    return 0;
  }
  // Both states share one palette; a button is only scaled, never cropped
  // apart from its states.
  const command::Settings& s = ctx.settings;
  base::ReportLines lines;
  const bool analysed = analyse_set_colours(set, bit_count(*first), lines);
  base::report_lines(ctx.out, lines, base::to_all);
  if (!analysed) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  if (!fit_to_max_size(ctx, set)) return 0;
  lines.clear();
  const bool changed = change_colour_depth(set, s.max_colour_depth, s.dithering, lines);
  base::report_lines(ctx.out, lines, base::to_all);
  if (!changed) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  return encode_and_store(ctx, set, button_rule, number, page, 'B', "              ",
                          "Button > %dkB, replace with small dummy images, %d bytes\r\n");
}

}  // namespace vexa::resources
