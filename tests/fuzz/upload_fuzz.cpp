// Fuzz target of the upload-file readers: any bytes are read as an upload
// file and as an object file by the strict readers the listing uses, and as
// the programmer reads them (header text, trailer). A file whose header the
// programmer accepts is then programmed, with VERIFY, into the module its
// header names, which answers every read through a port backed by memory.
// So the header's sizes, addresses and verify blocks drive the transfer and
// the read-back as in a real run.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/models.h"
#include "base/output.h"
#include "link/link_state.h"
#include "link/program.h"
#include "link/upload_file.h"

namespace {

// What the module sends: its long identification (that of a VexaG6 when the
// header names no model), a flash of 1024 kB, the byte at its top read as 0
// and after the write as 255, then zeros for every poll and read-back.
std::vector<std::uint8_t> module_answers(int model) {
  const int row = model < 0 ? vexa::base::model_vexag6 : model;
  const vexa::base::Model& m = vexa::base::models[static_cast<std::size_t>(row)];
  const int exponent = std::bit_width(static_cast<unsigned>(m.colours)) - 1;
  std::vector<std::uint8_t> bytes = {255, 255, static_cast<std::uint8_t>(m.type)};
  for (int value : {m.width & 255, m.width >> 8, m.height & 255, m.height >> 8, exponent, m.series, 0, 4, 0, 255})
    bytes.push_back(static_cast<std::uint8_t>(value));
  bytes.resize(bytes.size() + 4096, 0);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  const link::FileBytes bytes(data, size);
  std::string error;
  link::FlashFile flash;
  link::read_upload_file(bytes, flash, error);
  flash = link::FlashFile{};
  link::read_object_file(bytes, flash, error);

  const std::string file(reinterpret_cast<const char*>(data), size);
  const link::UploadHeader header = link::read_upload_header(file);
  if (!header.found) return 0;
  link::LinkSettings s;
  s.upload_file = "fuzz.DF";
  s.verify = true;
  s.send_block = 256;
  link::LinkState state;
  state.memory_port = true;
  state.rx = module_answers(base::select_model(-1, header.model_text));
  base::Output out;
  out.console = nullptr;
  link::program_upload(s, state, out, file);
  return 0;
}
