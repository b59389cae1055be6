#include "driver/listing.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <string_view>

#include "base/bytes.h"
#include "base/format.h"
#include "base/models.h"
#include "base/paths.h"
#include "command/macros.h"
#include "command/work_areas.h"
#include "driver/dataflash.h"
#include "imagefiles/bitmap_block.h"
#include "link/upload_file.h"

namespace vexa::driver {

namespace {

constexpr int exit_failed = 2;

// ORDER: command::ResourceKind. The directive that makes resources of each kind.
constexpr std::array<std::string_view, base::limits::resource_kinds> resource_names = {
    "FONT", "PATTERN", "BORDER", "BUTTON", "ANIMATION", "PICTURE", "INSTRUMENT", "STRING"};
static_assert(command::kind_pictures == 5 && command::kind_strings == base::limits::resource_kinds - 1);

}  // namespace

std::string entry_name(const Entry& e) {
  if (e.page < 0) return std::string(e.kind);
  return base::format("%s %d of page %d", std::string(e.kind).c_str(), e.number, e.page);
}

namespace {

// A name as stored in the image or header, shown as it was written: the
// doubled '#' once, and a control byte (only a damaged file has one) as '?'.
std::string shown_name(std::string_view stored) {
  std::string name;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(stored[i]);
    name += c < 32 || c == 127 ? '?' : static_cast<char>(c);
    if (c == '#' && i + 1 < stored.size() && stored[i + 1] == '#') ++i;
  }
  return name;
}

}  // namespace

bool is_object_file_name(const std::string& name) {
  const std::size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string extension = name.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return extension == "DFO";
}

std::string read_contents(const std::vector<std::uint8_t>& image, std::vector<Entry>& resources,
                          std::vector<Entry>& macros) {
  const long size = static_cast<long>(image.size());
  for (int i = 0; i < command::fixed_macro_types; ++i) {
    const std::uint8_t* e = image.data() + address_system_macros + base::limits::macro_entry_bytes * i;
    if (command::entry_used(e)) macros.push_back({command::macro_kind_name(static_cast<command::MacroType>(i)), -1, -1, base::get_u24(e), base::get_u24(e + 3)});
  }
  for (int k = 0; k < table_kinds; ++k) {
    const bool resource = is_resource_kind(k);
    const std::string_view kind =
        resource ? resource_names[static_cast<std::size_t>(k)]
                 : command::macro_kind_name(
                       static_cast<command::MacroType>(command::fixed_macro_types + k - base::limits::resource_kinds));
    for (int page = 0; page < base::limits::pages; ++page) {
      const std::uint8_t* row = image.data() + index_address(k) + 5 * page;
      if (row[0] > row[1]) continue;  // no entry on this page
      const long table = base::get_u24(row + 2);
      if (table + (row[1] - row[0] + 1L) * entry_bytes(k) > size)
        return base::format("damaged table of contents: the %s entries of page %d lie outside the image",
                            std::string(kind).c_str(), page);
      for (int number = row[0]; number <= row[1]; ++number) {
        const std::uint8_t* e = image.data() + table + (number - row[0]) * entry_bytes(k);
        if (!command::entry_used(e)) continue;
        (resource ? resources : macros)
            .push_back({kind, page, number, base::get_u24(e), resource ? 0L : base::get_u24(e + 3)});
      }
    }
  }
  for (const Entry& m : macros)
    if (m.address + m.size > size)
      return base::format("damaged table of contents: %s runs past the image", entry_name(m).c_str());
  std::vector<long> starts;
  for (const Entry& r : resources) {
    if (r.address >= size)
      return base::format("damaged table of contents: %s lies outside the image", entry_name(r).c_str());
    starts.push_back(r.address);
  }
  std::sort(starts.begin(), starts.end());
  for (Entry& r : resources) {
    auto next = std::upper_bound(starts.begin(), starts.end(), r.address);
    r.size = (next == starts.end() ? size : *next) - r.address;
  }
  return "";
}

bool read_flash_file(const std::string& name, std::string& bytes, link::FlashFile& file, std::string& error) {
  if (!base::read_whole_file(name, bytes)) {
    error = "cannot open the file";
    return false;
  }
  const link::FileBytes span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  if (!(is_object_file_name(name) ? link::read_object_file(span, file, error) : link::read_upload_file(span, file, error)))
    return false;
  if (file.image.size() < static_cast<std::size_t>(address_tables)) {
    error = base::format("damaged image: %zu bytes cannot hold its tables of contents", file.image.size());
    return false;
  }
  return true;
}

