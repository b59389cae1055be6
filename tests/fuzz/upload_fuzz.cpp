// Fuzz target of the upload-file reader of a programming run: any bytes are
// read as an upload file (header text, trailer). A file that reads is then
// programmed, with VERIFY, into the module its header names, which answers
// every read through a port backed by memory. So the header's sizes,
// addresses and verify blocks drive the transfer and the read-back as in a
// real run.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "driver/context.h"
#include "link/models.h"
#include "link/program.h"

namespace {

// What the module sends: its long identification (that of a VexaG6 when the
// header names no model), a flash of 1024 kB, the byte at its top read as 0
// and after the write as 255, then zeros for every poll and read-back.
std::vector<std::uint8_t> module_answers(int model) {
  const vexa::link::Model& m = vexa::link::models[static_cast<std::size_t>(model < 0 ? vexa::link::model_vexag6 : model)];
  const int exponent = std::bit_width(static_cast<unsigned>(m.colours)) - 1;
  std::vector<std::uint8_t> bytes = {255, 255, static_cast<std::uint8_t>(m.type)};
  for (int value : {m.width & 255, m.width >> 8, m.height & 255, m.height >> 8, exponent, m.series, 0, 4, 0, 255})
    bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.resize(bytes.size() + 4096, 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string file(reinterpret_cast<const char*>(data), size);
  vexa::link::UploadHeader header;
  if (!vexa::link::read_upload_file(file, -1, header)) return 0;

  auto ctx = std::make_unique<vexa::Context>();
  ctx->out.console = nullptr;
  ctx->settings.upload_file = "fuzz.DF";
  ctx->settings.verify = true;
  ctx->settings.send_block = 256;
  ctx->link.memory_port = true;
  ctx->link.rx = module_answers(header.model);
  vexa::link::program_upload(*ctx, file);
  return 0;
}
