#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "correction/estimationschedule.h"
#include "correction/simplevdmestimate.h"
#include "correction/variationalestimate.h"
#include "correction/vdmestimate.h"
#include "fileio/inputfile.h"
#include "plugin/dialogkeys.h"
#include "plugin/hostapi.h"
#include "plugin/loadedproject.h"
#include "plugin/mapsaving.h"
#include "plugin/tasks.h"
#include "volume/volumegauss.h"

namespace daxo {

namespace {

// The dialog's settings of one estimation. The plugin has no defaults: every
// value is what the dialog holds.
struct EstimateSettings {
  std::string file0;  // first project (the reference scan)
  std::string file1;  // second project, opposite phase-encoding direction
  int32_t volume0 = 0;
  int32_t volume1 = 0;
  bool rllr = false;  // phase encoding along x: the volumes are transposed
  bool useIc = false;
  bool useSsd = false;
  bool applyToInput = false;
  bool saveDerivative = false;
  bool fastAlgorithm = false;
  int32_t order = 0;
};

// Reads the eleven parameters in this order, each once.
EstimateSettings readSettings() {
  EstimateSettings s;
  s.file0 = readStringParameter(dialogkeys::kFile0);
  s.file1 = readStringParameter(dialogkeys::kFile1);
  const HvGetIntParameterFunction getInt = requireHostFunction(hostApi().hvGetIntParameter, "hvGetIntParameter");
  s.volume0 = getInt(dialogkeys::kVolume0);
  s.volume1 = getInt(dialogkeys::kVolume1);
  s.rllr = getInt(dialogkeys::kRllr) != 0;
  s.useIc = getInt(dialogkeys::kUseIc) != 0;
  s.useSsd = getInt(dialogkeys::kUseSsd) != 0;
  s.applyToInput = getInt(dialogkeys::kApplyToInput) != 0;
  s.saveDerivative = getInt(dialogkeys::kSaveDerivative) != 0;
  s.fastAlgorithm = getInt(dialogkeys::kFastAlgorithm) != 0;
  s.order = getInt(dialogkeys::kOrder);
  return s;
}

// The value the full estimation leaves in the map's first voxel when it
// stopped on not-a-number costs (compared after rounding half away from
// zero).
constexpr double kNotANumberMarker = -99.0;

bool stoppedOnNotANumber(const Volume& v) { return std::round(v.data()[0]) == kNotANumberMarker; }

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
                                   const EstimateSettings& s, std::ostream& log) {
  Volume v = estimateColumnWise(vol_ap, vol_pa, sigma, &log, s.order);
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
                                   const Sigma3& sigma, const EstimateSettings& s, std::ostream& log) {
  const EstimationSchedule schedule = standardSchedule(voxelSize);
  Volume v = estimateVdm(vol_ap, vol_pa, voxelSize, sigma, s.useSsd, schedule.localBoxes, schedule.shifts,
                         schedule.smoothing, s.useIc, false, &log, s.order);
  if (stoppedOnNotANumber(v)) return std::nullopt;
  return v;
}

// The map of the first scan (y the phase-encoding axis, voxel sizes in that
// frame); empty when the estimation met not-a-number values.
std::optional<Volume> estimateMap(const Volume& vol_ap, const Volume& vol_pa, const std::array<double, 3>& voxelSize,
                                  const EstimateSettings& s, std::ostream& log) {
  const Sigma3 sigma = standardColumnSigma(voxelSize);
  if (s.fastAlgorithm) return estimateFast(vol_ap, vol_pa, sigma, s, log);
  return estimateFull(vol_ap, vol_pa, voxelSize, sigma, s, log);
}

// Both maps were saved under one name, the second replacing the first (and
// likewise the derivatives and corrected copies): refused before anything is
// estimated.
void refuseCollidingNames(const EstimateSettings& s) {
  if (vdmMapName(s.file0) == vdmMapName(s.file1)) {
    throw std::runtime_error("The maps of " + s.file0 + " and " + s.file1 + " would both be saved as " +
                             vdmMapName(s.file0) + "; give two projects with different names.");
  }
}

void saveMaps(const Volume& v, const Volume& w, const EstimateSettings& s) {
  saveVolumeAsMap(v, s.rllr, 1.0f, 5.0f, vdmMapName(s.file0));
  saveVolumeAsMap(w, s.rllr, 1.0f, 5.0f, vdmMapName(s.file1));
  if (!s.saveDerivative) return;
  const Volume d = derivativeY(v);
  const Volume e = d * -1.0f;
  saveVolumeAsMap(d, s.rllr, 0.1f, 1.0f, vdmDerivMapName(s.file0));
  saveVolumeAsMap(e, s.rllr, 0.1f, 1.0f, vdmDerivMapName(s.file1));
}

std::string extentsText(const Dimensions& d) {
  return std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z);
}

