#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace daxo {

// Element count of an n0 x n1 x n2 object, computed in 64 bits. A negative
// count, or one that does not fit the signed 32-bit count of the layout, throws
// std::bad_alloc before anything is allocated.
int32_t checkedElementCount(int64_t n0, int64_t n1, int64_t n2 = 1);

// Releases an array of allocateFloats: `mappedBytes` is the size of an array
// mapped on its own, 0 for one from the heap.
struct FloatArrayDeleter {
  size_t mappedBytes = 0;
  void operator()(float* p) const;
};
using FloatArray = std::unique_ptr<float[], FloatArrayDeleter>;

// One uninitialised array of `count` floats (count from checkedElementCount);
// null for 0. Throws std::bad_alloc when memory runs out.
FloatArray allocateFloats(int32_t count);

}  // namespace daxo
