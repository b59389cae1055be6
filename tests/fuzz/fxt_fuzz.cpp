// Fuzz target of the FXT font reader. Any bytes are read as a font file; a
// font that loads has no faults, and its listing (made in memory) read back
// must give the same image in every slot.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/limits.h"
#include "imagefiles/fxt.h"
#include "imagefiles/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vexa;
  auto sets = std::make_unique<std::array<imagefiles::ImageSet, 2>>();
  imagefiles::ImageSet& set = (*sets)[0];
  std::vector<imagefiles::LineFault> faults;
  if (imagefiles::read_fxt_font(set, imagefiles::Bytes(data, size), faults) != 1) return 0;
  if (!faults.empty()) std::abort();

  const std::string text = imagefiles::font_listing(set);
  imagefiles::ImageSet& back = (*sets)[1];
  const imagefiles::Bytes bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  if (imagefiles::read_fxt_font(back, bytes, faults) != 1 || !faults.empty()) std::abort();
  for (int slot = 0; slot < base::limits::image_slots; ++slot)
    if (imagefiles::has_image(set, slot) != imagefiles::has_image(back, slot) ||
        set.images[static_cast<std::size_t>(slot)].dib != back.images[static_cast<std::size_t>(slot)].dib)
      std::abort();
  return 0;
}
