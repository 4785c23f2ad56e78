#include "volume/volumegauss.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "testsupport/fft_for_tests.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"
#include "volume/fft.h"
#include "volume/maskedconvolution.h"
#include "volume/vectorlanes.h"

namespace daxo {
namespace {

using testing::identicalBytes;
using testing::randomVolume;
using testing::thrownMessage;

class VolumeGauss : public ::testing::Test {
 protected:
  void SetUp() override { testing::bindFftwForTests(); }
};

double normalDensity(double t, double sigma) {
  return std::exp(-t * t / (2 * sigma * sigma)) / (sigma * std::sqrt(2 * M_PI));
}

// Direct circular convolution in double: out(p) = sum over q of in(q) * k(p - q).
std::vector<double> circularConvolution(const Volume& in, const Volume& k) {
  const int nx = in.nx(), ny = in.ny(), nz = in.nz();
  std::vector<double> out(in.voxelCount(), 0.0);
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        double sum = 0.0;
        for (int c = 0; c < nz; ++c)
          for (int b = 0; b < ny; ++b)
            for (int a = 0; a < nx; ++a)
              sum += double(in(a, b, c)) * k((x - a + nx) % nx, (y - b + ny) % ny, (z - c + nz) % nz);
        out[in.index(x, y, z)] = sum;
      }
  return out;
}

float maxAbs(const Volume& v) {
  float m = 0.0f;
  for (size_t i = 0; i < v.voxelCount(); ++i) m = std::max(m, std::fabs(v.data()[i]));
  return m;
}

TEST_F(VolumeGauss, ProfilesSampleTheUnnormalisedTruncatedDensity) {
  const Profile p = gaussianProfile(5, 1.0, 0);
  ASSERT_EQ(p.size(), 5u);
  double sum = 0.0;
  for (int k = 0; k < 5; ++k) {
    EXPECT_NEAR(p[k], normalDensity(k - 2, 1.0), 1e-15);
    sum += p[k];
  }
  EXPECT_NEAR(sum, 0.9909, 1e-4);

  const Profile d1 = gaussianProfile(4, 1.5, 1);  // offsets -2 .. 1
  EXPECT_EQ(d1[2], 0.0);
  EXPECT_DOUBLE_EQ(d1[1], -d1[3]);
  EXPECT_DOUBLE_EQ(d1[0], normalDensity(-2, 1.5) * 2 / 2.25);
  const Profile d2 = gaussianProfile(3, 2.0, 2);
  EXPECT_DOUBLE_EQ(d2[0], normalDensity(1, 2.0) * (1 - 4.0) / 16.0);
  EXPECT_TRUE(gaussianProfile(0, 1.0, 0).empty());
}

TEST_F(VolumeGauss, SupportAndPlacement) {
  // Offsets t = k - n/2 of the used profile indices.
  const KernelSupport even = kernelSupport(64, 2.0);
  EXPECT_EQ(even.first - 32, -13);
  EXPECT_EQ(even.last - 32, 12);
  const KernelSupport odd = kernelSupport(65, 2.0);
  EXPECT_EQ(odd.first - 32, -12);
  EXPECT_EQ(odd.last - 32, 12);
  const KernelSupport whole = kernelSupport(9, 2.0);
  EXPECT_EQ(whole.first, 0);
  EXPECT_EQ(whole.last, 8);

  EXPECT_EQ(placeKernelIndex(32, 64, true), 0);   // t = 0
  EXPECT_EQ(placeKernelIndex(19, 64, true), 51);  // t = -13
  EXPECT_EQ(placeKernelIndex(44, 64, true), 12);
  EXPECT_EQ(placeKernelIndex(32, 65, true), 0);
  EXPECT_EQ(placeKernelIndex(20, 65, true), 53);
  EXPECT_EQ(placeKernelIndex(19, 64, false), 19);
}

TEST_F(VolumeGauss, KernelsMultiplyTheProfilesAndPlaceTheCentre) {
  const Dimensions d{8, 7, 6};
  const Sigma3 sigma{1.0, 0.7, 1.3};
  const Volume wrapped = gaussianKernel3D(d, sigma, {0, 0, 0}, true);
  const Volume centred = gaussianKernel3D(d, sigma, {0, 0, 0}, false);
  const float peak = maxAbs(wrapped);
  EXPECT_EQ(wrapped(0, 0, 0), peak);
  EXPECT_EQ(centred(4, 3, 3), peak);
  const Profile px = gaussianProfile(8, 1.0, 0), py = gaussianProfile(7, 0.7, 0), pz = gaussianProfile(6, 1.3, 0);
  EXPECT_EQ(centred(1, 5, 2), static_cast<float>(px[1] * py[5] * pz[2]));
  EXPECT_EQ(wrapped(7, 6, 5), centred(3, 2, 2));  // offset -1 on every axis

  const Matrix k2 = gaussianKernel2D(5, 5, {1.0, 1.0}, {0, 0}, false);
  EXPECT_EQ(k2(2, 2), static_cast<float>(normalDensity(0, 1) * normalDensity(0, 1)));
  EXPECT_EQ(k2(0, 3), static_cast<float>(gaussianProfile(5, 1.0, 0)[3] * gaussianProfile(5, 1.0, 0)[0]));
  // Outside the support (64-voxel axis, sigma 2: offsets -13 .. 12) all 0.
  const Matrix wide = gaussianKernel2D(64, 1, {2.0, 1.0}, {0, 0}, true);
  EXPECT_GT(wide(51, 0), 0.0f);
  EXPECT_EQ(wide(50, 0), 0.0f);
  EXPECT_EQ(wide(13, 0), 0.0f);
  EXPECT_GT(wide(12, 0), 0.0f);
}

TEST_F(VolumeGauss, ConvolveFftWithUnitKernelsCopiesOrShifts) {
  const Volume input = randomVolume({6, 5, 4}, 11);
  // Single-precision FFT round trip: errors of a few eps * log2(120) * |x|.
  const float tolerance = 1e-5f * maxAbs(input);
  Volume identity(6, 5, 4, 0.0f);
  identity(0, 0, 0) = 1.0f;
  Volume copied = input;
  convolveFFT(copied, identity);
  for (size_t i = 0; i < input.voxelCount(); ++i) EXPECT_NEAR(copied.data()[i], input.data()[i], tolerance);

  Volume shift(6, 5, 4, 0.0f);
  shift(1, 0, 0) = 1.0f;
  Volume shifted = input;
  convolveFFT(shifted, shift);
  for (int z = 0; z < 4; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_NEAR(shifted(x, y, z), input((x + 5) % 6, y, z), tolerance);
}

// The FFT result must match a direct circular convolution in double. Both see
// the same single-precision kernel; the FFT's own rounding is of order
// eps * log2(N) * sum|k| * max|x| (about 1e-6 here), so 1e-5 is a safe bound.
TEST_F(VolumeGauss, ConvolveFftMatchesDirectCircularConvolution) {
  const Dimensions shapes[] = {{10, 8, 6}, {9, 7, 5}};
  for (const Dimensions& d : shapes) {
    const Volume input = randomVolume(d, 12);
    const Volume kernel = gaussianKernel3D(d, {1.2, 0.8, 1.0}, {1, 0, 2}, true);
    Volume result = input;
    convolveFFT(result, kernel);
    const std::vector<double> expected = circularConvolution(input, kernel);
    for (size_t i = 0; i < input.voxelCount(); ++i) EXPECT_NEAR(result.data()[i], expected[i], 1e-5) << i;
  }
}

TEST_F(VolumeGauss, ConvolveFftRejectsMismatchedDimensionsAndMissingFft) {
  const Volume original = randomVolume({4, 4, 4}, 13);
  Volume input = original;
  EXPECT_EQ(thrownMessage<std::logic_error>([&] { convolveFFT(input, Volume(4, 4, 5, 0.0f)); }),
            "assertion failure (volumegauss:195): input.dimensions() == kernel.dimensions()");
  bindFft(FftFunctions{});
  EXPECT_THROW(convolveFFT(input, Volume(4, 4, 4, 0.0f)), std::logic_error);
  EXPECT_THROW(smooth(input, {1.0, 1.0, 1.0}, {0, 0, 0}, true), std::logic_error);
  testing::bindFftwForTests();
  EXPECT_TRUE(identicalBytes(input, original));
}

// Padded smoothing against its definition: repeat the border by 7, convolve
// circularly in double with the same kernel, cut the border off. Tolerance as
// for the FFT comparison above.
TEST_F(VolumeGauss, SmoothWithPaddingMatchesPaddedDirectConvolution) {
  const Volume input = randomVolume({5, 4, 3}, 14);
  const Sigma3 sigma{0.9, 1.1, 0.6};
  Volume padded = input;
  padded.padReplicate({7, 7, 7});
  const Volume kernel = gaussianKernel3D(padded.dimensions(), sigma, {0, 0, 0}, true);
  const std::vector<double> full = circularConvolution(padded, kernel);
  Volume result = input;
  smooth(result, sigma, {0, 0, 0}, true);
  ASSERT_EQ(result.dimensions(), input.dimensions());
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_NEAR(result(x, y, z), full[padded.index(x + 7, y + 7, z + 7)], 1e-5);

  const Volume viaSmoothed = smoothed(input, sigma, {0, 0, 0});
  EXPECT_TRUE(identicalBytes(viaSmoothed, result));

  // A constant volume stays constant, scaled by the kernel's sum.
  Volume constant(12, 10, 8, 3.0f);
  smooth(constant, {1.5, 1.5, 1.5}, {0, 0, 0}, false);
  const Volume k = gaussianKernel3D({12, 10, 8}, {1.5, 1.5, 1.5}, {0, 0, 0}, true);
  double kernelSum = 0.0;
  for (size_t i = 0; i < k.voxelCount(); ++i) kernelSum += k.data()[i];
  for (size_t i = 0; i < constant.voxelCount(); ++i) EXPECT_NEAR(constant.data()[i], 3.0 * kernelSum, 1e-5);
}

// Reference masked convolution: the plain per-voxel loop, in single precision
// and in the documented order, so results must agree bit for bit.
Volume naiveMasked(const Volume& in, const Volume& k, const Volume& w, bool normalise, bool keepEmpty) {
  Volume out(in.dimensions(), 0.0f);
  const int hx = k.nx() / 2, hy = k.ny() / 2, hz = k.nz() / 2;
  for (int z = 0; z < in.nz(); ++z)
    for (int y = 0; y < in.ny(); ++y)
      for (int x = 0; x < in.nx(); ++x) {
        float acc = 0.0f, sum = 0.0f;
        int used = 0;
        for (int s = 0; s < k.nz(); ++s)
          for (int v = 0; v < k.ny(); ++v)
            for (int u = 0; u < k.nx(); ++u) {
              const int px = x + u - hx, py = y + v - hy, pz = z + s - hz;
              if (px < 0 || py < 0 || pz < 0 || px >= in.nx() || py >= in.ny() || pz >= in.nz()) continue;
              const float weight = w(px, py, pz);
              if (weight == 0.0f) continue;
              acc += (weight * k(u, v, s)) * in(px, py, pz);
              sum += weight * k(u, v, s);
              ++used;
            }
        if (normalise && sum > 0.0f) acc /= sum;
        out(x, y, z) = (keepEmpty && used == 0) ? in(x, y, z) : acc;
      }
  return out;
}

void expectSameBits(const float* actual, const float* expected, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << i;
    } else {
      EXPECT_EQ(actual[i], expected[i]) << i;
    }
  }
}