// Voxels that are not finite numbers carry no signal; they are estimated from
// as 0 (a single one made the whole estimation fail on not-a-number costs).
// Finite voxels are untouched, so other scans give the same maps bit for bit.
void zeroNonFinite(Volume& v, const std::string& path, std::ostream& log) {
  float* values = v.data();
  size_t count = 0;
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    if (!std::isfinite(values[i])) {
      values[i] = 0.0f;
      ++count;
    }
  }
  if (count > 0) {
    log << count << " voxels of " << path << " that are not finite numbers are estimated from as 0." << std::flush;
  }
}

// The variational estimate (correction/variationalestimate.h) with its
// defaults; it works in voxels, so the voxel size does not enter, and it reads
// none of the classic method's four settings (use_ic, use_ssd,
// fast_algorithm, order).
std::optional<Volume> estimateVariationalMap(const Volume& vol_ap, const Volume& vol_pa,
                                             const std::array<double, 3>& /*voxelSize*/, const EstimateSettings& /*s*/,
                                             std::ostream& log) {
  return estimateVariational(vol_ap, vol_pa, VariationalSettings{}, &log);
}

using MapEstimator = std::function<std::optional<Volume>(const Volume&, const Volume&, const std::array<double, 3>&,
                                                         const EstimateSettings&, std::ostream&)>;

// Reads the eleven parameters, loads the pair, estimates the map of the
// first scan with `estimator`, saves both maps and optionally corrects both
// projects. Both estimate tasks share this sequence of host calls.
void estimateAndSave(std::ostream& log, const MapEstimator& estimator) {
  const InputTracking inputs;
  const EstimateSettings s = readSettings();
  LoadedProject first = loadProject(s.file0);
  LoadedProject second = loadProject(s.file1);
  const Dimensions extents0 = first.volumes().front().dimensions();
  const Dimensions extents1 = second.volumes().front().dimensions();
  if (extents0 != extents1) {
    throw std::runtime_error("All datasets must have the same dimensions! " + s.file0 + " has " +
                             extentsText(extents0) + " voxels, " + s.file1 + " has " + extentsText(extents1) + ".");
  }
  const Volume& selected0 = selectVolume(first, s.volume0);
  const Volume& selected1 = selectVolume(second, s.volume1);
  refuseCollidingNames(s);
  const std::array<double, 3> voxelSize = voxelSizeOf(first, s.rllr);
  Volume vol_ap = s.rllr ? transposeXY(selected0) : selected0;
  Volume vol_pa = s.rllr ? transposeXY(selected1) : selected1;
  zeroNonFinite(vol_ap, s.file0, log);
  zeroNonFinite(vol_pa, s.file1, log);

  log << "Estimating voxel displacement maps..." << std::flush;
  const std::optional<Volume> v = estimator(vol_ap, vol_pa, voxelSize, s, log);
  if (!v) {
    // Nothing is saved, applied or set.
    log << "Done." << std::flush;
    return;
  }
  const Volume w = *v * -1.0f;

  log << "Saving voxel displacement maps to .map files..." << std::flush;
  saveMaps(*v, w, s);

  if (s.applyToInput) {
    log << "Applying voxel displacement maps..." << std::flush;
    // The maps stay in the working frame; the correction transposes them.
    writeUndistorted(*v, first, s.rllr);
    writeUndistorted(w, second, s.rllr);
  }

  requireHostFunction(hostApi().hvSetStringParameter, "hvSetStringParameter")(dialogkeys::kVdm,
                                                                              vdmMapName(s.file0).c_str());
  log << "Done." << std::flush;
}

}  // namespace

void runEstimate(std::ostream& log) { estimateAndSave(log, estimateMap); }

void runEstimateVariational(std::ostream& log) { estimateAndSave(log, estimateVariationalMap); }

}  // namespace daxo
