// Fuzz target: the PNG reader on arbitrary bytes, with and without gamma
// correction. Each input is read twice: as it is, and with every chunk CRC
// recomputed, so that mutations reach the decoder behind the CRC check.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imagefiles/dispatch.h"
#include "read_checks.h"

namespace {

void fix_crcs(std::vector<std::uint8_t>& file) {
  std::size_t at = 8;
  while (at + 12 <= file.size()) {
    std::size_t length = (std::size_t{file[at]} << 24) | (file[at + 1] << 16) | (file[at + 2] << 8) | file[at + 3];
    if (length > file.size() - at - 12) break;
    auto crc = static_cast<std::uint32_t>(crc32_z(0, &file[at + 4], length + 4));
    for (int i = 0; i < 4; ++i) file[at + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
    at += 12 + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto set = std::make_unique<vexa::imagefiles::ImageSet>();
  vexa::imagefiles::ReadOptions options;
  options.gamma = size > 0 && (data[size - 1] & 1);
  options.alpha_threshold = size > 1 ? data[size / 2] : 128;
  options.max_image_bytes = vexa::fuzz::image_bytes;
  vexa::fuzz::check_read(vexa::imagefiles::read_png(*set, vexa::imagefiles::Bytes(data, size), options), *set);
  std::vector<std::uint8_t> fixed(data, data + size);
  fix_crcs(fixed);
  vexa::fuzz::check_read(vexa::imagefiles::read_png(*set, vexa::imagefiles::Bytes(fixed.data(), fixed.size()), options),
                         *set);
  return 0;
}
