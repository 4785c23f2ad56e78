#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "volume/matrix.h"
#include "volume/volume.h"

// Separable Gaussian kernels (and their first and second derivatives),
// circular convolution through the bound FFT functions (volume/fft.h), and
// direct-space convolutions that weight every sample by a mask.
//
// Standard deviations are in voxels, per axis (x, y[, z]). Derivative orders
// are per axis: 1 selects the first derivative of the Gaussian, 2 the second,
// any other value the Gaussian itself. Kernels are samples of the continuous
// normalised Gaussian, truncated, and are not rescaled to unit sum.

namespace daxo {

class ColumnThreads;

// One-dimensional kernel samples; element k stands for the offset k - n/2.
using Profile = std::vector<double>;
using Sigma2 = std::array<double, 2>;  // (x, y)
using Order2 = std::array<int, 2>;     // (x, y)
using Sigma3 = std::array<double, 3>;  // (x, y, z)

// n samples of the Gaussian of deviation sigma (or of its derivative of the
// given order) at the integer offsets t = k - n/2, k = 0 .. n-1.
Profile gaussianProfile(int32_t n, double sigma, int order);

// The profile indices first .. last (inclusive) that a kernel of extent n and
// deviation sigma uses along one axis: the offsets -trunc(6 sigma) ..
// trunc(6 sigma), one more on the negative side for even n, or the whole axis
// when it is not wider than that.
struct KernelSupport {
  int32_t first = 0;
  int32_t last = -1;
};
KernelSupport kernelSupport(int32_t n, double sigma);

// Index at which profile index k lands on an axis of extent n. Without wrap
// the kernel centre (offset 0) lies at n/2; with wrap offset t lies at t mod n,
// the centre at 0, the layout a circular convolution needs.
int32_t placeKernelIndex(int32_t k, int32_t n, bool wrap);

// Kernel image with rows nx (along x) and columns ny (along y); pixels outside
// the support are 0.
Matrix gaussianKernel2D(int32_t nx, int32_t ny, const Sigma2& sigma, const Order2& order, bool wrap);

// Kernel volume of dimensions d; voxels outside the support are 0.
Volume gaussianKernel3D(const Dimensions& d, const Sigma3& sigma, const Dimensions& order, bool wrap);

// Circular convolution of input with kernel (same dimensions), written over
// input. The kernel's origin is its voxel (0, 0, 0). Throws std::logic_error
// when the dimensions differ or no FFT functions are bound; input is then
// unchanged. Plans and buffers live only inside one call.
void convolveFFT(Volume& input, const Volume& kernel);

// Smooths volume in place with the separable kernel of the given deviations
// (voxels) and orders. With pad the volume is first extended by 7 voxels on
// every side, repeating its border, and cut back afterwards; without pad the
// convolution wraps around the borders. The dimensions are kept.
void smooth(Volume& volume, const Sigma3& sigma, const Dimensions& order, bool pad);

// A smoothed copy of source (padding on).
Volume smoothed(const Volume& source, const Sigma3& sigma, const Dimensions& order);

// Masked direct-space convolution of an image (rows along x, columns along y)
// with a kernel whose centre is (kx/2, ky/2); weights has the image's extents.
// Every sample whose weight is not 0 contributes (weight * kernel) * sample;
// with normalise the pixel is divided by the sum of weight * kernel when that
// is positive. A pixel whose whole window has weight 0 keeps its value. The
// kernel window is cut at the image border.
void convolveMasked2D(Matrix& image, const Matrix& kernel, const Matrix& weights, bool normalise);

// The same in three dimensions, except that a voxel whose whole window has
// weight 0 becomes 0. The rows are spread over `threads` (null: the calling
// thread only); each voxel is summed in the same order on any thread.
void convolveMasked3D(Volume& volume, const Volume& kernel, const Volume& weights, bool normalise,
                      ColumnThreads* threads = nullptr);

}  // namespace daxo
