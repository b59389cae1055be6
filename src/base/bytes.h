// Multi-byte values in a byte buffer. The module, the upload file and the
// bitmap formats store their numbers lowest byte first; PNG stores them
// highest byte first. Every reader and writer of such values uses these.
#pragma once

#include <cstdint>

namespace vexa::base {

inline std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t get_u24(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void put_u16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_u24(std::uint8_t* p, std::uint32_t v) {
  put_u16(p, v);
  p[2] = static_cast<std::uint8_t>(v >> 16);
}
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
  put_u24(p, v);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint16_t get_u16_be(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
inline std::uint32_t get_u32_be(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace vexa::base
