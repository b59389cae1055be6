#include "driver/dump.h"
#include "resources/import.h"

#include <memory>

#include "base/format.h"
#include "base/output.h"
#include "command/context.h"
#include "imagefiles/bmp.h"
#include "imagefiles/dispatch.h"

namespace vexa::driver {

namespace {

// The file name without its extension (the part from the last '.' of the
// last path component on).
std::string without_extension(const std::string& name) {
  std::size_t slash = name.find_last_of('/');
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

}  // namespace

int dump_image_command(const std::vector<std::string>& args) {
  auto ctx = std::make_unique<command::Context>();
  base::Output& out = ctx->out;
  if (args.empty() || args.size() > 2 || args[0].empty()) {
    base::report_error_text(out, "usage: vexac --dump-image FILE [BASE]\r\n", base::to_console);
    return 2;
  }
  const std::string& file = args[0];
  const std::string base = args.size() == 2 ? args[1] : without_extension(file);

  imagefiles::ImageSet& set = ctx->work_set;
  if (resources::load_image_file(*ctx, set, file) < 1) {
    base::report_error_text(out, base::format("cannot load image <%s> !\r\n", file.c_str()), base::to_console);
    return 2;
  }
  if (!dump_images_as_bmp(set, base)) {
    base::report_error_text(out, base::format("cannot write image files <%s_nnn.bmp> !\r\n", base.c_str()),
                              base::to_console);
    return 2;
  }
  const imagefiles::Bgr& key = set.transparent_colour;
  for (int number = set.first_number; number < set.first_number + set.count; ++number) {
    if (!imagefiles::has_image(set, number)) continue;
    const imagefiles::Image& image = set.images[number];
    base::report_text(out,
                        base::format("image %03d: %d x %d, %d bit, %u colors, delay %d, transparent %d, RGB=%d,%d,%d\r\n",
                               number, imagefiles::image_width(image), imagefiles::image_height(image),
                               imagefiles::bit_count(image), image.colour_count, set.delays[number], set.transparent,
                               key.red, key.green, key.blue),
                        base::to_console);
  }
  return 0;
}

}  // namespace vexa::driver
