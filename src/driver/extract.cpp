#include "driver/extract.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "base/format.h"
#include "base/paths.h"
#include "driver/listing.h"
#include "imagefiles/bmp.h"
#include "imagefiles/image.h"
#include "imagefiles/native.h"
#include "resources/animations.h"
#include "resources/borders.h"
#include "resources/instruments.h"

namespace vexa::driver {

namespace {

constexpr int exit_failed = 2;

int fail(const std::string& name, const std::string& text) {
  std::fprintf(stderr, "vexac: %s: %s\n", name.c_str(), text.c_str());
  return exit_failed;
}

// "picture-p0-012": the kind in lower case, page and number.
std::string file_stem(const Entry& r) {
  std::string kind(r.kind);
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return base::format("%s-p%d-%03d", kind.c_str(), r.page, r.number);
}

// Decodes the resource's images into set with the code that reads the
// kind's blocks when they are imported: borders and patterns from their
// records, instruments each position drawn on its dial, everything else
// from its bitmap block, difference frames of an animation drawn over the
// frames before them. False when the block is damaged.
bool decode_resource(const Entry& r, base::Bytes bytes, imagefiles::ImageSet& set) {
  if (r.kind == "BORDER" || r.kind == "PATTERN") return resources::expand_border_record(bytes, r.kind == "BORDER", set);
  if (r.kind == "INSTRUMENT") {
    resources::InstrumentBlock block;
    block.block.assign(bytes.begin(), bytes.end());
    block.block_size = static_cast<std::uint32_t>(bytes.size());
    return resources::expand_instrument_frames(set, block, 1);
  }
  return imagefiles::read_g16(set, bytes) == 1 && (r.kind != "ANIMATION" || resources::compose_difference_frames(set));
}

// The name of image slot of the resource's set: fonts by character code,
// pictures and patterns without a frame number when they hold one image.
std::string image_file_name(const Entry& r, const imagefiles::ImageSet& set, int slot) {
  if (r.kind == "FONT") return file_stem(r) + base::format("-c%03d.bmp", slot);
  if ((r.kind == "PICTURE" || r.kind == "PATTERN") && set.count == 1) return file_stem(r) + ".bmp";
  return file_stem(r) + base::format("-f%03d.bmp", slot);
}

// macro -> one line naming it, then its bytes in hexadecimal, a line from
// each ESC on, the printable ones again as characters.
std::string macro_listing(const Entry& m, const std::vector<std::uint8_t>& image) {
  std::string text = base::format("%s: %ld bytes\n", entry_name(m).c_str(), m.size);
  std::string hex, chars;
  auto end_line = [&]() {
    if (!hex.empty()) text += "  " + hex + " " + chars + "\n";
    hex.clear();
    chars.clear();
  };
  for (long at = m.address; at < m.address + m.size; ++at) {
    const std::uint8_t c = image[static_cast<std::size_t>(at)];
    if (c == 27) end_line();
    hex += base::format("%02X ", c);
    chars += c >= 32 && c < 127 ? static_cast<char>(c) : '.';
  }
  end_line();
  return text;
}

}  // namespace

int extract_command(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0].empty() || args[1].empty()) {
    std::fputs("usage: vexac --extract FILE DIR\n", stderr);
    return exit_failed;
  }
  const std::string& name = args[0];
  std::string bytes, error;
  link::FlashFile file;
  if (!read_flash_file(name, bytes, file, error)) return fail(name, error);
  std::vector<Entry> resources, macros;
  error = read_contents(file.image, resources, macros);
  if (!error.empty()) return fail(name, error);

  std::string dir = args[1];
  std::error_code code;
  std::filesystem::create_directories(dir, code);
  if (!std::filesystem::is_directory(dir)) return fail(dir, "cannot create the folder");
  if (dir.back() != '/') dir += '/';

  auto write = [&dir](const std::string& file_name, std::string_view content) {
    if (!base::write_file_atomically(dir + file_name, content)) return false;
    std::printf("%s\n", file_name.c_str());
    return true;
  };
  auto set = std::make_unique<imagefiles::ImageSet>();
  int damaged = 0;
  for (const Entry& r : resources) {
    const base::Bytes block(file.image.data() + r.address, static_cast<std::size_t>(r.size));
    if (r.kind == "STRING") {
      // The record ends at its first byte 0.
      const std::string_view text(reinterpret_cast<const char*>(block.data()), block.size());
      const std::size_t end = text.find('\0');
      if (end == std::string_view::npos) {
        std::fprintf(stderr, "vexac: %s: %s has no end, skipped\n", name.c_str(), entry_name(r).c_str());
        ++damaged;
      } else if (!write(file_stem(r) + ".txt", text.substr(0, end))) {
        return fail(dir + file_stem(r) + ".txt", "cannot write the file");
      }
      continue;
    }
    if (!decode_resource(r, block, *set)) {
      std::fprintf(stderr, "vexac: %s: %s is damaged, skipped\n", name.c_str(), entry_name(r).c_str());
      ++damaged;
      continue;
    }
    for (int slot = set->first_number; slot < set->first_number + set->count; ++slot) {
      if (!imagefiles::has_image(*set, slot)) continue;
      const std::vector<std::uint8_t> bmp = imagefiles::bmp_file_bytes(set->images[static_cast<std::size_t>(slot)]);
      const std::string file_name = image_file_name(r, *set, slot);
      if (!write(file_name, std::string_view(reinterpret_cast<const char*>(bmp.data()), bmp.size())))
        return fail(dir + file_name, "cannot write the file");
    }
  }
  if (!macros.empty()) {
    std::string text;
    for (const Entry& m : macros) text += macro_listing(m, file.image);
    if (!write("macros.txt", text)) return fail(dir + "macros.txt", "cannot write the file");
  }
  std::fflush(stdout);
  return damaged > 0 ? exit_failed : 0;
}

}  // namespace vexa::driver
