// Sorting one array on several threads, with the result std::sort would give.
//
// The comparator must be a strict total order (no two elements equivalent), as the run
// spiller's is (ties on the key are broken by arena offset): the sorted array is then
// unique, so it does not depend on the number of threads. The range is split around the
// median of a sample (one partition pass), and the halves are sorted at once, recursively,
// until each part has one thread. Nothing is allocated beyond the threads' own stacks;
// a thread that cannot be started leaves its part to the calling thread.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <system_error>
#include <thread>

namespace quarn {

// Below this many elements one thread sorts faster than two can start.
constexpr size_t kParallelSortMin = 4096;

template <typename It, typename Less>
void parallel_sort(It first, It last, size_t threads, const Less& less) {
  using T = typename std::iterator_traits<It>::value_type;
  const size_t n = static_cast<size_t>(last - first);
  if (threads < 2 || n < kParallelSortMin) {
    std::sort(first, last, less);
    return;
  }
  // The median of 31 distinct elements has 15 of them below it and 15 above, so
  // neither part is empty and the recursion ends.
  std::array<T, 31> sample;
  for (size_t i = 0; i < sample.size(); ++i) sample[i] = first[i * (n / sample.size())];
  std::nth_element(sample.begin(), sample.begin() + 15, sample.end(), less);
  const T pivot = sample[15];
  const It mid = std::partition(first, last, [&](const T& e) { return less(e, pivot); });
  const size_t left = threads / 2;
  try {
    std::thread t([&] { parallel_sort(first, mid, left, less); });
    parallel_sort(mid, last, threads - left, less);
    t.join();
  } catch (const std::system_error&) {
    // Only the thread's start can throw here (the sorts themselves do not).
    parallel_sort(first, mid, 1, less);
    parallel_sort(mid, last, threads - left, less);
  }
}

}  // namespace quarn
