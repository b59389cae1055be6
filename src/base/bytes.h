// Multi-byte values in a byte buffer. The module, the upload file and the
// bitmap formats store their numbers lowest byte first; PNG stores them
// highest byte first. Every reader and writer of such values uses these,
// and every reader of untrusted bytes reads them through one ByteCursor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

using Bytes = std::span<const std::uint8_t>;

// Reads untrusted bytes (a file, a block) front to back. Every read checks
// that its bytes are there; one that is not returns false and leaves the
// cursor where it was. So nothing is ever read past the end, and a
// truncated input is an error the caller sees at the read that missed,
// never a silent zero.
struct ByteCursor {
  Bytes bytes;
  std::size_t at = 0;

  std::size_t left() const { return bytes.size() - at; }
  bool seek(std::uint64_t offset) {
    if (offset > bytes.size()) return false;
    at = static_cast<std::size_t>(offset);
    return true;
  }
  bool skip(std::uint64_t n) { return n <= left() && seek(at + n); }
  // The next n bytes, in place (not copied).
  bool take(std::uint64_t n, Bytes& out) {
    if (n > left()) return false;
    out = bytes.subspan(at, static_cast<std::size_t>(n));
    at += static_cast<std::size_t>(n);
    return true;
  }
  bool u8(std::uint8_t& value) {
    if (left() < 1) return false;
    value = bytes[at++];
    return true;
  }
  bool u16(std::uint16_t& value) { return number(2, get_u16, value); }
  bool u24(std::uint32_t& value) { return number(3, get_u24, value); }
  bool u32(std::uint32_t& value) { return number(4, get_u32, value); }
  bool u32_be(std::uint32_t& value) { return number(4, get_u32_be, value); }

  // A number of n bytes, decoded by get.
  template <typename Get, typename Value>
  bool number(std::size_t n, Get get, Value& value) {
    if (left() < n) return false;
    value = get(bytes.data() + at);
    at += n;
    return true;
  }
};

}  // namespace vexa::base
