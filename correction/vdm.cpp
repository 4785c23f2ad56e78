#include "correction/vdm.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "correction/bspline.h"
#include "correction/bsplinetaps.h"
#include "correction/columnsample.h"
#include "volume/assertion.h"
#include "volume/columnthreads.h"
#include "volume/volumetransform.h"

namespace daxo {

namespace {

constexpr const char* kModule = "vdm";

bool allFinite(const Volume& v) {
  const float* p = v.data();
  const size_t n = v.voxelCount();
  for (size_t i = 0; i < n; ++i)
    if (!std::isfinite(p[i])) return false;
  return true;
}

// Taps of the integer voxel position i on an axis of n voxels (weights 1/6,
// 4/6, 1/6, 0 as the general formula computes them at t = 0). With
// `dropZeroTap` the fourth tap, whose weight is exactly 0, is left out: for a
// finite coefficient its contribution is a signed zero, and adding a signed
// zero to a sum that started at +0 leaves it unchanged, so the result is
// bit-identical. Only a non-finite coefficient (0 * inf = NaN) could tell.
bspline::AxisTaps gridTaps(int32_t i, int32_t n, bool dropZeroTap) {
  bspline::AxisTaps taps;
  bspline::valueTaps(static_cast<float>(i), n, taps);
  if (dropZeroTap) taps.end = std::min(taps.end, 3);
  return taps;
}

// The single-precision end of bspline::sumTaps for the three x taps of a
// voxel centre.
inline float addGridProducts(double left, double centre, double right, const double gridWeights[3]) {
  float value = 0.0f;
  value += static_cast<float>(left * gridWeights[0]);
  value += static_cast<float>(centre * gridWeights[1]);
  value += static_cast<float>(right * gridWeights[2]);
  return value;
}

// bspline::sumTaps for two voxels of a row whose x and z taps are the three
// non-zero taps of a voxel centre, all inside, and whose four y taps all lie
// inside: the same sums in the same order, with fixed trip counts and the
// sums held in registers. The sums of one voxel form a chain of dependent
// additions; interleaving two voxels lets their chains overlap. originA and
// originB index each voxel's coefficient in its own column at its first y tap
// and lowest z tap.
inline void sumInteriorPair(const double* c, std::ptrdiff_t originA, std::ptrdiff_t originB, std::ptrdiff_t strideY,
                            std::ptrdiff_t strideZ, const double wyA[4], const double wyB[4],
                            const double gridWeights[3], float* out) {
  double a0 = 0.0, a1 = 0.0, a2 = 0.0, b0 = 0.0, b1 = 0.0, b2 = 0.0;
  for (int k = 0; k < 3; ++k) {
    const double wz = gridWeights[k];
    for (int j = 0; j < 4; ++j) {
      const std::ptrdiff_t offset = k * strideZ + j * strideY;
      const double* rowA = c + originA + offset;
      const double* rowB = c + originB + offset;
      const double wa = wyA[j], wb = wyB[j];
      a0 += rowA[-1] * wa * wz;
      a1 += rowA[0] * wa * wz;
      a2 += rowA[1] * wa * wz;
      b0 += rowB[-1] * wb * wz;
      b1 += rowB[0] * wb * wz;
      b2 += rowB[1] * wb * wz;
    }
  }
  out[0] = addGridProducts(a0, a1, a2, gridWeights);
  out[1] = addGridProducts(b0, b1, b2, gridWeights);
}

// Cubic B-spline samples of one row at (x, y + d, z). x and z are voxel
// centres, so their taps are fixed per column and per slice; the y taps of a
// row are located first, then the sums are formed, two interior voxels at a
// time where possible. With `dropZeroTaps` (finite coefficients) the x and z
// taps of weight exactly 0 are left out.
class CubicRowSampler {
 public:
  CubicRowSampler(const double* coefficients, const Dimensions& d, bool dropZeroTaps)
      : c_(coefficients),
        d_(d),
        dropZeroTaps_(dropZeroTaps),
        strideY_(d.x),
        strideZ_(static_cast<std::ptrdiff_t>(d.x) * d.y),
        xEnd_(dropZeroTaps ? d.x - 1 : 0),
        xTaps_(static_cast<size_t>(d.x)),
        yTaps_(static_cast<size_t>(d.x)),
        sampled_(static_cast<size_t>(d.x)),
        interior_(static_cast<size_t>(d.x)) {
    for (int32_t x = 0; x < d.x; ++x) xTaps_[x] = gridTaps(x, d.x, dropZeroTaps);
  }