// Weights with zeros, the estimation's 1 and 0.25, arbitrary values (so that
// the grouping of (w * k) * sample shows) and, in one run, a NaN (which
// counts as a used cell); kernels larger and smaller than the volume, odd and
// even; rows long enough for every vector width this computer runs, each
// checked.
TEST_F(VolumeGauss, MaskedConvolution3DMatchesTheNaiveLoop) {
  const Dimensions volumes[] = {{13, 11, 7}, {5, 6, 4}, {53, 5, 4}};
  const Dimensions kernels[] = {{9, 9, 9}, {4, 3, 2}};
  for (const Dimensions& d : volumes)
    for (bool withNan : {false, true}) {
      const Volume image = randomVolume(d, 20);
      Volume weights = randomVolume(d, 21, 0.0f, 1.0f);
      for (size_t i = 0; i < weights.voxelCount(); ++i) {
        float& w = weights.data()[i];
        w = w < 0.3f ? 0.0f : (w < 0.5f ? 0.25f : (w < 0.7f ? 1.0f : w));
      }
      if (withNan) weights(1, 1, 1) = NAN;
      for (const Dimensions& kd : kernels) {
        const Volume kernel = gaussianKernel3D(kd, {1.5, 1.5, 1.5}, {0, 0, 0}, false);
        for (bool normalise : {true, false}) {
          Volume result = image;
          convolveMasked3D(result, kernel, weights, normalise);
          const Volume expected = naiveMasked(image, kernel, weights, normalise, false);
          expectSameBits(result.data(), expected.data(), image.voxelCount());
          const MaskedGrid grid{d.x, d.y, d.z, kd.x, kd.y, kd.z};
          ColumnThreads threads(2);
          for (int width : vectorWidths()) {
            SCOPED_TRACE("width " + std::to_string(width));
            Volume out(d, 0.0f);
            maskedConvolve({image.data(), weights.data(), kernel.data(), grid, normalise, false}, out.data(), threads,
                           width);
            expectSameBits(out.data(), expected.data(), image.voxelCount());
          }
        }
      }
    }
  Volume image = randomVolume({6, 5, 4}, 22);
  convolveMasked3D(image, gaussianKernel3D({3, 3, 3}, {1, 1, 1}, {0, 0, 0}, false), Volume(6, 5, 4, 0.0f), true);
  for (size_t i = 0; i < image.voxelCount(); ++i) EXPECT_EQ(image.data()[i], 0.0f);
}

