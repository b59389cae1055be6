#include "driver/dataflash.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "driver/context.h"
#include "driver/format.h"
#include "driver/paths.h"
#include "driver/source.h"
#include "link/models.h"

namespace vexa::driver {

namespace {

// Image addresses of the system area.
constexpr int address_checksum = 0;
constexpr int address_region1_length = 2;
constexpr int address_region2_length = 5;
constexpr int address_project = 16;
constexpr int project_bytes = 32;
constexpr int address_system_macros = 80;
constexpr int system_macro_entries = 8;
constexpr int address_resource_index = 128;
constexpr int address_macro_index = 768;
constexpr int index_bytes = 5 * limits::pages;
constexpr int address_tables = 1536;

// A page of erased entries of the longest kind.
constexpr auto erased_page = [] {
  std::array<std::uint8_t, static_cast<std::size_t>(limits::numbers) * limits::macro_entry_bytes> page{};
  page.fill(255);
  return page;
}();

// The tables of kind k of the layout: resource kinds first, then macro kinds.
struct TableRef {
  std::vector<std::uint8_t>* table;
  int entry_bytes;
  int index_address;
};

TableRef table_ref(DataFlash& flash, int k) {
  if (k < limits::resource_kinds)
    return {&flash.directories[static_cast<std::size_t>(k)], limits::resource_entry_bytes,
            address_resource_index + index_bytes * k};
  int m = k - limits::resource_kinds;
  return {&flash.macro_tables[static_cast<std::size_t>(m)], limits::macro_entry_bytes,
          address_macro_index + index_bytes * m};
}

struct Regions {
  int region1_size;  // S
  int length1;
  int length2;
  int resources_at;  // R
};

Regions regions_of(const Context& ctx) {
  const DataFlash& flash = ctx.flash;
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
  for (std::size_t i = 0; i < entries; ++i) {
    std::uint8_t* entry = table.data() + i * static_cast<std::size_t>(entry_bytes);
    if (entry_used(entry)) put_u24(entry, get_u24(entry) + static_cast<std::uint32_t>(delta));
  }
}

void put_record(std::string& out, int record, char region, int address, int length) {
  const char head[15] = {27,
                         'B',
                         'A',
                         1,
                         static_cast<char>(record & 255),
                         27,
                         '&',
                         region,
                         static_cast<char>(address & 255),
                         static_cast<char>((address >> 8) & 255),
                         static_cast<char>((address >> 16) & 255),
                         static_cast<char>(length & 255),
                         static_cast<char>((length >> 8) & 255),
                         static_cast<char>((length >> 16) & 255),
                         'W'};
  out.append(head, sizeof head);
}

// Writes the records of one region: each at most B - (address mod 256)
// bytes long, so that no record crosses a block boundary of the module.
void put_region(std::string& out, const DataFlash& flash, int& record, char region, int start, int length,
                int block) {
  int address = start;
  int end = start + length;
  while (address < end) {
    int count = std::min(end - address, block - address % 256);
    put_record(out, record, region, address, count);
    out.append(reinterpret_cast<const char*>(flash.image.data() + address), static_cast<std::size_t>(count));
    address += count;
    ++record;
  }
}

std::string upload_header(const Context& ctx, const Regions& r, std::uint16_t checksum2, int blocks) {
  const Settings& s = ctx.settings;
  // A macro file without a model line has no model to name: the header then
  // carries an empty model name and a bar of width 0, which no module accepts
  // for programming but which keeps the file well-formed.
  std::string model_name;
  int bar_right = 0;
  if (s.model >= 0) {
    const link::Model& model = link::models[static_cast<std::size_t>(s.model)];
    model_name = std::string(model.name);
    bar_right = model.width - 1;
  }
  const char* format_text =
      link::is_large_model(s.model)
          ? "#MS0;#AA0;#YA0;#VA0;#EA0;#DL;#TC0;#FT8,0;#TE#TW2,1,1,100,30;program %s\r\n\n%s#TP%d,$%04X;#TP%d,$%04X;"
            "#FB4,3,8;#BM0;#BR1,%d,%d,%d,%d,%d,%d,1;#BR2,%d,%d,%d,%d,%d,%d,1;"
          : "#MS0;#AA0;#YA0;#VA0;#TC0;#FT8,1;#TE#TW2,1,1,60,17;program %s\r\n\n%s#TP%d,$%04X;#TP%d,$%04X;"
            "#FB4,3,8;#BM0;#BR1,%d,%d,%d,%d,%d,%d,1;#BR2,%d,%d,%d,%d,%d,%d,1;";
  return format(format_text, model_name.c_str(), ctx.flash.project_name.c_str(), r.length1, r.region1_size,
                ctx.flash.payload, checksum2, 0, 64, bar_right, 90, 0, blocks, 0, 64, bar_right, 90, 0, blocks);
}

bool write_or_report(Context& ctx, const std::string& name, std::string_view bytes) {
  if (!name.empty() && write_file_atomically(name, bytes)) return true;
  report_text(ctx.out, format("--->ERROR: Cannot write file %s !\r\n\r\n", name.c_str()), to_all);
  ++ctx.out.error_count;
  return false;
}

}  // namespace

DataFlash::DataFlash() : system_macros(macro_table_bytes / limits::pages, 255) {
  for (auto& table : macro_tables) table.assign(macro_table_bytes, 255);
  for (auto& directory : directories) directory.assign(directory_bytes, 255);
}

std::uint32_t get_u24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16); }

