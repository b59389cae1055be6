#include "link/upload_file.h"

#include <algorithm>
#include <cstring>

#include "base/bytes.h"
#include "base/crc16.h"
#include "base/format.h"
#include "base/limits.h"
#include "base/models.h"

namespace vexa::link {

namespace {

constexpr std::uint8_t esc = 27;
// The programmer looks for the header's values in this many first bytes.
constexpr std::size_t header_window = 250;
constexpr std::size_t record_head_bytes = 15;
// The display command that clears the upload's progress display, then the
// end of the upload.
constexpr std::array<std::uint8_t, 3> trailer_head = {esc, 'X', 2};
constexpr std::size_t trailer_bytes = trailer_head.size() + end_of_upload.size();

// The records are cut at blocks of this many bytes (the smallest multiple
// of 1024 that makes at most 254 blocks of the payload), and the header's
// progress bars count the blocks.
long block_bytes(long payload) { return 1024 * (payload / (255 * 1024) + 1); }

// The header text: model, project, the region and checksum values, and the
// two progress bars as wide as the model's display. A macro file without a
// model line has no model to name: the header then carries an empty model
// name and bars of width 0, which no module accepts for programming but
// which keeps the file well-formed.
std::string header_text(int model, std::string_view project, const FlashRegions& r, long checksum) {
  std::string model_name;
  int bar_right = 0;
  if (model >= 0) {
    const base::Model& m = base::models[static_cast<std::size_t>(model)];
    model_name = std::string(m.name);
    bar_right = m.width - 1;
  }
  const char* format_text =
      base::is_large_model(model)
          ? "#MS0;#AA0;#YA0;#VA0;#EA0;#DL;#TC0;#FT8,0;#TE#TW2,1,1,100,30;program %s\r\n\n%s#TP%ld,$%04lX;#TP%ld,$%04lX;"
            "#FB4,3,8;#BM0;#BR1,%d,%d,%d,%d,%d,%ld,1;#BR2,%d,%d,%d,%d,%d,%ld,1;"
          : "#MS0;#AA0;#YA0;#VA0;#TC0;#FT8,1;#TE#TW2,1,1,60,17;program %s\r\n\n%s#TP%ld,$%04lX;#TP%ld,$%04lX;"
            "#FB4,3,8;#BM0;#BR1,%d,%d,%d,%d,%d,%ld,1;#BR2,%d,%d,%d,%d,%d,%ld,1;";
  const long payload = r.payload();
  const long blocks = payload / block_bytes(payload);
  return base::format(format_text, model_name.c_str(), std::string(project).c_str(), r.region1_length,
                      static_cast<unsigned long>(r.region2_start), payload, static_cast<unsigned long>(checksum), 0,
                      64, bar_right, 90, 0, blocks, 0, 64, bar_right, 90, 0, blocks);
}

// Writes the records of one region: each at most B - (address mod 256)
// bytes long, so that no record crosses a block boundary of the module.
void put_region(std::string& out, FileBytes image, int& record, char region, long start, long length, long block) {
  for (long address = start, end = start + length; address < end; ++record) {
    const long count = std::min(end - address, block - address % 256);
    const auto bar = bar_command(1, record & 255);
    const auto write = flash_command(region, address, count, 'W');
    out.append(reinterpret_cast<const char*>(bar.data()), bar.size());
    out.append(reinterpret_cast<const char*>(write.data()), write.size());
    out.append(reinterpret_cast<const char*>(image.data() + address), static_cast<std::size_t>(count));
    address += count;
  }
}

// number -> [blanks] ['-'] digits, in base 10 or 16 ("0x" allowed in 16).
// Values are clamped to +-10^9 so that the sums made with them cannot
// overflow, whatever the file says.
bool parse_number(std::string_view text, std::size_t& pos, int base, long& value) {
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  bool negative = false;
  if (base == 10 && pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  if (base == 16 && pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X'))
    pos += 2;
  std::size_t start = pos;
  long v = 0;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    int digit = (c >= '0' && c <= '9')   ? c - '0'
                : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                         : 99;
    if (digit >= base) break;
    v = std::min(v * base + digit, 1000000000L);
  }
  if (pos == start) return false;
  value = negative ? -v : v;
  return true;
}

bool expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

// pair -> decimal ',' '$' hexadecimal
void parse_pair(std::string_view text, std::size_t pos, long& first, long& second) {
  if (parse_number(text, pos, 10, first) && expect(text, pos, ',') && expect(text, pos, '$'))
    parse_number(text, pos, 16, second);
}

// The numbers after the first "#TP", the next "#TP" and "#BR1," of text.
void parse_fields(std::string_view text, UploadHeader& h) {
  std::size_t first = text.find("#TP");
  if (first != std::string_view::npos) {
    parse_pair(text, first + 3, h.region1_length, h.region2_start);
    std::size_t second = text.find("#TP", first + 3);
    if (second != std::string_view::npos) parse_pair(text, second + 3, h.total, h.crc);
  }
  std::size_t bar = text.find("#BR1,");
  if (bar != std::string_view::npos) {
    std::size_t pos = bar + 5;
    long* fields[] = {&h.bar_left, &h.bar_top, &h.bar_right, &h.bar_bottom, nullptr, &h.verify_blocks};
    for (int i = 0; i < 6; ++i) {
      if (i > 0 && !expect(text, pos, ',')) break;
      long value = 0;
      if (!parse_number(text, pos, 10, value)) break;
      if (fields[i] != nullptr) *fields[i] = value;
    }
  }
}

int fail(std::string& error, std::string text) {
  error = std::move(text);
  return 0;
}

// The row of base::models whose name is exactly name, or -1.
int model_named(std::string_view name) {
  for (std::size_t i = 0; i < base::models.size(); ++i)
    if (base::models[i].name == name) return static_cast<int>(i);
  return -1;
}

// Checksums of the image read: checksum 1 again as the writer made it (its
// own bytes at 255), checksum 2 over the bytes as they are, as the module's
// read-back sees them.
void compute_checksums(FlashFile& f) {
  std::uint8_t* head = f.image.data() + image_checksum_at;
  f.stored_checksum1 = base::get_u16(head);
  base::put_u16(head, 0xFFFF);
  f.checksum1 = regions_checksum(f.image, f.regions, image_region1_length_at);
  base::put_u16(head, f.stored_checksum1);
  f.checksum2 = regions_checksum(f.image, f.regions, 0);
}

// Reads the records of one region from pos on: they must cover the region
// in order, from its first address to its end, numbered on from the
// records before them.
int read_region(FileBytes bytes, std::size_t& pos, FlashFile& out, char region, long start, long length,
                std::string& error) {
  for (long address = start, end = start + length; address < end;) {
    const int number = static_cast<int>(out.records.size()) + 1;
    const std::string where = base::format("record %d at byte %zu", number, pos);
    if (bytes.size() - pos < record_head_bytes)
      return fail(error, base::format("truncated file: it ends in the head of %s", where.c_str()));
    const std::uint8_t* h = bytes.data() + pos;
    const long count = base::get_u24(h + 11);
    const auto bar = bar_command(1, number & 255);
    const auto write = flash_command(region, address, count, 'W');
    if (!std::equal(bar.begin(), bar.end() - 1, h) || h[5] != write[0] || h[6] != write[1] || h[14] != write[9])
      return fail(error, base::format("damaged %s: no record head there", where.c_str()));
    if (h[4] != bar[4]) return fail(error, base::format("damaged %s: it is numbered %d", where.c_str(), h[4]));
    if (h[7] != write[2])
      return fail(error, base::format("damaged %s: region letter %c, not %c", where.c_str(), h[7], region));
    if (!std::equal(write.begin() + 3, write.begin() + 6, h + 8))
      return fail(error, base::format("damaged %s: address %u, not %ld", where.c_str(), base::get_u24(h + 8), address));
    if (count == 0 || count > end - address)
      return fail(error, base::format("damaged %s: %ld bytes, but its region has %ld left", where.c_str(), count,
                                      end - address));
    if (bytes.size() - pos - record_head_bytes < static_cast<std::size_t>(count))
      return fail(error, base::format("truncated file: it ends inside the data of %s (%zu of %ld bytes)", where.c_str(),
                                      bytes.size() - pos - record_head_bytes, count));
    std::memcpy(out.image.data() + address, h + record_head_bytes, static_cast<std::size_t>(count));
    out.records.push_back({number, region, address, count, pos + record_head_bytes});
    pos += record_head_bytes + static_cast<std::size_t>(count);
    address += count;
  }
  return 1;
}

}  // namespace

std::array<std::uint8_t, 10> flash_command(char region, long address, long count, char operation) {
  std::array<std::uint8_t, 10> c = {esc, '&', static_cast<std::uint8_t>(region)};
  base::put_u24(&c[3], static_cast<std::uint32_t>(address));
  base::put_u24(&c[6], static_cast<std::uint32_t>(count));
  c[9] = static_cast<std::uint8_t>(operation);
  return c;
}

std::array<std::uint8_t, 5> bar_command(int bar, int value) {
  return {esc, 'B', 'A', static_cast<std::uint8_t>(bar), static_cast<std::uint8_t>(value)};
}

std::uint16_t regions_checksum(FileBytes image, const FlashRegions& r, std::size_t from) {
  std::uint16_t crc = 0;
  if (static_cast<long>(from) < r.region1_length)
    crc = base::crc16(image.data() + from, static_cast<std::size_t>(r.region1_length) - from);
  return base::crc16(image.data() + r.region2_start, static_cast<std::size_t>(r.region2_length), crc);
}

std::string upload_file_bytes(const UploadContent& c) {
  const FlashRegions& r = c.regions;
  const long payload = r.payload();
  const long block = block_bytes(payload);
  std::string out = header_text(c.model, c.project, r, c.checksum);
  out.reserve(out.size() + static_cast<std::size_t>(payload) +
              record_head_bytes * (static_cast<std::size_t>(payload) / 256 + 4) + trailer_bytes);
  int record = 1;
  put_region(out, c.image, record, 'D', 0, r.region1_length, block);
  put_region(out, c.image, record, 'X', r.region2_start, r.region2_length, block);
  out.append(reinterpret_cast<const char*>(trailer_head.data()), trailer_head.size());
  out.append(reinterpret_cast<const char*>(end_of_upload.data()), end_of_upload.size());
  return out;
}

UploadHeader read_upload_header(std::string_view file) {
  UploadHeader h;
  std::string_view head = file.substr(0, header_window);
  std::size_t at = head.find("program ");
  if (at == std::string_view::npos) return h;
  h.found = true;
  h.model_text = std::string(head.substr(at + 8));
  parse_fields(head, h);
  return h;
}

bool has_end_of_upload(std::string_view file) {
  const std::size_t n = end_of_upload.size();
  if (file.size() < n) return false;
  const auto* t = reinterpret_cast<const std::uint8_t*>(file.data() + file.size() - n);
  return t[0] == end_of_upload[0] && t[1] == end_of_upload[1] && t[2] == end_of_upload[2] && t[9] == end_of_upload[9];
}

// upload-file -> header records(region 1) records(region 2) trailer
// header      -> text up to the first ESC: ... "program " model "\r\n\n"
//                project (every '#' doubled) '#' fields
int read_upload_file(FileBytes bytes, FlashFile& out, std::string& error) {
  out = FlashFile{};
  out.upload = true;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const std::size_t header_end = text.find(static_cast<char>(esc));
  if (header_end == std::string_view::npos) return fail(error, "truncated file: it ends inside the header");
  const std::string_view head = text.substr(0, header_end);
  const std::size_t at = head.find("program ");
  if (at == std::string_view::npos) return fail(error, "not an upload file: no \"program \" in its header");
  const std::size_t name_end = head.find("\r\n\n", at);
  if (name_end == std::string_view::npos) return fail(error, "damaged header: no line break after the model name");
  const std::string_view model = head.substr(at + 8, name_end - at - 8);
  out.model = model_named(model);
  if (out.model < 0 && !model.empty())
    return fail(error, base::format("damaged header: unknown model \"%s\"", std::string(model).c_str()));
  std::size_t fields = name_end + 3;
  while (fields < head.size() && head[fields] != '#') ++fields;
  while (fields + 1 < head.size() && head[fields + 1] == '#') {
    fields += 2;
    while (fields < head.size() && head[fields] != '#') ++fields;
  }
  out.project = std::string(head.substr(name_end + 3, fields - name_end - 3));
  out.header.found = true;
  out.header.model_text = std::string(head.substr(at + 8));
  parse_fields(head.substr(fields), out.header);

  const UploadHeader& h = out.header;
  FlashRegions& r = out.regions;
  r = {h.region1_length, h.region2_start, h.total - h.region1_length};
  if (r.region2_start != base::region1_size(out.model))
    return fail(error, base::format("damaged header: region 2 starts at %ld, not at %d as on this model",
                                    r.region2_start, base::region1_size(out.model)));
  if (r.region1_length < 0 || r.region1_length > r.region2_start || r.region2_length < 0 ||
      r.image_bytes() < static_cast<long>(image_head_bytes) ||
      r.image_bytes() > static_cast<long>(base::limits::work_area))
    return fail(error, base::format("damaged header: region 1 of %ld bytes and a payload of %ld bytes do not fit the "
                                    "DATA-FLASH", r.region1_length, h.total));
  if (header_text(out.model, out.project, r, h.crc) != head)
    return fail(error, "damaged header: its text is not the one its values give");
  // Every payload byte comes in a record: a file too short for them all
  // is refused before the image is made.
  if (static_cast<std::size_t>(r.payload()) > bytes.size() - header_end)
    return fail(error, base::format("truncated file: its %zu bytes after the header cannot hold the %ld payload "
                                    "bytes the header announces", bytes.size() - header_end, r.payload()));

  out.image.assign(static_cast<std::size_t>(r.image_bytes()), 255);
  std::size_t pos = header_end;
  if (!read_region(bytes, pos, out, 'D', 0, r.region1_length, error) ||
      !read_region(bytes, pos, out, 'X', r.region2_start, r.region2_length, error))
    return 0;

  const std::size_t left = bytes.size() - pos;
  std::array<std::uint8_t, trailer_bytes> trailer;
  std::copy(trailer_head.begin(), trailer_head.end(), trailer.begin());
  std::copy(end_of_upload.begin(), end_of_upload.end(), trailer.begin() + trailer_head.size());
  if (!std::equal(trailer.begin(), trailer.begin() + static_cast<long>(std::min(left, trailer_bytes)), bytes.data() + pos))
    return fail(error, base::format("damaged file: no trailer at byte %zu, after the last record of the regions", pos));
  if (left < trailer_bytes) return fail(error, base::format("truncated file: it ends inside the trailer (byte %zu)", pos));
  if (left > trailer_bytes)
    return fail(error, base::format("damaged file: %zu bytes after the trailer", left - trailer_bytes));

  const std::uint8_t* image_head = out.image.data();
  if (base::get_u24(image_head + image_region1_length_at) != static_cast<std::uint32_t>(r.region1_length) ||
      base::get_u24(image_head + image_region2_length_at) != static_cast<std::uint32_t>(r.region2_length))
    return fail(error, base::format("damaged image: its region lengths %u and %u are not the header's %ld and %ld",
                                    base::get_u24(image_head + image_region1_length_at),
                                    base::get_u24(image_head + image_region2_length_at), r.region1_length,
                                    r.region2_length));
  compute_checksums(out);
  return 1;
}

// object-file -> image: checksum(16) region1-length(24) region2-length(24) ...
// The file is the image up to the end of region 2, so region 2 starts at
// its size less region 2's length: a region 1 size of some model.
int read_object_file(FileBytes bytes, FlashFile& out, std::string& error) {
  out = FlashFile{};
  if (bytes.size() < image_head_bytes)
    return fail(error, base::format("truncated file: %zu bytes, shorter than the image's head", bytes.size()));
  if (bytes.size() > base::limits::work_area)
    return fail(error, base::format("not an object file: %zu bytes, more than the DATA-FLASH holds", bytes.size()));
  FlashRegions& r = out.regions;
  r.region1_length = base::get_u24(bytes.data() + image_region1_length_at);
  r.region2_length = base::get_u24(bytes.data() + image_region2_length_at);
  r.region2_start = static_cast<long>(bytes.size()) - r.region2_length;
  bool model_size = false;
  for (int model = -1; model < static_cast<int>(base::models.size()); ++model)
    model_size = model_size || r.region2_start == base::region1_size(model);
  if (!model_size || r.region1_length > r.region2_start)
    return fail(error, base::format("truncated or damaged file: %zu bytes do not hold regions of %ld and %ld bytes",
                                    bytes.size(), r.region1_length, r.region2_length));
  out.image.assign(bytes.begin(), bytes.end());
  compute_checksums(out);
  return 1;
}

}  // namespace vexa::link
