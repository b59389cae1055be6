#include "driver/dataflash.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "base/bytes.h"
#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/context.h"
#include "command/source.h"
#include "link/upload_file.h"

namespace vexa::driver {

namespace {

// A page of erased entries of the longest kind.
constexpr auto erased_page = [] {
  std::array<std::uint8_t, static_cast<std::size_t>(base::limits::numbers) * base::limits::macro_entry_bytes> page{};
  page.fill(255);
  return page;
}();

// The tables of kind k of the layout: resource kinds first, then macro kinds.
struct TableRef {
  std::vector<std::uint8_t>* table;
  int entry_bytes;
  int index_address;
};

TableRef table_ref(command::DataFlash& flash, int k) {
  std::vector<std::uint8_t>* table =
      is_resource_kind(k) ? &flash.directories[static_cast<std::size_t>(k)]
                          : &flash.macro_tables[static_cast<std::size_t>(k - base::limits::resource_kinds)];
  return {table, entry_bytes(k), index_address(k)};
}

struct Regions {
  int region1_size;  // S
  int length1;
  int length2;
  int resources_at;  // R
};

Regions regions_of(const command::Context& ctx) {
  const command::DataFlash& flash = ctx.flash;
  Regions r;
  r.region1_size = ctx.settings.region1_size;
  int end_of_macros = flash.tables_end + flash.image_pos;
  if (end_of_macros < r.region1_size) {
    r.length1 = end_of_macros;
    r.resources_at = r.region1_size;
  } else {
    r.length1 = r.region1_size;
    r.resources_at = end_of_macros;
  }
  r.length2 = flash.payload - r.length1;
  return r;
}

// Adds delta to the 24-bit start of every used entry of a table.
void relocate(std::vector<std::uint8_t>& table, int entry_bytes, std::size_t entries, int delta) {
  if (table.empty()) return;  // never written: every entry free
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint8_t* entry = table.data() + i * static_cast<std::size_t>(entry_bytes);
    if (command::entry_used(entry)) base::put_u24(entry, base::get_u24(entry) + static_cast<std::uint32_t>(delta));
  }
}

bool write_or_report(command::Context& ctx, const std::string& name, std::string_view bytes) {
  if (!name.empty() && base::write_file_atomically(name, bytes)) return true;
  report_text(ctx.out, base::format("--->ERROR: Cannot write file %s !\r\n\r\n", name.c_str()), base::to_all);
  ++ctx.out.error_count;
  return false;
}

}  // namespace

void layout_image(command::Context& ctx) {
  command::DataFlash& flash = ctx.flash;
  int address = address_tables;
  for (int k = 0; k < table_kinds; ++k) {
    TableRef ref = table_ref(flash, k);
    auto& index = flash.page_index[static_cast<std::size_t>(k)];
    int assigned = 0;
    for (int page = 0; page < base::limits::pages; ++page) {
      int first = -1, last = -1;
      // Most pages hold nothing: one comparison of the whole page with
      // erased bytes passes over them.
      const std::size_t page_bytes =
          static_cast<std::size_t>(base::limits::numbers) * static_cast<std::size_t>(ref.entry_bytes);
      const bool erased =
          ref.table->empty() || std::memcmp(ref.table->data() + page * page_bytes, erased_page.data(), page_bytes) == 0;
      for (int number = 0; !erased && number < base::limits::numbers; ++number) {
        std::size_t at = (static_cast<std::size_t>(page) * base::limits::numbers + static_cast<std::size_t>(number)) *
                         static_cast<std::size_t>(ref.entry_bytes);
        if (!command::entry_used(ref.table->data() + at)) continue;
        if (first < 0) first = number;
        last = number;
      }
      std::uint8_t* row = index.data() + 5 * page;
      if (first < 0) {
        row[0] = 255;
        row[1] = 0;
        base::put_u24(row + 2, 0xFFFFFF);
        continue;
      }
      row[0] = static_cast<std::uint8_t>(first);
      row[1] = static_cast<std::uint8_t>(last);
      base::put_u24(row + 2, static_cast<std::uint32_t>(address + assigned));
      assigned += (last - first + 1) * ref.entry_bytes;
    }
    address += assigned;
  }
  flash.tables_end = address;
  flash.payload = address + flash.image_pos + flash.resource_pos;
  bool overflow = flash.payload > static_cast<int>(base::limits::work_area);
  // Region 2 begins at the region 1 size even when region 1 holds less: its
  // end must still lie inside the work area, or the image cannot be placed.
  if (!overflow) {
    Regions r = regions_of(ctx);
    overflow = static_cast<std::size_t>(r.region1_size) + static_cast<std::size_t>(r.length2) > base::limits::work_area;
  }
  if (overflow) {
    report_flash_overflow(ctx);
    if (ctx.source.current < 0) ++ctx.out.error_count;
  }
}