void put_u24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}

bool append_to_area(std::vector<std::uint8_t>& area, int& position, const std::uint8_t* bytes, std::size_t count) {
  if (static_cast<std::size_t>(position) + count > limits::work_area) return false;
  std::size_t at = area.size();
  area.resize(at + count);
  std::memcpy(area.data() + at, bytes, count);
  position += static_cast<int>(count);
  return true;
}

namespace {

// The CRC of every byte value, shifted in most significant bit first.
constexpr std::array<std::uint16_t, 256> crc_table = [] {
  std::array<std::uint16_t, 256> table{};
  for (int value = 0; value < 256; ++value) {
    std::uint16_t crc = static_cast<std::uint16_t>(value << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    table[static_cast<std::size_t>(value)] = crc;
  }
  return table;
}();

}  // namespace

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc) {
  for (std::size_t i = 0; i < count; ++i)
    crc = static_cast<std::uint16_t>((crc << 8) ^ crc_table[((crc >> 8) ^ bytes[i]) & 0xFF]);
  return crc;
}

void layout_image(Context& ctx) {
  DataFlash& flash = ctx.flash;
  int address = address_tables;
  for (int k = 0; k < limits::resource_kinds + limits::macro_kinds; ++k) {
    TableRef ref = table_ref(flash, k);
    auto& index = flash.page_index[static_cast<std::size_t>(k)];
    int assigned = 0;
    for (int page = 0; page < limits::pages; ++page) {
      int first = -1, last = -1;
      // Most pages hold nothing: one comparison of the whole page with
      // erased bytes passes over them.
      const std::size_t page_bytes = static_cast<std::size_t>(limits::numbers) * static_cast<std::size_t>(ref.entry_bytes);
      const bool erased = std::memcmp(ref.table->data() + page * page_bytes, erased_page.data(), page_bytes) == 0;
      for (int number = 0; !erased && number < limits::numbers; ++number) {
        std::size_t at = (static_cast<std::size_t>(page) * limits::numbers + static_cast<std::size_t>(number)) *
                         static_cast<std::size_t>(ref.entry_bytes);
        if (!entry_used(ref.table->data() + at)) continue;
        if (first < 0) first = number;
        last = number;
      }
      std::uint8_t* row = index.data() + 5 * page;
      if (first < 0) {
        row[0] = 255;
        row[1] = 0;
        put_u24(row + 2, 0xFFFFFF);
        continue;
      }
      row[0] = static_cast<std::uint8_t>(first);
      row[1] = static_cast<std::uint8_t>(last);
      put_u24(row + 2, static_cast<std::uint32_t>(address + assigned));
      assigned += (last - first + 1) * ref.entry_bytes;
    }
    address += assigned;
  }
  flash.tables_end = address;
  flash.payload = address + flash.image_pos + flash.resource_pos;
  bool overflow = flash.payload > static_cast<int>(limits::work_area);
  // Region 2 begins at the region 1 size even when region 1 holds less: its
  // end must still lie inside the work area, or the image cannot be placed.
  if (!overflow) {
    Regions r = regions_of(ctx);
    overflow = static_cast<std::size_t>(r.region1_size) + static_cast<std::size_t>(r.length2) > limits::work_area;
  }
  if (overflow) {
    report_error(ctx, "DATA-FLASH memory overflow !");
    if (ctx.source.current < 0) ++ctx.out.error_count;
  }
}

