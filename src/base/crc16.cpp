#include "base/crc16.h"

#include <array>

namespace vexa::base {

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

}  // namespace vexa::base
