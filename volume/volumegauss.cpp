#include "volume/volumegauss.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

#include "volume/assertion.h"
#include "volume/columnthreads.h"
#include "volume/fft.h"

namespace daxo {

namespace {

constexpr const char* kModule = "volumegauss";
constexpr double kTwoPi = 6.283185307179586;
// Border added on every side before smoothing so that the circular
// convolution sees repeated edge values instead of the opposite border.
constexpr int32_t kSmoothingPad = 7;

// ---- FFT plumbing -----------------------------------------------------------

const FftFunctions& requireFft() {
  const FftFunctions& fft = boundFft();
  if (!fft.complete()) {
    throw std::logic_error(
        "volumegauss: no FFT functions are bound; bindFft() must be called before smoothing or convolving");
  }
  return fft;
}

// One spectrum buffer from the bound allocator, released on every path.
class SpectrumBuffer {
 public:
  SpectrumBuffer(const FftFunctions& fft, size_t complexCount) : fft_(fft) {
    if (complexCount == 0) return;
    buffer_ = fft_.allocate(complexCount * sizeof(FftComplex));
    if (!buffer_) throw std::bad_alloc();
  }
  SpectrumBuffer(const SpectrumBuffer&) = delete;
  SpectrumBuffer& operator=(const SpectrumBuffer&) = delete;
  ~SpectrumBuffer() { release(); }

  void release() {
    if (buffer_) fft_.release(buffer_);
    buffer_ = nullptr;
  }
  FftComplex* complex() { return static_cast<FftComplex*>(buffer_); }
  // Interleaved (re, im) pairs.
  float* floats() { return static_cast<float*>(buffer_); }

