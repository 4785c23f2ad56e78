#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace daxo {

// All binary project and map files are little-endian. Whole blocks of voxels
// are copied with memcpy on little-endian hosts; on a big-endian host every
// element of a block is byte-swapped in place after reading and before
// writing, so the same code serves both.

inline bool hostIsLittleEndian() {
  const uint16_t probe = 1;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// Reverses the bytes of each of `count` elements of `elementSize` bytes.
inline void swapEachElement(unsigned char* bytes, size_t count, size_t elementSize) {
  for (size_t i = 0; i < count; ++i) {
    unsigned char* e = bytes + i * elementSize;
    for (size_t a = 0, b = elementSize - 1; a < b; ++a, --b) {
      const unsigned char t = e[a];
      e[a] = e[b];
      e[b] = t;
    }
  }
}

// Converts `count` elements between file (little-endian) and host order; a
// no-op on little-endian hosts. The conversion is its own inverse.
inline void littleEndianToHost(void* data, size_t count, size_t elementSize) {
  if (!hostIsLittleEndian()) swapEachElement(static_cast<unsigned char*>(data), count, elementSize);
}

}  // namespace daxo