namespace {

// One line of a table: the columns, without blanks at its end.
void add_line(std::string& text, std::string line) {
  line.erase(line.find_last_not_of(' ') + 1);
  text += line + "\n";
}

std::string place(int value) { return value < 0 ? "-" : std::to_string(value); }

void list_resources(std::string& text, const std::vector<std::uint8_t>& image, const std::vector<Entry>& resources) {
  text += base::format("\nresources    %zu\n", resources.size());
  if (resources.empty()) return;
  add_line(text, "kind          page  number   address     size  image      bits  frames  coded");
  for (const Entry& r : resources) {
    std::string line = base::format("%-13s %4s  %6s  %8ld  %7ld", std::string(r.kind).c_str(), place(r.page).c_str(),
                                    place(r.number).c_str(), r.address, r.size);
    imagefiles::BlockSummary block;
    const std::span<const std::uint8_t> bytes(image.data() + r.address, static_cast<std::size_t>(r.size));
    imagefiles::BlockHeader header;
    const bool sound = imagefiles::validate_block(bytes, block);
    if (imagefiles::read_block_header(bytes, header) && header.signature &&
        (header.kind == imagefiles::block_bitmap || header.kind == imagefiles::block_instrument)) {
      // A block that starts as one but fails the whole-block check is shown
      // as such, so that a bad checksum can be traced to the resource. An
      // instrument's size is its background's.
      line += sound ? base::format("  %-9s  %4d  %6d  %5d", base::format("%dx%d", block.width, block.height).c_str(),
                                   block.header.depth, block.images, block.coded_images)
              : header.kind == imagefiles::block_instrument ? std::string("  damaged instrument block")
                                                            : std::string("  damaged bitmap block");
    }
    add_line(text, line);
  }
}

void list_macros(std::string& text, const std::vector<Entry>& macros) {
  text += base::format("\nmacros       %zu\n", macros.size());
  if (macros.empty()) return;
  add_line(text, "kind          page  number   address     size");
  for (const Entry& m : macros)
    add_line(text, base::format("%-13s %4s  %6s  %8ld  %7ld", std::string(m.kind).c_str(), place(m.page).c_str(),
                                place(m.number).c_str(), m.address, m.size));
}

std::string checksum_line(int which, long stored, std::uint16_t computed) {
  if (stored == computed) return base::format("checksum %d   $%04lX good\n", which, stored);
  return base::format("checksum %d   $%04lX bad: the bytes give $%04X\n", which, stored, computed);
}

int fail(const std::string& name, const std::string& text) {
  std::fprintf(stderr, "vexac: %s: %s\n", name.c_str(), text.c_str());
  return exit_failed;
}

}  // namespace

int list_command(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0].empty()) {
    std::fputs("usage: vexac --list FILE\n", stderr);
    return exit_failed;
  }
  const std::string& name = args[0];
  std::string bytes;
  link::FlashFile file;
  std::string error;
  if (!read_flash_file(name, bytes, file, error)) return fail(name, error);
  const bool object = !file.upload;

  const link::FlashRegions& r = file.regions;
  std::string text;
  if (object) {
    const std::string_view field(reinterpret_cast<const char*>(file.image.data() + address_project), project_bytes);
    text += base::format("object file  %s: %zu bytes\n", name.c_str(), bytes.size());
    text += "model        not named in an object file\n";
    text += "project      " + shown_name(field.substr(0, field.find('\0'))) + "\n";
  } else {
    text += base::format("upload file  %s: %zu bytes, %zu records\n", name.c_str(), bytes.size(), file.records.size());
    text += base::format("model        %s\n",
                         file.model < 0 ? "none" : std::string(base::models[static_cast<std::size_t>(file.model)].name).c_str());
    text += "project      " + shown_name(file.project) + "\n";
  }
  text += base::format("region 1     address 0, %ld bytes (of %ld)\n", r.region1_length, r.region2_start);
  text += base::format("region 2     address %ld, %ld bytes\n", r.region2_start, r.region2_length);
  text += checksum_line(1, file.stored_checksum1, file.checksum1);
  if (object)
    text += base::format("checksum 2   $%04X (an object file does not hold it)\n", file.checksum2);
  else
    text += checksum_line(2, file.header.crc, file.checksum2);

  std::vector<Entry> resources, macros;
  error = read_contents(file.image, resources, macros);
  if (error.empty()) {
    list_resources(text, file.image, resources);
    list_macros(text, macros);
  }
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  if (!error.empty()) return fail(name, error);
  const bool bad1 = file.stored_checksum1 != file.checksum1, bad2 = !object && file.header.crc != file.checksum2;
  if (bad1 || bad2)
    return fail(name, base::format("%s not match the file's bytes",
                                   bad1 && bad2 ? "checksums 1 and 2 do" : bad1 ? "checksum 1 does" : "checksum 2 does"));
  return 0;
}

}  // namespace vexa::driver
