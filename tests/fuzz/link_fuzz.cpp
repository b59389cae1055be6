// Fuzz target of the link layer: a programming run of a small upload file into
// a module whose every answer comes from the input, through a port backed by
// memory (no device, no waits). The first byte chooses the settings: bit 0
// VERIFY, bit 1 no write-protect check, bit 2 a fixed rate of 115200 baud,
// bit 3 RS485 address 1, bits 4-5 the bytes per write (1, 8, 64, 256). The
// other bytes are what the module sends, in the order the reads take them:
// the identification in plain or framed mode, the flash size, the
// acknowledgements and the answer packets.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/crc16.h"
#include "base/format.h"
#include "base/output.h"
#include "link/link_state.h"
#include "link/program.h"

namespace {

// A VexaG6 upload file of 64 payload bytes (0, 1, 2 ...; 32 in each region,
// region 2 at 0x8000, read back in two blocks): the header text a programming
// run reads, the payload as it is sent, the end-of-upload command.
std::string small_upload() {
  std::uint8_t payload[64];
  for (int i = 0; i < 64; ++i) payload[i] = static_cast<std::uint8_t>(i);
  std::string file = vexa::base::format("program VexaG6\r\n\nfuzz#TP32,$8000;#TP64,$%X;#BR1,0,64,479,90,0,2,1;",
                                        vexa::base::crc16(payload, sizeof payload));
  file.append(reinterpret_cast<const char*>(payload), sizeof payload);
  file += std::string("\x1b&D\0\0\0\0\0\0J", 10);
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string upload = small_upload();
  if (size == 0) return 0;
  const int options = data[0];
  vexa::base::Output out;
  out.console = nullptr;
  vexa::link::LinkSettings s;
  s.upload_file = "fuzz.DF";
  s.verify = (options & 1) != 0;
  s.check_write_protect = (options & 2) != 0 ? 0 : 1;
  if ((options & 4) != 0) {
    s.autoscan = 0;
    s.baud = 115200;
  }
  if ((options & 8) != 0) s.rs485_address = 1;
  static constexpr int send_blocks[4] = {1, 8, 64, 256};
  s.send_block = send_blocks[(options >> 4) & 3];
  vexa::link::LinkState link;
  link.memory_port = true;
  link.rx.assign(data + 1, data + size);
  vexa::link::program_upload(s, link, out, upload);
  return 0;
}
