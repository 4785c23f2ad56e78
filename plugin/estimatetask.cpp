#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "correction/pairestimation.h"
#include "fileio/inputfile.h"
#include "protocol/dialogkeys.h"
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

// The dialog's four classic settings as the estimation takes them.
EstimationOptions classicOptions(const EstimateSettings& s) {
  EstimationOptions o;
  o.method = EstimationMethod::Classic;
  o.fast = s.fastAlgorithm;
  o.useSsd = s.useSsd;
  o.useIc = s.useIc;
  o.order = s.order;
  return o;
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

// Reads the eleven parameters, loads the pair, estimates the map of the
// first scan by `method`, saves both maps and optionally corrects both
// projects. Both estimate tasks share this sequence of host calls.
void estimateAndSave(std::ostream& log, EstimationMethod method) {
  const InputTracking inputs;
  const EstimateSettings s = readSettings();
  LoadedProject first = loadProject(s.file0);
  LoadedProject second = loadProject(s.file1);
  const Dimensions extents0 = first.extents();
  const Dimensions extents1 = second.extents();
  if (extents0 != extents1) {
    throw std::runtime_error("All datasets must have the same dimensions! " + s.file0 + " has " +
                             extentsText(extents0) + " voxels, " + s.file1 + " has " + extentsText(extents1) + ".");
  }
  // Each selected volume is read from its file; it is ours to transpose.
  Volume vol_ap = selectVolume(first, s.volume0);
  Volume vol_pa = selectVolume(second, s.volume1);
  refuseCollidingNames(s);
  const std::array<double, 3> voxelSize = voxelSizeOf(first, s.rllr);
  if (s.rllr) {
    vol_ap = transposeXY(vol_ap);
    vol_pa = transposeXY(vol_pa);
  }
  zeroNonFinite(vol_ap, s.file0, log);
  zeroNonFinite(vol_pa, s.file1, log);

  log << "Estimating voxel displacement maps..." << std::flush;
  EstimationOptions options = classicOptions(s);
  options.method = method;
  const std::optional<Volume> v = estimatePairMap(vol_ap, vol_pa, voxelSize, options, log);
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

void runEstimate(std::ostream& log) { estimateAndSave(log, EstimationMethod::Classic); }

void runEstimateVariational(std::ostream& log) { estimateAndSave(log, EstimationMethod::Variational); }

}  // namespace daxo
