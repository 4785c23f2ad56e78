#include "volume/vectorlanes.h"

namespace daxo {

const std::vector<int>& vectorWidths() {
  static const std::vector<int> widths = [] {
    std::vector<int> w{4};
#if DAXO_WIDE_LANES
    // Also asks whether the system saves the wider registers.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) w.push_back(8);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("avx512f")) w.push_back(16);
#endif
    return w;
  }();
  return widths;
}

}  // namespace daxo
