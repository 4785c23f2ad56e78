// The test hosts' plain transform must mean what FFTW's transforms mean: the
// cross-check of DAXO.dll against DAXO.so runs both on it, so a fault here
// would go unnoticed there.
#include "host/crosscheck/plaindft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "volume/fftw/fftwbinding.h"

namespace {

using daxo::FftComplex;
using daxo::FftFunctions;
using namespace daxo::crosscheck;

struct Extents {
  int n0, n1, n2;
};

// Both transforms of random data of every shape, against FFTW (odd and even
// contiguous extents, a single voxel, flat axes).
TEST(PlainDft, AgreesWithFftwInBothDirections) {
  const FftFunctions fftw = daxo::fftwFunctions();
  std::mt19937 random(7);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (const Extents e :
       {Extents{1, 1, 1}, Extents{2, 3, 4}, Extents{3, 5, 7}, Extents{4, 4, 5}, Extents{1, 6, 2}, Extents{5, 1, 1}}) {
    SCOPED_TRACE(testing::Message() << e.n0 << " x " << e.n1 << " x " << e.n2);
    const size_t realCount = static_cast<size_t>(e.n0) * e.n1 * e.n2;
    const size_t halfCount = static_cast<size_t>(e.n0) * e.n1 * (e.n2 / 2 + 1);
    std::vector<float> input(realCount);
    for (float& v : input) v = value(random);

    // Forward.
    std::vector<float> in = input;
    std::vector<float> plainHalf(2 * halfCount);
    std::vector<float> fftwHalf(2 * halfCount);
    auto* plainOut = reinterpret_cast<FftComplex*>(plainHalf.data());
    auto* fftwOut = reinterpret_cast<FftComplex*>(fftwHalf.data());
    daxo::FftPlan plan = planPlainRealToComplex3d(e.n0, e.n1, e.n2, in.data(), plainOut);
    executePlainPlan(plan);
    destroyPlainPlan(plan);
    plan = fftw.planRealToComplex3d(e.n0, e.n1, e.n2, in.data(), fftwOut, daxo::kFftEstimate);
    fftw.execute(plan);
    fftw.destroyPlan(plan);
    for (size_t i = 0; i < plainHalf.size(); ++i) EXPECT_NEAR(plainHalf[i], fftwHalf[i], 1e-5 * realCount) << i;

    // Backward, from the same half spectrum (FFTW's overwrites its input).
    std::vector<float> plainReal(realCount);
    std::vector<float> fftwReal(realCount);
    std::vector<float> half = fftwHalf;
    plan = planPlainComplexToReal3d(e.n0, e.n1, e.n2, reinterpret_cast<FftComplex*>(half.data()), plainReal.data());
    executePlainPlan(plan);
    destroyPlainPlan(plan);
    half = fftwHalf;
    plan = fftw.planComplexToReal3d(e.n0, e.n1, e.n2, reinterpret_cast<FftComplex*>(half.data()), fftwReal.data(),
                                    daxo::kFftEstimate);
    fftw.execute(plan);
    fftw.destroyPlan(plan);
    for (size_t i = 0; i < realCount; ++i) {
      EXPECT_NEAR(plainReal[i], fftwReal[i], 1e-5 * realCount) << i;
      // Unnormalised: there and back scales by the voxel count.
      EXPECT_NEAR(plainReal[i], input[i] * static_cast<float>(realCount), 1e-4 * realCount) << i;
    }
  }
}

// The twiddle factors come from a series instead of the C library; they
// must still be the roots of unity to double precision, in every octant.
TEST(PlainDft, UnitRootsMatchTheLibraryToDoublePrecision) {
  double worst = 0.0;
  for (int n = 1; n <= 97; ++n) {
    for (int j = 0; j < n; ++j) {
      double c = 0.0;
      double s = 0.0;
      unitRoot(j, n, c, s);
      const double angle = 2.0 * M_PI * j / n;
      worst = std::max({worst, std::abs(c - std::cos(angle)), std::abs(s - std::sin(angle))});
    }
  }
  EXPECT_LT(worst, 1e-14);
}

}  // namespace
