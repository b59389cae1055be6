#include "resources/exports.h"

#include "driver/context.h"
#include "base/format.h"
#include "base/paths.h"
#include "imagefiles/bmp.h"
#include "imagefiles/native.h"
#include "imagefiles/sheet.h"

namespace vexa::resources {

namespace {

void report_failed_export(Context& ctx, const std::string& file_name) {
  driver::report_error(ctx, vexa::base::format("cannot export <%s> !", file_name.c_str()));
}

}  // namespace

std::string export_base_name(const std::string& file) {
  std::string base = base::file_name_of(base::to_slashes(file));
  std::size_t dot = base.rfind('.');
  if (dot != std::string::npos) base[dot] = '_';
  return base;
}

int export_g16(Context& ctx, ImageSet& set, const std::string& file_name) {
  if (imagefiles::write_g16(set, file_name, ctx.settings.dithering)) return 1;
  report_failed_export(ctx, file_name);
  return 0;
}

int export_single_bmps(Context& ctx, const ImageSet& set, const std::string& base) {
  if (imagefiles::dump_images_as_bmp(set, base)) return 1;
  report_failed_export(ctx, base + "_nnn.bmp");
  return 0;
}

int export_sheet(Context& ctx, const std::string& file_name, ImageSet& set, int width, int height, int columns,
                 int stretch_mode) {
  base::report_text(ctx.out, vexa::base::format("Export Overview <%s>\r\n\r\n", file_name.c_str()), base::to_all);
  if (imagefiles::export_overview_sheet(ctx, file_name, set, width, height, columns, stretch_mode)) return 1;
  driver::report_error(ctx, vexa::base::format("cannot export overview <%s> !", file_name.c_str()));
  return 0;
}

}  // namespace vexa::resources
