#include "base/bytes.h"
#include "imagefiles/reader_support.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vexa::imagefiles {

namespace {
constexpr std::size_t huge_page = 2u << 20;
}

void LargeBuffer::Free::operator()(std::uint8_t* p) const { std::free(p); }

void advise_large(void* data, std::size_t size) {
#if defined(MADV_HUGEPAGE)
  // Only whole huge pages inside the block can be backed by them.
  auto start = (reinterpret_cast<std::uintptr_t>(data) + huge_page - 1) & ~(huge_page - 1);
  auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(huge_page - 1);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

bool allocate_large(LargeBuffer& buffer, std::size_t size) {
  buffer.data.reset();
  buffer.size = 0;
  if (size == 0) return false;
  // A plain block, not one aligned to the huge-page size: an aligned block is
  // cut out of a larger one, the cut-off pieces are soon taken by small
  // blocks, and the space can then no longer hold the next picture's buffers,
  // so that every picture decoded later runs on fresh memory the system must
  // first clear. Only the unaligned ends of the block miss huge pages.
  void* p = std::malloc(size);
  if (p == nullptr) return false;
  if (size >= huge_page) advise_large(p, size);
  buffer.data.reset(static_cast<std::uint8_t*>(p));
  buffer.size = size;
  return true;
}

bool create_bitmap(Image& image, std::int64_t width, std::int64_t height, int bits,
                   int table_entries, std::uint32_t clr_used) {
  if (table_entries < 0) {
    release_image(image);
    return false;
  }
  return create_dib(image, width, height, bits, static_cast<std::uint32_t>(table_entries), clr_used,
                               advise_large);
}

}  // namespace vexa::imagefiles
