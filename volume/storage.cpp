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

void FloatArrayDeleter::operator()(float* p) const { std::free(p); }

FloatArray allocateFloats(int32_t count) {
  if (count < 0) throw std::bad_alloc();
  if (count == 0) return nullptr;
  const size_t bytes = static_cast<size_t>(count) * sizeof(float);
  void* p = nullptr;
#if defined(__linux__)
  // Large arrays start on a 2 MB boundary and ask for transparent huge pages:
  // the first touch of fresh memory then faults once per 2 MB instead of once
  // per 4 kB, which made loading a project of a few hundred megabytes ten
  // times slower (on virtual machines a fault is dear). Only a hint: the
  // kernel may decline, and nothing else changes.
  constexpr size_t kHugePage = size_t{2} << 20;
  if (bytes >= kHugePage) {
    if (posix_memalign(&p, kHugePage, bytes) != 0) throw std::bad_alloc();
    madvise(p, bytes, MADV_HUGEPAGE);
    return FloatArray(static_cast<float*>(p));
  }
#endif
  p = std::malloc(bytes);
  if (p == nullptr) throw std::bad_alloc();
  return FloatArray(static_cast<float*>(p));
}

}  // namespace daxo
