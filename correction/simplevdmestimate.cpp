#include "correction/simplevdmestimate.h"

#include <vector>

#include "correction/columnfit.h"
#include "correction/logentry.h"
#include "correction/vdm.h"
#include "volume/assertion.h"
#include "volume/columnthreads.h"
#include "volume/distance.h"

namespace daxo {

namespace {

constexpr const char* kModule = "simplevdmestimate";
constexpr int kPasses = 10;
// A column is fitted only where both filtered scans exceed this somewhere.
constexpr float kSignalThreshold = 100.0f;

// Column (row, slice) of vol into out (ny values); the caller keeps row and
// slice inside the volume.
void copyColumn(const Volume& vol, int32_t row, int32_t slice, Vector& out) {
  const float* in = vol.data() + vol.index(row, 0, slice);
  const size_t stride = static_cast<size_t>(vol.nx());
  for (int32_t y = 0; y < vol.ny(); ++y) out[y] = in[stride * static_cast<size_t>(y)];
}

void writeColumn(const Vector& vec, Volume& vol, int32_t row, int32_t slice) {
  float* out = vol.data() + vol.index(row, 0, slice);
  const size_t stride = static_cast<size_t>(vol.nx());
  for (int32_t y = 0; y < vol.ny(); ++y) out[stride * static_cast<size_t>(y)] = vec[y];
}

// The scans filtered as the fit needs them: values with the requested
// derivative order on every axis, and first derivatives along y.
struct FilteredPair {
  Volume a, p, aY, pY;
};

FilteredPair filterPair(const Volume& vol_ap, const Volume& vol_pa, const Sigma3& sigma, int order) {
  const Dimensions orders{order, order, order};
  const Dimensions alongY{0, 1, 0};
  return {smoothed(vol_ap, sigma, orders), smoothed(vol_pa, sigma, orders), smoothed(vol_ap, sigma, alongY),
          smoothed(vol_pa, sigma, alongY)};
}

// Scale, shift and mask per column: entry (x, z) of nx x nz matrices.
struct ColumnParameters {
  Matrix scale, shift, mask;
};

// Pulls the starting parameters of every fitted column towards those of its
// fitted neighbours (5 x 5 Gaussian of sigma 1, weighted by the mask).
void smoothParameters(ColumnParameters& parameters, const Matrix& kernel) {
  convolveMasked2D(parameters.scale, kernel, parameters.mask, true);
  convolveMasked2D(parameters.shift, kernel, parameters.mask, true);
}

// Per-thread working buffers of a pass: the fit and four columns.
struct ColumnScratch {
  explicit ColumnScratch(int32_t ny) : fit(ny), g(ny), f(ny), dg(ny), df(ny), column(ny) {}
  ColumnFit fit;
  Vector g, f, dg, df, column;
};

// Fits the columns begin .. end-1 (column index x + nx * z) that have signal
// from their current parameters and writes their displacements into result.
// A column reads and writes only its own parameters and voxels.
void fitColumns(const FilteredPair& filtered, ColumnParameters& parameters, ColumnScratch& s, Volume& result,
                size_t begin, size_t end) {
  const int32_t nx = result.nx(), ny = result.ny();
  for (size_t index = begin; index < end; ++index) {
    const int32_t x = static_cast<int32_t>(index % static_cast<size_t>(nx));
    const int32_t z = static_cast<int32_t>(index / static_cast<size_t>(nx));
    parameters.mask(x, z) = 0.0f;
    if (ny == 0) continue;
    copyColumn(filtered.a, x, z, s.g);
    copyColumn(filtered.p, x, z, s.f);
    if (!(s.g.max() > kSignalThreshold && s.f.max() > kSignalThreshold)) continue;
    parameters.mask(x, z) = 1.0f;
    copyColumn(filtered.aY, x, z, s.dg);
    copyColumn(filtered.pY, x, z, s.df);
    float a = parameters.scale(x, z), b = parameters.shift(x, z);
    s.fit.fit(s.g, s.f, s.dg, s.df, a, b);
    parameters.scale(x, z) = a;
    parameters.shift(x, z) = b;
    s.fit.displacement(a, b, s.column);
    writeColumn(s.column, result, x, z);
  }
}

// One pass over all columns, split across the threads in contiguous runs;
// each column's fit is the same on any thread.
void fitPass(const FilteredPair& filtered, ColumnParameters& parameters, std::vector<ColumnScratch>& scratch,
             Volume& result, ColumnThreads& threads) {
  const size_t columns = static_cast<size_t>(result.nx()) * static_cast<size_t>(result.nz());
  threads.run(columns, [&](size_t begin, size_t end, int thread) {
    fitColumns(filtered, parameters, scratch[static_cast<size_t>(thread)], result, begin, end);
  });
}

}  // namespace

Vector extractColumn(const Volume& vol, int32_t row, int32_t slice) {
  check(row < vol.nx() && slice < vol.nz(), kModule, 30, "row < vol.nx() && slice < vol.nz()");
  Vector column(vol.ny());
  copyColumn(vol, row, slice, column);
  return column;
}

void insertColumn(const Vector& vec, Volume& vol, int32_t row, int32_t slice) {
  check(vec.size() == vol.ny(), kModule, 41, "vec.size() == vol.ny()");
  check(row < vol.nx() && slice < vol.nz(), kModule, 42, "row < vol.nx() && slice < vol.nz()");
  writeColumn(vec, vol, row, slice);
}

Matrix invert2x2(const Matrix& mat) {
  check(mat.columns() == 2 && mat.rows() == 2, kModule, 50, "mat.columns() == 2 && mat.rows() == 2");
  Matrix inverse(2, 2);
  invert2x2(mat(0, 0), mat(1, 0), mat(0, 1), mat(1, 1), inverse.data());
  return inverse;
}

Volume estimateColumnWise(const Volume& vol_ap, const Volume& vol_pa, const Sigma3& sigma, std::ostream* log, int order,
                          ColumnThreads* threads) {
  check(vol_ap.dimensions() == vol_pa.dimensions(), kModule, 71, "vol_ap.dimensions() == vol_pa.dimensions()");
  const FilteredPair filtered = filterPair(vol_ap, vol_pa, sigma, order);
  logEntry(log, "Column-wise optimisation, sigma: x: ", sigma[0], ", y: ", sigma[1], ", sigma.z: ", sigma[2]);
  logEntry(log, "SSD of original AP and PA volumes: ", meanSsd(vol_ap, vol_pa));

  const int32_t nx = vol_ap.nx(), nz = vol_ap.nz();
  ColumnParameters parameters{Matrix(nx, nz, 1.0f), Matrix(nx, nz, 0.0f), Matrix(nx, nz, 1.0f)};
  Volume result(vol_ap.dimensions(), 0.0f);
  const Matrix kernel = gaussianKernel2D(5, 5, Sigma2{1.0, 1.0}, Order2{0, 0}, false);
  ColumnThreads single(1);
  ColumnThreads& pool = threads != nullptr ? *threads : single;
  // Allocated here: the threads' bodies must not throw.
  std::vector<ColumnScratch> scratch(static_cast<size_t>(pool.count()), ColumnScratch(vol_ap.ny()));
  for (int pass = 0; pass < kPasses; ++pass) {
    if (pass > 0) smoothParameters(parameters, kernel);
    fitPass(filtered, parameters, scratch, result, pool);
  }

  Volume correctedAp(vol_ap.dimensions()), correctedPa(vol_pa.dimensions());
  warpTrilinear(correctedAp, vol_ap, result, false);
  warpTrilinear(correctedPa, vol_pa, result, true);
  logEntry(log, "SSD after applying column wise VDM: ", meanSsd(correctedAp, correctedPa));
  return result;
}

}  // namespace daxo
