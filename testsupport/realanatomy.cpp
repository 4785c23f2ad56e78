#include "testsupport/realanatomy.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "correction/noisefloor.h"
#include "correction/variationalestimate.h"
#include "demodata/anatomypair.h"
#include "fileio/nifti/niftiimage.h"

namespace daxo::testing {

namespace {

constexpr double kXa30Readout = 0.0475693;  // s, TotalReadoutTime of both xa30 runs

struct Anatomy {
  Volume object, head, field;  // field: the reference field in voxels of the object's grid
  std::array<double, 3> voxelMm;
  double noise = 0;
};

Volume volumeZero(const std::string& path) { return NiftiImage::open(path).readVolume(0); }

// The run's volumes from 1 on (volume 0 is b = 0).
std::vector<Volume> diffusionWeighted(const std::string& path) {
  const NiftiImage image = NiftiImage::open(path);
  std::vector<int32_t> which;
  for (int32_t t = 1; t < image.volumeCount(); ++t) which.push_back(t);
  return image.readVolumes(which);
}

// The noise of a real pair's runs through the map of their first scan
// (voxels), from their diffusion-weighted volumes: dim, so that an error of the
// map adds little (demodata/anatomypair.h's pairNoise).
double runsNoise(const std::string& firstRun, const std::string& secondRun, const Volume& displacement,
                 const Volume& head) {
  return pairNoise(diffusionWeighted(firstRun), diffusionWeighted(secondRun), displacement, head);
}

Volume mirroredX(const Volume& v) {
  Volume out(v.dimensions());
  for (int32_t z = 0; z < v.nz(); ++z)
    for (int32_t y = 0; y < v.ny(); ++y)
      for (int32_t x = 0; x < v.nx(); ++x) out(x, y, z) = v(v.nx() - 1 - x, y, z);
  return out;
}

// The reference field in Hz on the xa30 grid, as the displacement of the AP
// scan (phase encoding j-: a positive field moves it toward -j).
Volume referenceDisplacementIn(const std::string& folder) {
  Volume field = volumeZero(folder + "/reference/xa30-b0_topup_field_hz.nii.gz");
  field *= static_cast<float>(-kXa30Readout);
  return field;
}

bool present(const std::string& folder) {
  return std::filesystem::exists(folder + "/bids/sub-xa30/dwi/sub-xa30_dir-AP_dwi.nii.gz") &&
         std::filesystem::exists(folder + "/bids/sub-canon/dwi/sub-canon_dir-AP_dwi.nii.gz") &&
         std::filesystem::exists(folder + "/reference/xa30-b0_topup_field_hz.nii.gz");
}

Anatomy xa30(const std::string& folder) {
  const std::string dwi = folder + "/bids/sub-xa30/dwi/sub-xa30_dir-";
  const Volume ap = volumeZero(dwi + "AP_dwi.nii.gz"), pa = volumeZero(dwi + "PA_dwi.nii.gz");
  Anatomy a;
  a.field = referenceDisplacementIn(folder);
  a.object = unwarpedScan(ap, a.field, false);
  const Volume second = unwarpedScan(pa, a.field, true);
  for (size_t i = 0; i < a.object.voxelCount(); ++i)
    a.object.data()[i] = std::max(0.0f, 0.5f * (a.object.data()[i] + second.data()[i]));
  a.head = brightRegion(a.object, 0.15);
  a.noise = runsNoise(dwi + "AP_dwi.nii.gz", dwi + "PA_dwi.nii.gz", a.field, a.head);
  a.voxelMm = NiftiImage::open(dwi + "AP_dwi.nii.gz").voxelSize();
  return a;
}

Anatomy canon(const std::string& folder) {
  const std::string ap = folder + "/bids/sub-canon/dwi/sub-canon_dir-AP_dwi.nii.gz";
  Anatomy a;
  a.object = volumeZero(ap);
  a.head = brightRegion(a.object, 0.15);
  // No reference field was measured for this pair: its noise is measured
  // through the estimator's own map of the b = 0 pair, whose errors can only
  // raise the measure (that map smoothed by 3 voxels raises it by 6 %).
  const std::string pa = folder + "/bids/sub-canon/dwi/sub-canon_dir-PA_dwi.nii.gz";
  const Volume map = estimateVariational(a.object, volumeZero(pa), VariationalSettings{}, nullptr);
  a.noise = runsNoise(ap, pa, map, a.head);
  a.voxelMm = NiftiImage::open(ap).voxelSize();
  const Volume reference = referenceDisplacementIn(folder);
  a.field = mirroredX(resampledCentred(reference, {3.0, 3.0, 3.0}, a.object.dimensions(), a.voxelMm));
  return a;
}

Anatomy resampled(const Anatomy& a, const Dimensions& extents, const std::array<double, 3>& voxelMm) {
  Anatomy r;
  r.voxelMm = voxelMm;
  r.object = resampledCentred(a.object, a.voxelMm, extents, voxelMm);
  r.head = brightRegion(r.object, 0.15);
  r.field = resampledCentredCubic(a.field, a.voxelMm, extents, voxelMm);
  r.field *= static_cast<float>(a.voxelMm[1] / voxelMm[1]);  // voxels of the new grid
  r.noise = a.noise;
  return r;
}

RealAnatomyCase makeCase(const std::string& name, const Anatomy& a, double peak, double maxSlope, bool zeroBackground,
                         uint64_t seed, const RealAnatomyOptions& options) {
  ShapedField field = shapedField(a.field, a.head, peak, maxSlope);
  field.displacement *= static_cast<float>(options.fieldScale);
  AnatomyPairRecipe recipe;
  recipe.noise = a.noise;
  recipe.zeroBackground = zeroBackground;
  recipe.seed = seed;
  const bool still = options.motion.largestTurn() == 0.0 && options.motion.largestShift() == 0.0;
  return {name,
          still ? makeAnatomyPair(a.object, field.displacement, a.head, recipe)
                : makeMovedAnatomyPair(a.object, field.displacement, a.head, a.voxelMm, options.motion, recipe),
          field.steepest};
}

}  // namespace

std::string sharedDataFolder() {
  const char* fromEnvironment = std::getenv("DAXO_SHARED_DATA_DIR");
  return fromEnvironment && *fromEnvironment ? fromEnvironment : DAXO_SHARED_DATA_DIR;
}

Volume referenceDisplacement() {
  const std::string folder = sharedDataFolder();
  return present(folder) ? referenceDisplacementIn(folder) : Volume();
}

std::vector<RealAnatomyCase> realAnatomyCases(const RealAnatomyOptions& options) {
  const std::string folder = sharedDataFolder();
  std::vector<RealAnatomyCase> cases;
  if (!present(folder)) return cases;
  Anatomy x = xa30(folder), c = canon(folder);
  x.noise *= options.noiseScale;
  c.noise *= options.noiseScale;
  cases.push_back(makeCase("xa30 72x72x39, 4-voxel field, zeroed background", x, 4.0, 0.8, true, 1, options));
  cases.push_back(makeCase("xa30 72x72x39, 7-voxel field, noisy background", x, 7.0, 0.8, false, 2, options));
  cases.push_back(makeCase("canon 80x80x40, 7-voxel field, zeroed background", c, 7.0, 0.8, true, 3, options));
  cases.push_back(makeCase("canon 80x80x40, 4-voxel field, noisy background", c, 4.0, 0.8, false, 4, options));
  if (options.large) {
    const Anatomy fine = resampled(x, {100, 100, 60}, {2.0, 2.0, 2.0});
    cases.push_back(
        makeCase("xa30 100x100x60 2 mm, 4-voxel field, noisy background", fine, 4.0, 0.8, false, 5, options));
    cases.push_back(
        makeCase("xa30 100x100x60 2 mm, 7-voxel field, zeroed background", fine, 7.0, 0.8, true, 6, options));
  }
  return cases;
}

}  // namespace daxo::testing