 private:
  const FftFunctions& fft_;
  void* buffer_ = nullptr;
};

// Runs a plan once and destroys it; plans are never kept.
void executeOnce(const FftFunctions& fft, FftPlan plan) {
  if (!plan) throw std::runtime_error("volumegauss: the FFT planner returned no plan");
  fft.execute(plan);
  fft.destroyPlan(plan);
}

// spectrum = spectrum * kernel * scale for every complex value, in single
// precision: (re, im) = ((i.re k.re - i.im k.im) scale, (i.re k.im + i.im k.re) scale).
void multiplySpectra(float* __restrict spectrum, const float* __restrict kernel, size_t complexCount, float scale) {
  for (size_t c = 0; c < complexCount; ++c) {
    const float ir = spectrum[2 * c], ii = spectrum[2 * c + 1];
    const float kr = kernel[2 * c], ki = kernel[2 * c + 1];
    spectrum[2 * c] = (ir * kr - ii * ki) * scale;
    spectrum[2 * c + 1] = (ir * ki + ii * kr) * scale;
  }
}

// ---- masked direct-space convolution ------------------------------------------

// Extents of the image and kernel of a masked convolution; 2-D images use
// nz = kz = 1.
struct MaskedGrid {
  int32_t nx, ny, nz;
  int32_t kx, ky, kz;
};

// First and one-past-last kernel index along one axis whose image position
// (p + index - half) lies inside 0 .. n-1.
inline int32_t windowBegin(int32_t p, int32_t half) { return half - std::min(p, half); }
inline int32_t windowEnd(int32_t p, int32_t half, int32_t n, int32_t k) { return std::min(half + n - p, k); }

// Four lanes of floats or 32-bit integers (compiler vector extension). Each
// lane performs exactly the operations of the scalar loop on its own voxel, so
// results do not depend on the lane width.
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

template <typename V, typename T>
inline V load4(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <typename V, typename T>
inline void store4(T* p, V v) {
  std::memcpy(p, &v, sizeof v);
}

// Adds kernel cell value k, whose sample lies `shift` voxels along x from the
// output voxel, to the output voxels xBegin .. xEnd-1 of one row. Cells of
// weight 0 are skipped (a NaN weight is not 0): the select keeps each voxel's
// sum exactly as a sequential loop over its window forms it.
template <bool kNormalise, bool kCountCells>
void accumulateCell(float* __restrict acc, float* __restrict weightSum, int32_t* __restrict usedCells,
                    const float* __restrict image, const float* __restrict weights, float k, int32_t shift,
                    int32_t xBegin, int32_t xEnd) {
  int32_t x = xBegin;
  const Float4 k4 = {k, k, k, k};
  const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
  for (; x + 4 <= xEnd; x += 4) {
    const Float4 w = load4<Float4>(weights + x + shift);
    const Int4 used = w != zero;
    const Float4 wk = w * k4;
    const Float4 sum = load4<Float4>(acc + x);
    store4(acc + x, used ? sum + wk * load4<Float4>(image + x + shift) : sum);
    if (kNormalise) {
      const Float4 total = load4<Float4>(weightSum + x);
      store4(weightSum + x, used ? total + wk : total);
    }
    if (kCountCells) store4(usedCells + x, load4<Int4>(usedCells + x) - used);  // used lanes are -1
  }
  for (; x < xEnd; ++x) {
    const float w = weights[x + shift];
    if (w == 0.0f) continue;
    const float wk = w * k;
    acc[x] = acc[x] + wk * image[x + shift];
    if (kNormalise) weightSum[x] = weightSum[x] + wk;
    if (kCountCells) ++usedCells[x];
  }
}

// out (zero-filled, the image's extents) receives the masked convolution. Each
// output voxel sums its window cells in the order kernel z, then y, then x;
// the rows are processed a kernel cell at a time so that the inner loop runs
// over contiguous voxels. With kKeepEmpty a voxel with no used cell takes the
// input value.
// Rows rowBegin .. rowEnd-1 (row index y + ny * z) only; every row is
// independent of the others. weightSum and usedCells are scratch rows of nx
// values (each used only when its option is on).
template <bool kNormalise, bool kKeepEmpty>
void maskedConvolve(const float* image, const float* weights, const float* kernel, const MaskedGrid& g, float* out,
                    size_t rowBegin, size_t rowEnd, float* weightSum, int32_t* usedCells) {
  const int32_t hx = g.kx / 2, hy = g.ky / 2, hz = g.kz / 2;
  const size_t rowStride = static_cast<size_t>(g.nx);
  const size_t sliceStride = rowStride * static_cast<size_t>(g.ny);
  for (size_t row = rowBegin; row < rowEnd; ++row) {
    const int32_t z = static_cast<int32_t>(row / static_cast<size_t>(g.ny));
    const int32_t y = static_cast<int32_t>(row % static_cast<size_t>(g.ny));
    const int32_t sBegin = windowBegin(z, hz), sEnd = windowEnd(z, hz, g.nz, g.kz);
    {
      const int32_t vBegin = windowBegin(y, hy), vEnd = windowEnd(y, hy, g.ny, g.ky);
      const size_t rowOffset = static_cast<size_t>(z) * sliceStride + static_cast<size_t>(y) * rowStride;
      float* acc = out + rowOffset;
      if (kNormalise) std::fill(weightSum, weightSum + rowStride, 0.0f);
      if (kKeepEmpty) std::fill(usedCells, usedCells + rowStride, 0);
      for (int32_t s = sBegin; s < sEnd; ++s) {
        const size_t sourceSlice = static_cast<size_t>(z + s - hz) * sliceStride;
        for (int32_t v = vBegin; v < vEnd; ++v) {
          const size_t sourceRow = sourceSlice + static_cast<size_t>(y + v - hy) * rowStride;
          const float* kernelRow =
              kernel + static_cast<size_t>(g.kx) * (static_cast<size_t>(v) + static_cast<size_t>(g.ky) * s);
          for (int32_t u = 0; u < g.kx; ++u) {
            const int32_t shift = u - hx;
            const int32_t xBegin = std::max(0, -shift), xEnd = std::min(g.nx, g.nx - shift);
            accumulateCell<kNormalise, kKeepEmpty>(acc, weightSum, usedCells, image + sourceRow, weights + sourceRow,
                                                   kernelRow[u], shift, xBegin, xEnd);
          }
        }
      }
      if (kNormalise) {
        for (int32_t x = 0; x < g.nx; ++x)
          if (weightSum[x] > 0.0f) acc[x] = acc[x] / weightSum[x];
      }
      if (kKeepEmpty) {
        const float* input = image + rowOffset;
        for (int32_t x = 0; x < g.nx; ++x)
          if (usedCells[x] == 0) acc[x] = input[x];
      }
    }
  }
}

// The whole image, its rows split across `threads` in contiguous runs.
template <bool kKeepEmpty>
void maskedConvolve(const float* image, const float* weights, const float* kernel, const MaskedGrid& g, bool normalise,
                    float* out, ColumnThreads& threads) {
  const size_t nx = static_cast<size_t>(g.nx);
  // Allocated here: the threads' bodies must not throw.
  std::vector<float> weightSums(nx * static_cast<size_t>(threads.count()));
  std::vector<int32_t> usedCells(nx * static_cast<size_t>(threads.count()));
  threads.run(static_cast<size_t>(g.ny) * static_cast<size_t>(g.nz), [&](size_t begin, size_t end, int thread) {
    float* weightSum = weightSums.data() + nx * static_cast<size_t>(thread);
    int32_t* used = usedCells.data() + nx * static_cast<size_t>(thread);
    if (normalise) {
      maskedConvolve<true, kKeepEmpty>(image, weights, kernel, g, out, begin, end, weightSum, used);
    } else {
      maskedConvolve<false, kKeepEmpty>(image, weights, kernel, g, out, begin, end, weightSum, used);
    }
  });
}

// The padded, smoothed, cropped copy of source; source itself is not touched,
// so a failure leaves the caller's volume as it was.
Volume smoothedPadded(const Volume& source, const Sigma3& sigma, const Dimensions& order) {
  Volume work = padReplicated(source, {kSmoothingPad, kSmoothingPad, kSmoothingPad});
  const Volume kernel = gaussianKernel3D(work.dimensions(), sigma, order, true);
  convolveFFT(work, kernel);
  work.resizeCentred(source.dimensions());
  return work;
}

}  // namespace

Profile gaussianProfile(int32_t n, double sigma, int order) {
  if (n <= 0) return {};
  Profile profile(static_cast<size_t>(n), 0.0);
  const int32_t half = n / 2;
  const double variance = sigma * sigma;
  const double norm = sigma * std::sqrt(kTwoPi);
  for (int32_t k = 0; k < n; ++k) {
    const int64_t t = int64_t{k} - half;
    const double tSquared = static_cast<double>(t * t);
    double g = std::exp(-tSquared / (2.0 * variance)) / norm;
    if (order == 1) {
      g *= -static_cast<double>(t) / variance;
    } else if (order == 2) {
      g *= (tSquared - variance) / (variance * variance);
    }
    profile[static_cast<size_t>(k)] = g;
  }
  return profile;
}

KernelSupport kernelSupport(int32_t n, double sigma) {
  const double m = 0.5 * n - 0.5;
  const double h = 6.0 * sigma;
  double w = m;
  if (m > h + 1.0) w = m - static_cast<double>(static_cast<int64_t>(m) - static_cast<int64_t>(h));
  return {static_cast<int32_t>(m - w), static_cast<int32_t>(m + w)};
}

int32_t placeKernelIndex(int32_t k, int32_t n, bool wrap) {
  if (!wrap) return k;
  int32_t index = k + static_cast<int32_t>(0.5 * n + 0.5);
  if (index > n - 1) index -= n;
  return index;
}

Matrix gaussianKernel2D(int32_t nx, int32_t ny, const Sigma2& sigma, const Order2& order, bool wrap) {
  Matrix kernel(nx, ny, 0.0f);
  const Profile px = gaussianProfile(nx, sigma[0], order[0]);
  const Profile py = gaussianProfile(ny, sigma[1], order[1]);
  const KernelSupport sx = kernelSupport(nx, sigma[0]), sy = kernelSupport(ny, sigma[1]);
  for (int32_t j = sy.first; j <= sy.last; ++j) {
    const int32_t y = placeKernelIndex(j, ny, wrap);
    for (int32_t k = sx.first; k <= sx.last; ++k) {
      kernel(placeKernelIndex(k, nx, wrap), y) = static_cast<float>(py[j] * px[k]);
    }
  }
  return kernel;
}

Volume gaussianKernel3D(const Dimensions& d, const Sigma3& sigma, const Dimensions& order, bool wrap) {
  Volume kernel(d, 0.0f);
  const Profile px = gaussianProfile(d.x, sigma[0], order.x);
  const Profile py = gaussianProfile(d.y, sigma[1], order.y);
  const Profile pz = gaussianProfile(d.z, sigma[2], order.z);
  const KernelSupport sx = kernelSupport(d.x, sigma[0]), sy = kernelSupport(d.y, sigma[1]),
                      sz = kernelSupport(d.z, sigma[2]);
  for (int32_t i = sz.first; i <= sz.last; ++i) {
    const int32_t z = placeKernelIndex(i, d.z, wrap);
    for (int32_t j = sy.first; j <= sy.last; ++j) {
      const int32_t y = placeKernelIndex(j, d.y, wrap);
      float* row = kernel.data() + kernel.index(0, y, z);
      for (int32_t k = sx.first; k <= sx.last; ++k) {
        row[placeKernelIndex(k, d.x, wrap)] = static_cast<float>(px[k] * py[j] * pz[i]);
      }
    }
  }
  return kernel;
}

void convolveFFT(Volume& input, const Volume& kernel) {
  check(input.dimensions() == kernel.dimensions(), kModule, 195, "input.dimensions() == kernel.dimensions()");
  const FftFunctions& fft = requireFft();
  if (input.voxelCount() == 0) return;
  const int32_t nx = input.nx(), ny = input.ny(), nz = input.nz();
  // Real-to-complex spectra keep the non-redundant half along x.
  const size_t complexCount = static_cast<size_t>(nz) * static_cast<size_t>(ny) * (static_cast<size_t>(nx) / 2 + 1);
  SpectrumBuffer kernelSpectrum(fft, complexCount);
  SpectrumBuffer spectrum(fft, complexCount);
  // Planning in estimate mode does not touch the arrays, and an out-of-place
  // real-to-complex transform leaves its input as it was, so the kernel's
  // voxels are only read.
  float* kernelVoxels = const_cast<float*>(kernel.data());
  executeOnce(fft, fft.planRealToComplex3d(nz, ny, nx, kernelVoxels, kernelSpectrum.complex(), kFftEstimate));
  executeOnce(fft, fft.planRealToComplex3d(nz, ny, nx, input.data(), spectrum.complex(), kFftEstimate));
  // The inverse transform is unnormalised: it multiplies by the voxel count.
  const float scale = static_cast<float>(1.0 / static_cast<double>(input.voxelCount()));
  // The product overwrites the input spectrum: each value is read before it
  // is written, and the input spectrum is not needed afterwards.
  multiplySpectra(spectrum.floats(), kernelSpectrum.floats(), complexCount, scale);
  kernelSpectrum.release();
  executeOnce(fft, fft.planComplexToReal3d(nz, ny, nx, spectrum.complex(), input.data(), kFftEstimate));
}

void smooth(Volume& volume, const Sigma3& sigma, const Dimensions& order, bool pad) {
  if (pad) {
    volume = smoothedPadded(volume, sigma, order);
    return;
  }
  const Volume kernel = gaussianKernel3D(volume.dimensions(), sigma, order, true);
  convolveFFT(volume, kernel);
}

Volume smoothed(const Volume& source, const Sigma3& sigma, const Dimensions& order) {
  return smoothedPadded(source, sigma, order);
}

void convolveMasked2D(Matrix& image, const Matrix& kernel, const Matrix& weights, bool normalise) {
  const MaskedGrid grid{image.rows(), image.columns(), 1, kernel.rows(), kernel.columns(), 1};
  Matrix out(image.rows(), image.columns(), 0.0f);
  ColumnThreads single(1);
  if (out.data())
    maskedConvolve<true>(image.data(), weights.data(), kernel.data(), grid, normalise, out.data(), single);
  image = std::move(out);
}

void convolveMasked3D(Volume& volume, const Volume& kernel, const Volume& weights, bool normalise,
                      ColumnThreads* threads) {
  const MaskedGrid grid{volume.nx(), volume.ny(), volume.nz(), kernel.nx(), kernel.ny(), kernel.nz()};
  Volume out(volume.dimensions(), 0.0f);
  ColumnThreads single(1);
  if (out.data())
    maskedConvolve<false>(volume.data(), weights.data(), kernel.data(), grid, normalise, out.data(),
                          threads != nullptr ? *threads : single);
  volume = std::move(out);
}

}  // namespace daxo