// A slice holding NaNs of both signs (from an estimate stopped on NaN costs)
// smoothed with 8 or 16 lanes gave NaNs of the other sign than with 4 lanes
// where two NaNs met in a sum (which of the two comes out depends on how the
// compiler ordered the operands): the map files of DAXO.dll (4 lanes) and of
// the Linux build differed.
TEST_F(VolumeGauss, RegressionNanSignsDoNotDependOnTheVectorWidth) {
  const Dimensions d{24, 12, 1};
  const MaskedGrid grid{d.x, d.y, d.z, 5, 5, 1};
  ColumnThreads threads(1);
  for (uint32_t seed = 0; seed < 8; ++seed) {
    Volume image = randomVolume(d, 100 + seed, -5.0f, 5.0f);
    const Volume pick = randomVolume(d, 200 + seed, 0.0f, 1.0f);
    Volume weights = randomVolume(d, 300 + seed, 0.0f, 1.0f);
    for (size_t i = 0; i < image.voxelCount(); ++i) {
      const float p = pick.data()[i];
      if (p < 0.1f) image.data()[i] = std::copysign(NAN, p < 0.03f ? -1.0f : 1.0f);
      weights.data()[i] = weights.data()[i] < 0.5f ? 0.25f : 1.0f;
    }
    const Volume kernel = randomVolume({5, 5, 1}, 400 + seed, 0.0f, 1.0f);
    Volume reference(d, 0.0f);
    maskedConvolve({image.data(), weights.data(), kernel.data(), grid, true, true}, reference.data(), threads, 4);
    for (int width : vectorWidths()) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", width " + std::to_string(width));
      Volume out(d, 0.0f);
      maskedConvolve({image.data(), weights.data(), kernel.data(), grid, true, true}, out.data(), threads, width);
      EXPECT_EQ(std::memcmp(out.data(), reference.data(), image.voxelCount() * sizeof(float)), 0);
    }
  }
}

