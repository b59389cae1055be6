#include "driver/dataflash.h"

#include "driver/context.h"

namespace vexa::driver {

DataFlash::DataFlash()
    : image(limits::work_area, 255), resources(limits::work_area, 255), system_macros(macro_table_bytes / limits::pages, 255) {
  for (auto& table : macro_tables) table.assign(macro_table_bytes, 255);
  for (auto& directory : directories) directory.assign(directory_bytes, 255);
}

std::uint32_t get_u24(const std::uint8_t* p) { return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16); }

void put_u24(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc) {
  for (std::size_t i = 0; i < count; ++i) {
    crc = static_cast<std::uint16_t>(crc ^ (bytes[i] << 8));
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

}  // namespace vexa::driver
