// Every operation that spreads its work over threads gives the bytes of its
// single-threaded run on 1, 2 and 3 threads, and so does the whole classic
// estimation and the correction of a series.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "correction/bspline.h"
#include "correction/estimationschedule.h"
#include "correction/localsweep.h"
#include "correction/simplevdmestimate.h"
#include "correction/vdm.h"
#include "correction/vdmestimate.h"
#include "testsupport/fft_for_tests.h"
#include "testsupport/volumes.h"
#include "volume/columnthreads.h"
#include "volume/volumegauss.h"
#include "volume/volumetransform.h"

namespace daxo {
namespace {

using testing::randomVolume;
using testing::volumeOf;

const std::array<double, 3> kVoxelSize{2.5, 2.5, 2.5};

// A rippled ellipsoid seen through a smooth displacement of up to about two
// voxels, +d in the first scan and -d in the second: large enough that three
// threads each get several slices, columns and searched voxels.
class ThreadCount : public ::testing::Test {
 protected:
  static constexpr Dimensions kDims{20, 28, 13};

  static float head(float x, float y, float z) {
    const float rx = (x - 9.5f) / 7.5f, ry = (y - 13.5f) / 10.0f, rz = (z - 6.0f) / 5.0f;
    const float r2 = rx * rx + ry * ry + rz * rz;
    return r2 < 1.0f ? 900.0f * (1.0f - r2) * (1.0f + 0.3f * std::sin(0.8f * y + 0.6f * x - 0.5f * z)) : 0.0f;
  }
  static float displacement(float x, float z) { return 1.5f * std::sin(0.25f * x) + 0.3f * std::cos(0.4f * z); }

  void SetUp() override { testing::bindFftwForTests(); }

  const Volume first = volumeOf(kDims, [](int x, int y, int z) {
    return head(static_cast<float>(x), static_cast<float>(y) - displacement(x, z), static_cast<float>(z));
  });
  const Volume second = volumeOf(kDims, [](int x, int y, int z) {
    return head(static_cast<float>(x), static_cast<float>(y) + displacement(x, z), static_cast<float>(z));
  });
  const Volume map = volumeOf(kDims, [](int x, int, int z) { return displacement(x, z); });
};

// The bytes of every result of one run.
using Bytes = std::vector<unsigned char>;
void append(Bytes& bytes, const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  bytes.insert(bytes.end(), p, p + size);
}
void append(Bytes& bytes, const Volume& v) { append(bytes, v.data(), v.voxelCount() * sizeof(float)); }

TEST_F(ThreadCount, EveryParallelOperationGivesTheSameBytes) {
  // Weights with zeros, so that the masked convolution skips cells.
  Volume weights = randomVolume(kDims, 7, 0.0f, 1.0f);
  for (size_t i = 0; i < weights.voxelCount(); i += 3) weights.data()[i] = 0.0f;
  const Volume kernel = gaussianKernel3D(Dimensions{9, 9, 9}, Sigma3{2.0, 2.0, 2.0}, Dimensions{0, 0, 0}, false);
  const EstimationSchedule schedule = standardSchedule(kVoxelSize);
  const Sigma3 columnSigma = standardColumnSigma(kVoxelSize);

  struct Operation {
    const char* name;
    std::function<Bytes(ColumnThreads*)> run;
  };
  const Operation operations[] = {
      {"column-wise estimate",
       [&](ColumnThreads* t) {
         Bytes b;
         append(b, estimateColumnWise(first, second, columnSigma, nullptr, 0, t));
         return b;
       }},
      {"masked convolution",
       [&](ColumnThreads* t) {
         Bytes b;
         for (bool normalise : {true, false}) {
           Volume v = first;
           convolveMasked3D(v, kernel, weights, normalise, t);
           append(b, v);
         }
         return b;
       }},
      {"B-spline coefficients",
       [&](ColumnThreads* t) {
         std::vector<double> c;
         bsplineCoefficients(first, c, t);
         Bytes b;
         append(b, c.data(), c.size() * sizeof(double));
         return b;
       }},
      {"cubic warps",
       [&](ColumnThreads* t) {
         Bytes b;
         for (bool negate : {false, true}) {
           Volume out(kDims);
           warpCubic(out, first, map, negate, t);
           append(b, out);
         }
         return b;
       }},
      {"local sweep, both costs",
       [&](ColumnThreads* t) {
         Bytes b;
         for (bool useSsd : {true, false}) {
           Volume F(kDims), G(kDims), acc = map, searched(kDims, 0.25f);
           warpCubic(F, first, map, false);
           warpCubic(G, second, map, true);
           sweepStage({F, G, first, second, map}, {schedule.localBoxes[0], schedule.shifts[0], useSsd}, {acc, searched},
                      t);
           for (const Volume* v : {&F, &G, &acc, &searched}) append(b, *v);
         }
         return b;
       }},
      {"series correction",
       [&](ColumnThreads* t) {
         Bytes b;
         for (bool transposed : {false, true}) {
           // With the phase-encoding axis along x the map comes transposed.
           const Volume m = transposed ? transposeXY(map) : map;
           std::vector<Volume> series{first, second};
           correctVolumes(m, series, transposed, t);
           for (const Volume& v : series) append(b, v);
           append(b, correctVolume(m, first, transposed, t));
         }
         return b;
       }},
  };
  for (const Operation& operation : operations) {
    SCOPED_TRACE(operation.name);
    const Bytes serial = operation.run(nullptr);
    ASSERT_FALSE(serial.empty());
    for (int threads : {1, 2, 3}) {
      ColumnThreads pool(threads);
      EXPECT_TRUE(operation.run(&pool) == serial) << threads << " threads";
    }
  }
}

TEST_F(ThreadCount, TheWholeClassicEstimationGivesTheSameMap) {
  VdmEstimateSettings settings = standardVdmSettings(kVoxelSize);
  for (bool useSsd : {true, false})
    for (bool useIc : {false, true}) {
      SCOPED_TRACE(std::string(useSsd ? "SSD" : "NCC") + (useIc ? " with" : " without") + " intensity modulation");
      settings.useSsd = useSsd;
      settings.useIc = useIc;
      Volume maps[3];
      for (int threads : {1, 2, 3}) {
        settings.threads = threads;
        maps[threads - 1] = estimateVdm(first, second, settings, nullptr).map;
      }
      testing::expectSameVolume(maps[1], maps[0], "2 threads");
      testing::expectSameVolume(maps[2], maps[0], "3 threads");
    }
}

}  // namespace
}  // namespace daxo
