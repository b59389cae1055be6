#include "resources/inline_picture.h"

#include <string>

#include "base/format.h"
#include "command/context.h"
#include "command/encoder.h"
#include "command/parameters.h"
#include "command/source.h"
#include "command/work_areas.h"
#include "imagefiles/dispatch.h"
#include "resources/bitmap.h"
#include "resources/import.h"
#include "resources/pictures.h"

namespace vexa::resources {

// inline-picture -> ('CL' | 'UL') x ',' y '<' file '>'
int inline_picture(command::Context& ctx, char first) {
  if (command::parse_word_list(ctx, base::limits::list_unlimited) != 2) {
    command::report_error(ctx, "wrong number of parameters");
    return 0;
  }
  std::string name;
  if (!command::read_file_name(ctx, name)) {
    if (first == 'C') command::report_error(ctx, "wrong number of parameters");
    return 0;
  }
  // The name is loaded as written: a '?' in it names no sequence here (only
  // the resource directives import lists), so such a name is not found.

  ReleaseSets release(ctx);
  imagefiles::ImageSet& set = ctx.work_set;
  if (load_image_file(ctx, set, name) == 0) {
    command::report_error(ctx, vexa::base::format("cannot load picture <%s> !", name.c_str()));
    return 0;
  }
  if (set_image_count(set) != 1) {
    command::report_error(ctx, "it is only possible to load single Bitmaps !");
    return 0;
  }
  pick_transparent_colour(set, ctx.settings.make_transparent);
  const std::string cannot_convert = vexa::base::format("cannot convert picture %s !", name.c_str());
  int prepared = prepare_picture(ctx, set);
  if (prepared <= 0) {
    if (prepared < 0) command::report_error(ctx, cannot_convert);
    return 0;
  }
  BitmapBlock block;
  if (!encode_bitmap(set, block, ctx.settings.rle_mode, ctx.settings.dithering)) {
    command::report_error(ctx, cannot_convert);
    return 0;
  }
  // The command and its picture are one unit for the module: both are
  // checked against the room left in the image before either is appended,
  // so a picture that does not fit leaves no command without its picture.
  const std::size_t total = static_cast<std::size_t>(ctx.command.length) + block.block_size;
  if (static_cast<std::size_t>(ctx.flash.image_pos) + total > base::limits::work_area) {
    command::report_flash_overflow(ctx);
    return 0;
  }
  if (!command::flush_command(ctx)) return 0;
  return command::append_macro_bytes(ctx, block.block.data(), static_cast<int>(block.block_size));
}

}  // namespace vexa::resources
