#pragma once

#include <cstdint>
#include <vector>

// Lanes of floats for hot loops written with the compiler's vector
// extension. Code that uses them performs, in every lane, exactly the scalar
// operations of its own element, so results do not depend on the width; the
// widths beyond 4 (8 and 16 floats, x86-64's AVX2 and AVX-512) are used
// where the processor has them, through functions compiled for that
// instruction set (`__attribute__((target("avx2")))`) into which the lane
// code is inlined. Only on Linux: the Windows ABI does not keep the stack
// aligned for the wider vectors.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define DAXO_WIDE_LANES 1
#else
#define DAXO_WIDE_LANES 0
#endif

// Lane code must be inlined into the function compiled for its width; it
// never passes a vector by value across a call (the wider ones would change
// the default ABI).
#define DAXO_LANES_INLINE inline __attribute__((always_inline))

namespace daxo {

template <int kLanes>
struct Lanes {
  typedef float Floats __attribute__((vector_size(4 * kLanes)));
  typedef int32_t Ints __attribute__((vector_size(4 * kLanes)));
};

// The widths (floats per operation) this computer runs: 4, then 8 and 16
// where available; the last is the widest.
const std::vector<int>& vectorWidths();

}  // namespace daxo
