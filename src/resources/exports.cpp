#include "resources/exports.h"

#include "driver/context.h"
#include "driver/format.h"
#include "driver/paths.h"
#include "imagefiles/bmp.h"
#include "imagefiles/native.h"
#include "imagefiles/sheet.h"

namespace vexa::resources {

namespace {

void report_failed_export(Context& ctx, const std::string& file_name) {
  driver::report_error(ctx, vexa::format("cannot export <%s> !", file_name.c_str()));
}


}  // namespace

std::string export_path(const Context& ctx, const std::string& file_name) {
  return driver::confined_path(ctx.settings.root_folder, file_name);
}

std::string export_base_name(const std::string& file) {
  std::string base = driver::file_name_of(driver::to_slashes(file));
  std::size_t dot = base.rfind('.');
  if (dot != std::string::npos) base[dot] = '_';
  return base;
}

int export_g16(Context& ctx, ImageSet& set, const std::string& file_name) {
  const std::string path = export_path(ctx, file_name);
  if (!path.empty() && imagefiles::write_g16(set, path, ctx.settings.dithering)) return 1;
  report_failed_export(ctx, file_name);
  return 0;
}

int export_single_bmps(Context& ctx, const ImageSet& set, const std::string& base) {
  const std::string path = export_path(ctx, base);
  if (!path.empty() && imagefiles::dump_images_as_bmp(set, path)) return 1;
  report_failed_export(ctx, base + "_nnn.bmp");
  return 0;
}

int export_sheet(Context& ctx, const std::string& file_name, ImageSet& set, int width, int height, int columns,
                 int stretch_mode) {
  driver::report_text(ctx.out, vexa::format("Export Overview <%s>\r\n\r\n", file_name.c_str()), driver::to_all);
  const std::string path = export_path(ctx, file_name);
  if (!path.empty() && imagefiles::export_overview_sheet(ctx, path, set, width, height, columns, stretch_mode))
    return 1;
  driver::report_error(ctx, vexa::format("cannot export overview <%s> !", file_name.c_str()));
  return 0;
}

}  // namespace vexa::resources
