#include "volume/storage.h"

#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace daxo {

int32_t checkedElementCount(int64_t n0, int64_t n1, int64_t n2) {
  if (n0 < 0 || n1 < 0 || n2 < 0) throw std::bad_alloc();
  const int64_t limit = std::numeric_limits<int32_t>::max();
  // Multiply step by step so that no intermediate product can overflow.
  int64_t count = n0;
  for (int64_t n : {n1, n2}) {
    if (n != 0 && count > limit / n) throw std::bad_alloc();
    count *= n;
  }
  return static_cast<int32_t>(count);
}

namespace {

#if defined(__linux__)
constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kSmallPage = 4096;

// An array of `bytes` (a multiple of kSmallPage) mapped on its own on a
// kHugePage boundary, marked for transparent huge pages: the first touch of
// fresh memory then faults once per 2 MB instead of once per 4 kB, which made
// loading a project of a few hundred megabytes ten times slower (on virtual
// machines a fault is dear). The mapping is cut to the array itself, so no
// neighbouring bookkeeping pulls in a huge page of its own. Null when the
// mapping fails.
void* mapHugeArray(size_t bytes) {
  const size_t span = bytes + kHugePage;
  void* mapped = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = start + span, arrayEnd = aligned + bytes;
  if (end > arrayEnd) munmap(reinterpret_cast<void*>(arrayEnd), end - arrayEnd);
  // Only a hint: the kernel may decline, and nothing else changes.
  madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}
#endif

}  // namespace

void FloatArrayDeleter::operator()(float* p) const {
#if defined(__linux__)
  if (mappedBytes > 0) {
    munmap(p, mappedBytes);
    return;
  }
#endif
  std::free(p);
}

FloatArray allocateFloats(int32_t count) {
  if (count < 0) throw std::bad_alloc();
  if (count == 0) return nullptr;
  const size_t bytes = static_cast<size_t>(count) * sizeof(float);
#if defined(__linux__)
  if (bytes >= kHugePage) {
    // Whole 4 kB pages; the part past the last 2 MB boundary stays in small
    // pages, so nothing is wasted.
    const size_t mapped = (bytes + kSmallPage - 1) & ~(kSmallPage - 1);
    void* p = mapHugeArray(mapped);
    if (p == nullptr) throw std::bad_alloc();
    return FloatArray(static_cast<float*>(p), FloatArrayDeleter{mapped});
  }
#endif
  void* p = std::malloc(bytes);
  if (p == nullptr) throw std::bad_alloc();
  return FloatArray(static_cast<float*>(p));
}

}  // namespace daxo
