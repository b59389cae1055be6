// Fuzz target of the FXT font reader. Any bytes are read as a font file
// (messages go nowhere); a font that loads is listed and the listing read
// back, which must give the same image in every slot.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/context.h"
#include "imagefiles/fxt.h"
#include "resources/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto ctx = std::make_unique<Context>();
  ctx->out.console = nullptr;
  ctx->source.line = "FONT 1,<fuzz.fxt>";
  resources::ImageSet& set = ctx->work_set;
  if (imagefiles::read_fxt_font(*ctx, set, "fuzz.fxt", imagefiles::Bytes(data, size)) != 1) return 0;

  const std::string text = imagefiles::font_listing(set);
  resources::ImageSet& back = ctx->second_set;
  const imagefiles::Bytes bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (imagefiles::read_fxt_font(*ctx, back, "listing.fxt", bytes) != 1) std::abort();
  for (int slot = 0; slot < limits::image_slots; ++slot)
    if (resources::has_image(set, slot) != resources::has_image(back, slot) ||
        set.images[static_cast<std::size_t>(slot)].dib != back.images[static_cast<std::size_t>(slot)].dib)
      std::abort();
  return 0;
}
