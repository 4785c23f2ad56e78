#include "correction/pairestimation.h"

#include <cmath>

#include "correction/estimationschedule.h"
#include "correction/simplevdmestimate.h"
#include "correction/variationalestimate.h"
#include "correction/vdmestimate.h"
#include "volume/columnthreads.h"
#include "volume/volumegauss.h"

namespace daxo {

namespace {

// The fast path has no such marker: a column fit that divided by zero spreads
// its NaN over the whole map when the map is smoothed, so the map is looked
// at as a whole.
bool holdsNotANumber(const Volume& v) {
  const float* values = v.data();
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    if (std::isnan(values[i])) return true;
  }
  return false;
}

// The column-wise estimate smoothed with sigma 1.5 voxels; empty, after a
// log entry, when it holds NaN.
std::optional<Volume> estimateFast(const Volume& vol_ap, const Volume& vol_pa, const Sigma3& sigma,
                                   const EstimationOptions& o, std::ostream& log) {
  ColumnThreads threads(threadCount(o.threads));
  Volume v = estimateColumnWise(vol_ap, vol_pa, sigma, &log, o.order, &threads);
  smooth(v, Sigma3{1.5, 1.5, 1.5}, Dimensions{0, 0, 0}, true);
  if (holdsNotANumber(v)) {
    log << "Not-a-number values detected. Please start again trying higher order." << std::flush;
    return std::nullopt;
  }
  return v;
}

// The four-stage estimation without motion correction; empty when it stopped
// on not-a-number costs (it has logged why).
std::optional<Volume> estimateFull(const Volume& vol_ap, const Volume& vol_pa, const std::array<double, 3>& voxelSize,
                                   const Sigma3& sigma, const EstimationOptions& o, std::ostream& log) {
  VdmEstimateSettings settings = standardVdmSettings(voxelSize);
  settings.columnSigma = sigma;
  settings.order = o.order;
  settings.useSsd = o.useSsd;
  settings.useIc = o.useIc;
  settings.threads = o.threads;
  VdmEstimate estimate = estimateVdm(vol_ap, vol_pa, settings, &log);
  if (estimate.stoppedOnNotANumber) return std::nullopt;
  return std::move(estimate.map);
}

}  // namespace

bool isFilterOrder(int32_t order) { return order >= 0 && order <= 2; }

std::optional<Volume> estimatePairMap(const Volume& first, const Volume& second,
                                      const std::array<double, 3>& voxelSizeMm, const EstimationOptions& options,
                                      std::ostream& log) {
  // The variational estimate works in voxels: the voxel size does not enter.
  if (options.method == EstimationMethod::Variational) {
    VariationalSettings settings;
    settings.threads = options.threads;
    return estimateVariational(first, second, settings, &log);
  }
  const Sigma3 sigma = standardColumnSigma(voxelSizeMm);
  if (options.fast) return estimateFast(first, second, sigma, options, log);
  return estimateFull(first, second, voxelSizeMm, sigma, options, log);
}

}  // namespace daxo
