// A hint that a large array is read at random: back it with huge pages where the
// system grants them on request.
//
// The sort arena of a build, its entry table and the record store's value table run to
// gigabytes and are read in an order unrelated to their layout; with 4 KiB pages nearly
// every such read also misses the address translation cache, which costs as much as
// the read itself. The hint changes no contents and no sizes; memory already touched
// keeps its pages. Failure (no huge pages, a kernel that refuses) is silent: the memory
// simply stays as it was.
#pragma once

#include <cstddef>

namespace quarn {

// Below this the hint is skipped: a huge page is 2 MiB, so smaller arrays gain nothing.
inline constexpr size_t kHugePageHintMin = size_t{4} << 20;

// Advises the whole pages inside [data, data + bytes).
void advise_huge_pages(const void* data, size_t bytes);

}  // namespace quarn