Matrix asMatrix(const Volume& v) {
  Matrix m(v.nx(), v.ny());
  std::memcpy(m.data(), v.data(), v.voxelCount() * sizeof(float));
  return m;
}

TEST_F(VolumeGauss, MaskedConvolution2DKeepsEmptyWindowsAndMatchesTheNaiveLoop) {
  const Volume image = randomVolume({9, 7, 1}, 30);
  Volume weights = randomVolume({9, 7, 1}, 31, 0.0f, 1.0f);
  for (size_t i = 0; i < weights.voxelCount(); ++i)
    weights.data()[i] = weights.data()[i] < 0.4f ? 0.0f : weights.data()[i];
  for (int y = 0; y < 7; ++y)  // an all-zero corner whose windows are empty
    for (int x = 0; x < 4; ++x) weights(x, y, 0) = y < 4 ? 0.0f : weights(x, y, 0);
  const Matrix kernel = gaussianKernel2D(5, 5, {1.0, 1.0}, {0, 0}, false);
  Volume kernel3(5, 5, 1);
  std::memcpy(kernel3.data(), kernel.data(), 25 * sizeof(float));
  for (bool normalise : {true, false}) {
    Matrix result = asMatrix(image);
    convolveMasked2D(result, kernel, asMatrix(weights), normalise);
    const Volume expected = naiveMasked(image, kernel3, weights, normalise, true);
    expectSameBits(result.data(), expected.data(), image.voxelCount());
    EXPECT_EQ(result(0, 0), image(0, 0, 0));
  }
  Matrix unchanged = asMatrix(image);
  convolveMasked2D(unchanged, kernel, Matrix(9, 7, 0.0f), true);
  expectSameBits(unchanged.data(), image.data(), image.voxelCount());
  Matrix constant(9, 7, 2.5f);
  convolveMasked2D(constant, kernel, asMatrix(weights), true);
  for (int i = 0; i < 63; ++i) EXPECT_NEAR(constant.data()[i], 2.5f, 2e-6f);
}

}  // namespace
}  // namespace daxo
