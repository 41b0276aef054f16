// Huge-page hints; see huge_pages.h.
#include "common/huge_pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace quarn {

void advise_huge_pages(const void* data, size_t bytes) {
  if (data == nullptr || bytes < kHugePageHintMin) return;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t first = (begin + page - 1) / page * page;
  const uintptr_t last = (begin + bytes) / page * page;
  if (last <= first) return;
  // Only a hint: when the kernel declines, the memory works as before.
  (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace quarn