  void setSlice(int32_t z) {
    z_ = z;
    zTaps_ = gridTaps(z, d_.z, dropZeroTaps_);
    zInner_ = dropZeroTaps_ && z >= 1 && z + 1 < d_.z;
  }

  // Writes out[x] for x = 0 .. nx-1 from the row's displacements map[x].
  void sampleRow(int32_t y, const float* map, bool negate, float* out) {
    const int32_t nx = d_.x;
    const float fy = static_cast<float>(y);
    for (int32_t x = 0; x < nx; ++x) {
      const float d = negate ? -map[x] : map[x];
      bspline::AxisTaps& ty = yTaps_[x];
      sampled_[x] = bspline::valueTaps(fy + d, d_.y, ty);
      // Columns 1 .. nx-2 have their taps x-1 .. x+1 inside the row.
      interior_[x] = sampled_[x] && zInner_ && x >= 1 && x < xEnd_ && ty.begin == 0 && ty.end == 4;
    }
    // Index of an interior voxel's coefficient at column 0, lowest z tap.
    const std::ptrdiff_t slab = (z_ - 1) * strideZ_;
    const double* gridWeights = xTaps_[0].w;  // taps x-1, x, x+1 of any voxel centre
    int32_t x = 0;
    while (x < nx) {
      if (x + 1 < nx && interior_[x] && interior_[x + 1]) {
        sumInteriorPair(c_, slab + yTaps_[x].first * strideY_ + x, slab + yTaps_[x + 1].first * strideY_ + x + 1,
                        strideY_, strideZ_, yTaps_[x].w, yTaps_[x + 1].w, gridWeights, out + x);
        x += 2;
        continue;
      }
      out[x] = sampled_[x] ? bspline::sumTaps(c_, nx, d_.y, xTaps_[x], yTaps_[x], zTaps_) : 0.0f;
      ++x;
    }
  }