void write_outputs(command::Context& ctx) {
  command::DataFlash& flash = ctx.flash;
  command::Settings& s = ctx.settings;
  report_text(ctx.out, "\r\n", base::to_all);
  Regions r = regions_of(ctx);
  int d = flash.tables_end;
  int macro_bytes = flash.image_pos;

  // The final image in place: the macro bytes move up to D behind the
  // tables, the resources go to R, every other byte is 255.
  std::size_t image_size = static_cast<std::size_t>(r.region1_size + r.length2);
  if (flash.image.size() < image_size) flash.image.resize(image_size, 255);
  std::memmove(flash.image.data() + d, flash.image.data(), static_cast<std::size_t>(macro_bytes));
  std::fill(flash.image.begin(), flash.image.begin() + d, 255);
  std::fill(flash.image.begin() + d + macro_bytes, flash.image.end(), 255);
  std::copy(flash.resources.begin(), flash.resources.begin() + flash.resource_pos,
            flash.image.begin() + r.resources_at);
  flash.image.resize(image_size);

  relocate(flash.system_macros, base::limits::macro_entry_bytes, system_macro_entries, d);
  for (auto& table : flash.macro_tables)
    relocate(table, base::limits::macro_entry_bytes, static_cast<std::size_t>(base::limits::pages) * base::limits::numbers, d);
  for (auto& directory : flash.directories)
    relocate(directory, base::limits::resource_entry_bytes, static_cast<std::size_t>(base::limits::pages) * base::limits::numbers,
             r.resources_at);

  std::copy(flash.system_macros.begin(), flash.system_macros.begin() + system_macro_entries * base::limits::macro_entry_bytes,
            flash.image.begin() + address_system_macros);
  for (int k = 0; k < table_kinds; ++k) {
    TableRef ref = table_ref(flash, k);
    const auto& index = flash.page_index[static_cast<std::size_t>(k)];
    std::copy(index.begin(), index.end(), flash.image.begin() + ref.index_address);
    for (int page = 0; page < base::limits::pages; ++page) {
      const std::uint8_t* row = index.data() + 5 * page;
      if (row[0] > row[1]) continue;
      std::size_t from = (static_cast<std::size_t>(page) * base::limits::numbers + row[0]) * static_cast<std::size_t>(ref.entry_bytes);
      std::size_t count = static_cast<std::size_t>(row[1] - row[0] + 1) * static_cast<std::size_t>(ref.entry_bytes);
      std::copy(ref.table->begin() + static_cast<long>(from), ref.table->begin() + static_cast<long>(from + count),
                flash.image.begin() + base::get_u24(row + 2));
    }
  }

  flash.project_name = s.project_name.empty() ? command::project_name_from_path(s.upload_file) : s.project_name;
  std::uint8_t* name_field = flash.image.data() + address_project;
  std::fill(name_field, name_field + project_bytes, 0);
  std::copy_n(flash.project_name.begin(), std::min<std::size_t>(project_bytes, flash.project_name.size()), name_field);
  base::put_u24(flash.image.data() + link::image_region1_length_at, static_cast<std::uint32_t>(r.length1));
  base::put_u24(flash.image.data() + link::image_region2_length_at, static_cast<std::uint32_t>(r.length2));

  // Checksum 1 is made while its own bytes are still 255; checksum 2 covers it.
  const link::FlashRegions regions{r.length1, r.region1_size, r.length2};
  base::put_u16(flash.image.data() + link::image_checksum_at,
                link::regions_checksum(flash.image, regions, link::image_region1_length_at));
  const std::uint16_t checksum2 = link::regions_checksum(flash.image, regions, 0);

  if (s.write_object) {
    report_text(ctx.out, base::format("Write DATA-FLASH Object-File %s\r\n", s.object_file.c_str()), base::to_all);
    write_or_report(ctx, s.object_file,
                    std::string_view(reinterpret_cast<const char*>(flash.image.data()), flash.image.size()));
  }

  report_text(ctx.out, base::format("Write DATA-FLASH Upload File %s\r\n", s.upload_file.c_str()), base::to_all);
  write_or_report(ctx, s.upload_file,
                  link::upload_file_bytes({flash.image, regions, s.model, flash.project_name, checksum2}));
}

void print_memory_overview(command::Context& ctx) {
  const command::DataFlash& flash = ctx.flash;
  auto line = [&](const char* fmt, const command::KindStats& stats) {
    report_text(ctx.out, base::format(fmt, stats.count, stats.bytes), base::to_all);
  };
  report_text(ctx.out, "\r\nDATA-FLASH Memory overview:\r\n", base::to_all);
  report_text(ctx.out, base::format("     System:       %7d bytes\r\n", flash.tables_end + flash.system_stats.bytes), base::to_all);
  const auto& res = flash.resource_stats;
  const auto& mac = flash.macro_stats;
  line(" %3d Strings:      %7d bytes\r\n", res[command::kind_strings]);
  line(" %3d Fonts:        %7d bytes\r\n", res[command::kind_fonts]);
  line(" %3d Pattern:      %7d bytes\r\n", res[command::kind_patterns]);
  line(" %3d Border:       %7d bytes\r\n", res[command::kind_borders]);
  line(" %3d Buttons:      %7d bytes\r\n", res[command::kind_buttons]);
  line(" %3d Pictures:     %7d bytes\r\n", res[command::kind_pictures]);
  line(" %3d Animations:   %7d bytes\r\n", res[command::kind_animations]);
  line(" %3d Instruments:  %7d bytes\r\n", res[command::kind_instruments]);
  line(" %3d Macros:       %7d bytes\r\n", mac[command::kind_macro]);
  line(" %3d Touchmacros:  %7d bytes\r\n", mac[command::kind_touch]);
  if (base::is_large_model(ctx.settings.model)) line(" %3d Menumacros:   %7d bytes\r\n", mac[command::kind_menu]);
  line(" %3d Portmacros:   %7d bytes\r\n", mac[command::kind_port]);
  line(" %3d Bitmacros:    %7d bytes\r\n", mac[command::kind_bit]);
  line(" %3d Matrixmacros: %7d bytes\r\n", mac[command::kind_matrix]);
  line(" %3d Analogmacros: %7d bytes\r\n", mac[command::kind_analogue]);
  line(" %3d Processmacros:%7d bytes\r\n", mac[command::kind_process]);
  report_text(ctx.out, " -------------------------------\r\n", base::to_all);
  report_text(ctx.out, base::format("            sumary:%7d bytes\r\n", flash.payload), base::to_all);
}

}  // namespace vexa::driver
