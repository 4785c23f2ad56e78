#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "volume/volume.h"

// One estimation of the displacement map of a scan pair, by either method:
// what the plugin's estimate tasks and daxo's NIfTI estimation share.

namespace daxo {

enum class EstimationMethod {
  Variational,  // correction/variationalestimate.h
  Classic,      // the dialog's algorithm: column-wise start, four stages of local search
};

// The settings of one estimation. The four classic settings are ignored by
// the variational method.
struct EstimationOptions {
  EstimationMethod method = EstimationMethod::Variational;
  bool fast = false;    // classic: the smoothed column-wise estimate only
  bool useSsd = false;  // classic: squared differences instead of correlation
  bool useIc = true;    // classic: intensity correction by the map's derivative
  int32_t order = 0;    // classic: derivative order of the column-wise pre-filter
  int threads = 0;      // 0: threadCount() decides; the map does not depend on it
};

// Pre-filter orders the column-wise estimate knows: 0 plain smoothing, 1 and
// 2 the Gaussian's first and second derivative.
bool isFilterOrder(int32_t order);

// The map of the first scan, in voxels along y (the phase-encoding axis),
// from the pair with voxel sizes `voxelSizeMm` (x, y, z, that frame). Empty
// when the classic estimation met not-a-number values; it has then logged
// why. Progress goes to `log` as the method logs it.
std::optional<Volume> estimatePairMap(const Volume& first, const Volume& second,
                                      const std::array<double, 3>& voxelSizeMm, const EstimationOptions& options,
                                      std::ostream& log);

}  // namespace daxo