 private:
  const double* c_;
  Dimensions d_;
  bool dropZeroTaps_;
  std::ptrdiff_t strideY_;
  std::ptrdiff_t strideZ_;
  int32_t xEnd_;
  std::vector<bspline::AxisTaps> xTaps_;
  int32_t z_ = 0;
  bspline::AxisTaps zTaps_;
  bool zInner_ = false;
  std::vector<bspline::AxisTaps> yTaps_;
  std::vector<char> sampled_;
  std::vector<char> interior_;
};

// The checks of warpCubic, before anything is written.
void checkCubicWarp(const Volume& dst, const Volume& src, const Volume& vdm) {
  check(dst.dimensions() == src.dimensions(), kModule, 70, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 71, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 72, "&dst != &src");
}

// warpCubic after its checks, computing the coefficients into `coefficients`
// (whose storage is reused).
void warpCubicChecked(Volume& dst, const Volume& src, const Volume& vdm, bool negate, std::vector<double>& coefficients,
                      ColumnThreads& threads) {
  if (src.voxelCount() == 0) return;
  bsplineCoefficients(src, coefficients, &threads);
  const bool finite = allFinite(src);
  // Allocated here: the threads' bodies must not throw.
  std::vector<CubicRowSampler> samplers(static_cast<size_t>(threads.count()),
                                        CubicRowSampler(coefficients.data(), src.dimensions(), finite));
  // The sample points (x, y + d, z) are formed on the fly, row by row in
  // storage order; every voxel's sample is the same on any thread.
  threads.run(static_cast<size_t>(src.nz()), [&](size_t begin, size_t end, int thread) {
    CubicRowSampler& sampler = samplers[static_cast<size_t>(thread)];
    for (int32_t z = static_cast<int32_t>(begin); z < static_cast<int32_t>(end); ++z) {
      sampler.setSlice(z);
      for (int32_t y = 0; y < src.ny(); ++y) {
        const size_t rowStart = src.index(0, y, z);
        sampler.sampleRow(y, vdm.data() + rowStart, negate, dst.data() + rowStart);
      }
    }
  });
}

}  // namespace

void warpTrilinear(Volume& dst, const Volume& src, const Volume& vdm, bool negate) {
  check(dst.dimensions() == src.dimensions(), kModule, 14, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 15, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 16, "&dst != &src");
  const int32_t nx = src.nx(), ny = src.ny(), nz = src.nz();
  const float* map = vdm.data();
  float* out = dst.data();
  size_t at = 0;
  for (int32_t z = 0; z < nz; ++z) {
    for (int32_t y = 0; y < ny; ++y) {
      for (int32_t x = 0; x < nx; ++x, ++at) {
        const float d = negate ? -map[at] : map[at];
        out[at] = sampleTrilinear(src, static_cast<float>(x), static_cast<float>(y) + d, static_cast<float>(z));
      }
    }
  }
}

void warpLinearY(Volume& dst, const Volume& src, const Volume& vdm, const VoxelList& voxels, const Volume& box,
                 const VoxelList& boxVoxels, float scale, bool negate) {
  check(dst.dimensions() == src.dimensions(), kModule, 41, "dst.dimensions() == src.dimensions()");
  check(vdm.dimensions() == src.dimensions(), kModule, 42, "vdm.dimensions() == src.dimensions()");
  check(&dst != &src, kModule, 43, "&dst != &src");
  const float sign = negate ? -1.0f : 1.0f;
  // Index arithmetic in 32 bits: every volume's voxel count fits a signed
  // 32-bit integer.
  const int32_t nx = src.nx(), ny = src.ny();
  const int32_t plane = nx * ny;
  const int32_t lastRow = ny - 1;
  const float top = static_cast<float>(lastRow);
  const int32_t boxNx = box.nx();
  const int32_t boxPlane = boxNx * box.ny();
  const float* in = src.data();
  const float* map = vdm.data();
  const float* boxValues = box.data();
  float* out = dst.data();
  const Dimensions* voxel = voxels.data();
  const Dimensions* boxVoxel = boxVoxels.data();
  const size_t count = voxels.size();
  for (size_t k = 0; k < count; ++k) {
    const Dimensions p = voxel[k];
    const Dimensions b = boxVoxel[k];
    const int32_t column = p.x + plane * p.z;
    const int32_t at = column + nx * p.y;
    const float d = sign * (map[at] + scale * boxValues[b.x + boxNx * b.y + boxPlane * b.z]);
    const float yy = static_cast<float>(p.y) + d;
    if (insideRows(yy, top)) out[at] = sampleColumn(in + column, nx, lastRow, yy);
  }
}

void warpCubic(Volume& dst, const Volume& src, const Volume& vdm, bool negate, ColumnThreads* threads) {
  checkCubicWarp(dst, src, vdm);
  std::vector<double> coefficients;
  ColumnThreads single(1);
  warpCubicChecked(dst, src, vdm, negate, coefficients, threads != nullptr ? *threads : single);
}

Volume correctVolume(const Volume& vdm, const Volume& src, bool transposed, ColumnThreads* threads) {
  Volume corrected(vdm.dimensions());
  if (!transposed) {
    warpCubic(corrected, src, vdm, false, threads);
    return corrected;
  }
  const Volume working = transposeXY(src);
  warpCubic(corrected, working, vdm, false, threads);
  return transposeXY(corrected);
}

void correctVolumes(const Volume& vdm, std::vector<Volume>& volumes, bool transposed, ColumnThreads* threads) {
  ColumnThreads single(1);
  ColumnThreads& pool = threads != nullptr ? *threads : single;
  std::vector<double> coefficients;
  Volume transposedSource;
  Volume corrected;
  for (Volume& volume : volumes) {
    if (transposed) transposeXYInto(transposedSource, volume);
    const Volume& working = transposed ? transposedSource : volume;
    if (corrected.dimensions() != vdm.dimensions() || corrected.data() == nullptr) corrected = Volume(vdm.dimensions());
    checkCubicWarp(corrected, working, vdm);
    warpCubicChecked(corrected, working, vdm, false, coefficients, pool);
    if (transposed) {
      // The result, transposed back, has the volume's own extents.
      transposeXYInto(volume, corrected);
    } else {
      // The old buffer becomes the next volume's output.
      std::swap(volume, corrected);
    }
  }
}

}  // namespace daxo