void write_outputs(Context& ctx) {
  DataFlash& flash = ctx.flash;
  Settings& s = ctx.settings;
  report_text(ctx.out, "\r\n", to_all);
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

  relocate(flash.system_macros, limits::macro_entry_bytes, system_macro_entries, d);
  for (auto& table : flash.macro_tables)
    relocate(table, limits::macro_entry_bytes, static_cast<std::size_t>(limits::pages) * limits::numbers, d);
  for (auto& directory : flash.directories)
    relocate(directory, limits::resource_entry_bytes, static_cast<std::size_t>(limits::pages) * limits::numbers,
             r.resources_at);

  std::copy(flash.system_macros.begin(), flash.system_macros.begin() + system_macro_entries * limits::macro_entry_bytes,
            flash.image.begin() + address_system_macros);
  for (int k = 0; k < limits::resource_kinds + limits::macro_kinds; ++k) {
    TableRef ref = table_ref(flash, k);
    const auto& index = flash.page_index[static_cast<std::size_t>(k)];
    std::copy(index.begin(), index.end(), flash.image.begin() + ref.index_address);
    for (int page = 0; page < limits::pages; ++page) {
      const std::uint8_t* row = index.data() + 5 * page;
      if (row[0] > row[1]) continue;
      std::size_t from = (static_cast<std::size_t>(page) * limits::numbers + row[0]) * static_cast<std::size_t>(ref.entry_bytes);
      std::size_t count = static_cast<std::size_t>(row[1] - row[0] + 1) * static_cast<std::size_t>(ref.entry_bytes);
      std::copy(ref.table->begin() + static_cast<long>(from), ref.table->begin() + static_cast<long>(from + count),
                flash.image.begin() + get_u24(row + 2));
    }
  }

  flash.project_name = s.project_name.empty() ? project_name_from_path(s.upload_file) : s.project_name;
  std::uint8_t* name_field = flash.image.data() + address_project;
  std::fill(name_field, name_field + project_bytes, 0);
  std::copy_n(flash.project_name.begin(), std::min<std::size_t>(project_bytes, flash.project_name.size()), name_field);
  put_u24(flash.image.data() + address_region1_length, static_cast<std::uint32_t>(r.length1));
  put_u24(flash.image.data() + address_region2_length, static_cast<std::uint32_t>(r.length2));

  const std::uint8_t* final_image = flash.image.data();
  const std::uint8_t* region2 = final_image + r.region1_size;
  std::uint16_t checksum1 = r.length1 > address_region1_length
                                ? crc16(final_image + address_region1_length, static_cast<std::size_t>(r.length1 - 2))
                                : 0;
  checksum1 = crc16(region2, static_cast<std::size_t>(r.length2), checksum1);
  flash.image[address_checksum] = static_cast<std::uint8_t>(checksum1);
  flash.image[address_checksum + 1] = static_cast<std::uint8_t>(checksum1 >> 8);
  std::uint16_t checksum2 = crc16(final_image, static_cast<std::size_t>(r.length1));
  checksum2 = crc16(region2, static_cast<std::size_t>(r.length2), checksum2);

  if (s.write_object) {
    report_text(ctx.out, format("Write DATA-FLASH Object-File %s\r\n", s.object_file.c_str()), to_all);
    write_or_report(ctx, s.object_file,
                    std::string_view(reinterpret_cast<const char*>(final_image),
                                     static_cast<std::size_t>(r.region1_size + r.length2)));
  }

  report_text(ctx.out, format("Write DATA-FLASH Upload File %s\r\n", s.upload_file.c_str()), to_all);
  int payload = flash.payload;
  int block = 1024 * (payload / (255 * 1024) + 1);  // smallest multiple of 1024 with P / B <= 254
  int blocks = payload / block;
  std::string upload = upload_header(ctx, r, checksum2, blocks);
  upload.reserve(upload.size() + static_cast<std::size_t>(payload) + 15u * (static_cast<std::size_t>(payload) / 256 + 4) + 13);
  int record = 1;
  put_region(upload, flash, record, 'D', 0, r.length1, block);
  put_region(upload, flash, record, 'X', r.region1_size, r.length2, block);
  static constexpr char trailer[13] = {27, 'X', 2, 27, '&', 'D', 0, 0, 0, 0, 0, 0, 'J'};
  upload.append(trailer, sizeof trailer);
  write_or_report(ctx, s.upload_file, upload);
}

