// Helpers shared by the driver, link and end-to-end tests: a CRC written
// independently of the program's, the decoding of the 12-byte records a
// front-end receives, and fake USB serial devices in a sysfs-like tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace vexa::test {

// CRC-16 with polynomial 0x1021, start 0, most significant bit first, bit by
// bit, so that no test checks the program's table-driven CRC against itself.
inline std::uint16_t xmodem_crc(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to,
                                std::uint16_t crc = 0) {
  for (std::size_t i = from; i < to; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      bool top = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1);
      if ((((bytes[i] >> bit) & 1) != 0) != top) crc ^= 0x1021;
    }
  return crc;
}

struct WindowRecord {
  std::uint32_t message, wparam, lparam;
  bool operator==(const WindowRecord&) const = default;
};

inline std::vector<WindowRecord> window_records(const std::string& bytes) {
  std::vector<WindowRecord> records;
  auto u32 = [&](std::size_t at) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24);
  };
  for (std::size_t at = 0; at + 12 <= bytes.size(); at += 12) records.push_back({u32(at), u32(at + 4), u32(at + 8)});
  return records;
}

// The texts of a record stream, each with the end code of its closing
// record: 1034 opens and closes a text, 1035..1040 carry 1..6 characters.
inline std::vector<std::pair<std::string, int>> window_texts(const std::string& bytes) {
  std::vector<std::pair<std::string, int>> texts;
  std::string text;
  bool open = false;
  for (const WindowRecord& r : window_records(bytes)) {
    if (r.message == 1034) {
      if (open) texts.emplace_back(text, static_cast<int>(r.wparam));
      open = !open;
      text.clear();
    } else if (r.message > 1034 && r.message <= 1040) {
      std::uint32_t w = r.wparam, l = r.lparam;
      const char b[6] = {static_cast<char>(w),      static_cast<char>(l),       static_cast<char>(w >> 8),
                         static_cast<char>(l >> 8), static_cast<char>(l >> 16), static_cast<char>(l >> 24)};
      text.append(b, r.message - 1034);
    }
  }
  return texts;
}

// A USB serial device `tty` under root: a USB device folder usb with the
// vendor, maker and product files (null: absent), an interface folder holding
// the tty, and the class/tty link to it.
inline void add_usb_tty(const std::string& root, const std::string& tty, const std::string& usb, const char* maker,
                        const char* product) {
  namespace fs = std::filesystem;
  fs::path dev = fs::path(root) / "devices/pci0000:00/usb1" / usb;
  fs::create_directories(dev / (usb + ":1.0") / tty);
  write_file((dev / "idVendor").string(), "1234\n");
  if (maker != nullptr) write_file((dev / "manufacturer").string(), std::string(maker) + "\n");
  if (product != nullptr) write_file((dev / "product").string(), std::string(product) + "\n");
  fs::create_directories(fs::path(root) / "class/tty" / tty);
  fs::create_directory_symlink(dev / (usb + ":1.0") / tty, fs::path(root) / "class/tty" / tty / "device");
}

}  // namespace vexa::test
