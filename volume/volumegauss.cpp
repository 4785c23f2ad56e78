#include "volume/volumegauss.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

#include "volume/assertion.h"
#include "volume/columnthreads.h"
#include "volume/fft.h"
#include "volume/maskedconvolution.h"

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
    maskedConvolve({image.data(), weights.data(), kernel.data(), grid, normalise, true}, out.data(), single);
  image = std::move(out);
}

void convolveMasked3D(Volume& volume, const Volume& kernel, const Volume& weights, bool normalise,
                      ColumnThreads* threads) {
  const MaskedGrid grid{volume.nx(), volume.ny(), volume.nz(), kernel.nx(), kernel.ny(), kernel.nz()};
  Volume out(volume.dimensions(), 0.0f);
  ColumnThreads single(1);
  if (out.data())
    maskedConvolve({volume.data(), weights.data(), kernel.data(), grid, normalise, false}, out.data(),
                   threads != nullptr ? *threads : single);
  volume = std::move(out);
}

}  // namespace daxo
