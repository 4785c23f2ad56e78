#include "correction/vdmestimate.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "correction/localsweep.h"
#include "correction/logentry.h"
#include "correction/registration.h"
#include "correction/simplevdmestimate.h"
#include "correction/vdm.h"
#include "correction/vdmfolds.h"
#include "correction/vdminverse.h"
#include "volume/assertion.h"
#include "volume/columnthreads.h"
#include "volume/distance.h"
#include "volume/volumetransform.h"

namespace daxo {

namespace {

constexpr const char* kModule = "vdmestimate";
// Weight of the voxels a stage did not search when its map is smoothed; the
// searched voxels weigh 1.
constexpr float kUnsearchedWeight = 0.25f;

// A box of even or non-positive extent would send the box coordinates past the
// box's end.
void checkBoxes(const std::vector<Volume>& localbox) {
  for (size_t stage = 0; stage < localbox.size(); ++stage) {
    const Dimensions d = localbox[stage].dimensions();
    if (d.x <= 0 || d.y <= 0 || d.z <= 0 || d.x % 2 == 0 || d.y % 2 == 0 || d.z % 2 == 0)
      throw std::invalid_argument("estimateVdm: the box of stage " + std::to_string(stage + 1) + " is " +
                                  std::to_string(d.x) + " x " + std::to_string(d.y) + " x " + std::to_string(d.z) +
                                  "; every box extent must be odd and positive");
  }
}

// Field of view per axis (mm): voxel size times voxel count, in single precision.
Float3 fieldOfView(const Volume& volume, const std::array<double, 3>& voxelSize) {
  return {static_cast<float>(voxelSize[0]) * static_cast<float>(volume.nx()),
          static_cast<float>(voxelSize[1]) * static_cast<float>(volume.ny()),
          static_cast<float>(voxelSize[2]) * static_cast<float>(volume.nz())};
}

// The scans being compared: Am, Pm as prepared, and F, G warped by the map.
struct WarpedPair {
  Volume Am, Pm, F, G;
};

void warpPair(WarpedPair& pair, const Volume& v, ColumnThreads& threads) {
  warpCubic(pair.F, pair.Am, v, false, &threads);
  warpCubic(pair.G, pair.Pm, v, true, &threads);
}

double costOf(const WarpedPair& pair, bool useSsd) { return useSsd ? meanSsd(pair.F, pair.G) : ncc(pair.F, pair.G); }

// Registers the warped second scan to the warped first and folds the result
// into the running motion h; logs the iterations and the motion.
void updateMotion(const WarpedPair& pair, const Float3& extent, Vector& h, std::ostream* log) {
  Vector found(6, 0.0f);
  const unsigned steps = registerRigid(pair.F, extent, pair.G, extent, Dimensions{80, 80, 80}, found);
  if (h.min() == 0.0f && h.max() == 0.0f) {
    h = found;
  } else {
    h = rigidParameters(multiply(rigidMatrix(found), rigidMatrix(h)));
  }
  const Vector shown = displayMotion(h);
  logEntry(log, steps, " Iterations: Motion parameters Translation: ", shown[0], " x ", shown[1], " x ", shown[2],
           " Rotation: ", shown[3], " x ", shown[4], " x ", shown[5]);
}

int64_t millisecondsNow() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

void prepareScans(Volume& Am, Volume& Pm, const Volume& vol_ap, const Volume& vol_pa, const Volume& v,
                  const ScanPreparation& how) {
  Volume moved;
  if (how.motion) moved = resampleRigid(vol_pa, how.extent, how.h);
  const Volume& second = how.motion ? moved : vol_pa;
  if (how.useIc) {
    modulateIntensities(Am, Pm, vol_ap, second, v);
    return;
  }
  Am = vol_ap;
  if (how.motion) {
    Pm = std::move(moved);
  } else {
    Pm = vol_pa;
  }
}

VdmEstimateSettings standardVdmSettings(const std::array<double, 3>& voxelSize) {
  VdmEstimateSettings settings;
  settings.voxelSize = voxelSize;
  settings.columnSigma = standardColumnSigma(voxelSize);
  settings.schedule = standardSchedule(voxelSize);
  return settings;
}

VdmEstimate estimateVdm(const Volume& vol_ap, const Volume& vol_pa, const VdmEstimateSettings& settings,
                        std::ostream* log) {
  const std::vector<Volume>& localbox = settings.schedule.localBoxes;
  const std::vector<std::vector<float>>& s_values = settings.schedule.shifts;
  const std::vector<Sigma3>& vdm_smoothing = settings.schedule.smoothing;
  const bool use_ssd = settings.useSsd;
  check(vol_ap.dimensions() == vol_pa.dimensions(), kModule, 97, "vol_ap.dimensions() == vol_pa.dimensions()");
  check(localbox.size() == s_values.size(), kModule, 98, "localbox.size() == s_values.size()");
  check(localbox.size() == vdm_smoothing.size(), kModule, 99, "localbox.size() == vdm_smoothing.size()");
  checkBoxes(localbox);
  ColumnThreads pool(threadCount(settings.threads));

  Volume v = estimateColumnWise(vol_ap, vol_pa, settings.columnSigma, log, settings.order, &pool);
  const char* name = use_ssd ? "SSD" : "NCC";
  WarpedPair pair{Volume(), Volume(), Volume(vol_ap.dimensions()), Volume(vol_pa.dimensions())};
  smooth(v, Sigma3{1.5, 1.5, 1.5}, Dimensions{0, 0, 0}, true);
  ScanPreparation how{settings.useIc, settings.motion, Vector(6, 0.0f), fieldOfView(vol_ap, settings.voxelSize)};
  prepareScans(pair.Am, pair.Pm, vol_ap, vol_pa, v, how);
  warpPair(pair, v, pool);

  const double startCost = costOf(pair, use_ssd);
  logEntry(log, name, " after applying smoothed VDM: ", startCost);
  if (std::isnan(startCost)) {
    logEntry(log, "Not-a-number values detected. Local optimization skipped. Please start again trying higher order.");
    if (v.voxelCount() > 0) v.data()[0] = kNotANumberMarker;
    return {std::move(v), true};
  }

  check(pair.F.dimensions() == pair.G.dimensions(), kModule, 151, "dim1 == dim2");
  logEntry(log, "\nStarting local optimizations");
  const int64_t start = millisecondsNow();
  for (size_t stage = 0; stage < localbox.size(); ++stage) {
    if (how.motion && stage >= 1) {
      updateMotion(pair, how.extent, how.h, log);
      prepareScans(pair.Am, pair.Pm, vol_ap, vol_pa, v, how);
    }
    Volume acc = v;
    Volume weights(v.dimensions(), kUnsearchedWeight);
    sweepStage({pair.F, pair.G, pair.Am, pair.Pm, v}, {localbox[stage], s_values[stage], use_ssd}, {acc, weights},
               &pool);
    v = std::move(acc);
    const Volume kernel = gaussianKernel3D(Dimensions{9, 9, 9}, vdm_smoothing[stage], Dimensions{0, 0, 0}, false);
    convolveMasked3D(v, kernel, weights, true, &pool);
    const unsigned adjustments = reduceFolds(v);
    logEntry(log, "Smoothed (", vdm_smoothing[stage][0], ") and needed ", adjustments,
             " iterations to improve inverse consistency");
    // Only the intensity modulation depends on the map: scans without it
    // stay as they were prepared (h changes only at a stage's start).
    if (how.useIc) prepareScans(pair.Am, pair.Pm, vol_ap, vol_pa, v, how);
    warpPair(pair, v, pool);
    logEntry(log, "Finished iteration with ", name, ": ", costOf(pair, use_ssd));
  }

  if (use_ssd) {
    logEntry(log, "Other distance measure NCC: ", ncc(pair.F, pair.G));
  } else {
    logEntry(log, "Other distance measure SSD: ", meanSsd(pair.F, pair.G));
  }
  logEntry(log, "\nTime taken: ", static_cast<double>(millisecondsNow() - start) / 1000.0);
  logEntry(log, "Inverse consistency check VDM: ", countFolds(v) == 0 ? "PASSED" : "some inconsistencies found");
  return {std::move(v), false};
}

}  // namespace daxo
