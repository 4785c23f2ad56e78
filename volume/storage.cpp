#include "volume/storage.h"

#include <initializer_list>
#include <limits>
#include <new>

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

std::unique_ptr<float[]> allocateFloats(int32_t count) {
  if (count < 0) throw std::bad_alloc();
  if (count == 0) return nullptr;
  return std::unique_ptr<float[]>(new float[static_cast<size_t>(count)]);
}

}  // namespace daxo
