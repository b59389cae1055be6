#include "resources/exports.h"

#include <strings.h>

#include "base/format.h"
#include "base/paths.h"
#include "command/context.h"
#include "command/source.h"
#include "imagefiles/bmp.h"
#include "resources/bitmap.h"
#include "resources/sheet.h"

namespace vexa::resources {

namespace {

void report_failed_export(command::Context& ctx, const std::string& file_name) {
  command::report_error(ctx, vexa::base::format("cannot export <%s> !", file_name.c_str()));
}

bool has_g24_extension(const std::string& file_name) {
  return file_name.size() >= 4 && strcasecmp(file_name.c_str() + file_name.size() - 4, ".G24") == 0;
}


}  // namespace

int write_g16(imagefiles::ImageSet& set, const std::string& file_name, int dithering) {
  // The exports name their files "....G16"; a name that is neither G16 nor
  // G24 is written in the module's own 16-bit colour, which every resource
  // compiler uses.
  BitmapBlock block;
  block.colour_format = has_g24_extension(file_name) ? colour_format_24 : colour_format_16;
  if (!encode_bitmap(set, block, 2, dithering)) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(block.block.data()), block.block_size);
  return base::write_file_atomically(file_name, bytes) ? 1 : 0;
}

std::string export_path(const command::Context& ctx, const std::string& file_name) {
  return base::confined_path(ctx.settings.root_folder, file_name);
}

std::string export_base_name(const std::string& file) {
  std::string base = base::file_name_of(base::to_slashes(file));
  std::size_t dot = base.rfind('.');
  if (dot != std::string::npos) base[dot] = '_';
  return base;
}

int export_g16(command::Context& ctx, imagefiles::ImageSet& set, const std::string& file_name) {
  const std::string path = export_path(ctx, file_name);
  if (!path.empty() && write_g16(set, path, ctx.settings.dithering)) return 1;
  report_failed_export(ctx, file_name);
  return 0;
}

int export_single_bmps(command::Context& ctx, const imagefiles::ImageSet& set, const std::string& base) {
  const std::string path = export_path(ctx, base);
  if (!path.empty() && imagefiles::dump_images_as_bmp(set, path)) return 1;
  report_failed_export(ctx, base + "_nnn.bmp");
  return 0;
}

int export_sheet(command::Context& ctx, const std::string& file_name, imagefiles::ImageSet& set, int width, int height, int columns,
                 int stretch_mode) {
  base::report_text(ctx.out, vexa::base::format("Export Overview <%s>\r\n\r\n", file_name.c_str()), base::to_all);
  const std::string path = export_path(ctx, file_name);
  if (!path.empty() && resources::export_overview_sheet(ctx, path, set, width, height, columns, stretch_mode)) return 1;
  command::report_error(ctx, vexa::base::format("cannot export overview <%s> !", file_name.c_str()));
  return 0;
}

}  // namespace vexa::resources
