// The 16-bit CRC of the upload file's header and of the module's read-back
// check (polynomial 0x1021, start 0, no reflection, no final XOR). A
// computation over several pieces passes the result of one as crc of the next.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexa::base {

std::uint16_t crc16(const std::uint8_t* bytes, std::size_t count, std::uint16_t crc = 0);

}  // namespace vexa::base
