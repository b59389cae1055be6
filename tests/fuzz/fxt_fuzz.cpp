// Fuzz target of the FXT font reader. Any bytes are read as a font file
// (messages go nowhere); a font that loads is written as a listing and read
// back, which must give the same image in every slot.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/paths.h"
#include "command/context.h"
#include "imagefiles/fxt.h"
#include "imagefiles/image.h"
#include "resources/import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto ctx = std::make_unique<command::Context>();
  ctx->out.console = nullptr;
  ctx->source.line = "FONT 1,<fuzz.fxt>";
  imagefiles::ImageSet& set = ctx->work_set;
  if (imagefiles::read_fxt_font(resources::line_faults(*ctx), set, "fuzz.fxt", imagefiles::Bytes(data, size)) != 1) return 0;

  const std::string listing = "/tmp/vexa-fxt-fuzz-" + std::to_string(::getpid()) + ".fxt";
  if (!imagefiles::write_font_listing(set, listing)) std::abort();
  std::string text;
  bool read = base::read_whole_file(listing, text);
  std::remove(listing.c_str());
  if (!read) std::abort();
  imagefiles::ImageSet& back = ctx->second_set;
  const imagefiles::Bytes bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (imagefiles::read_fxt_font(resources::line_faults(*ctx), back, "listing.fxt", bytes) != 1) std::abort();
  for (int slot = 0; slot < base::limits::image_slots; ++slot)
    if (imagefiles::has_image(set, slot) != imagefiles::has_image(back, slot) ||
        set.images[static_cast<std::size_t>(slot)].dib != back.images[static_cast<std::size_t>(slot)].dib)
      std::abort();
  return 0;
}