void print_memory_overview(Context& ctx) {
  const DataFlash& flash = ctx.flash;
  auto line = [&](const char* fmt, const KindStats& stats) {
    report_text(ctx.out, format(fmt, stats.count, stats.bytes), to_all);
  };
  report_text(ctx.out, "\r\nDATA-FLASH Memory overview:\r\n", to_all);
  report_text(ctx.out, format("     System:       %7d bytes\r\n", flash.tables_end + flash.system_stats.bytes), to_all);
  const auto& res = flash.resource_stats;
  const auto& mac = flash.macro_stats;
  line(" %3d Strings:      %7d bytes\r\n", res[kind_strings]);
  line(" %3d Fonts:        %7d bytes\r\n", res[kind_fonts]);
  line(" %3d Pattern:      %7d bytes\r\n", res[kind_patterns]);
  line(" %3d Border:       %7d bytes\r\n", res[kind_borders]);
  line(" %3d Buttons:      %7d bytes\r\n", res[kind_buttons]);
  line(" %3d Pictures:     %7d bytes\r\n", res[kind_pictures]);
  line(" %3d Animations:   %7d bytes\r\n", res[kind_animations]);
  line(" %3d Instruments:  %7d bytes\r\n", res[kind_instruments]);
  line(" %3d Macros:       %7d bytes\r\n", mac[kind_macro]);
  line(" %3d Touchmacros:  %7d bytes\r\n", mac[kind_touch]);
  if (link::is_large_model(ctx.settings.model)) line(" %3d Menumacros:   %7d bytes\r\n", mac[kind_menu]);
  line(" %3d Portmacros:   %7d bytes\r\n", mac[kind_port]);
  line(" %3d Bitmacros:    %7d bytes\r\n", mac[kind_bit]);
  line(" %3d Matrixmacros: %7d bytes\r\n", mac[kind_matrix]);
  line(" %3d Analogmacros: %7d bytes\r\n", mac[kind_analogue]);
  line(" %3d Processmacros:%7d bytes\r\n", mac[kind_process]);
  report_text(ctx.out, " -------------------------------\r\n", to_all);
  report_text(ctx.out, format("            sumary:%7d bytes\r\n", flash.payload), to_all);
}

}  // namespace vexa::driver
