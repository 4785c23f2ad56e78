// Correcting all volumes of a project with reused buffers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <vector>

#include "correction/vdm.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::identicalBytes;
using testing::randomVolume;

// Volumes with different content; one holds a non-finite value, which takes
// the warp's general path for that volume only.
std::vector<Volume> projectVolumes(const Dimensions& d) {
  std::vector<Volume> volumes;
  for (uint32_t t = 0; t < 4; ++t) volumes.push_back(randomVolume(d, 100 + t, 0.0f, 1000.0f));
  volumes[2].data()[7] = std::numeric_limits<float>::infinity();
  return volumes;
}

TEST(CorrectVolumes, EqualsCorrectVolumeBitForBit) {
  const Dimensions d{9, 6, 4};
  for (const bool transposed : {false, true}) {
    SCOPED_TRACE(transposed ? "transposed" : "plain");
    const Dimensions mapExtents = transposed ? Dimensions{d.y, d.x, d.z} : d;
    const Volume map = randomVolume(mapExtents, 7, -2.5f, 2.5f);
    const std::vector<Volume> original = projectVolumes(d);
    std::vector<Volume> volumes = original;
    correctVolumes(map, volumes, transposed);
    ASSERT_EQ(volumes.size(), original.size());
    for (size_t t = 0; t < volumes.size(); ++t) {
      EXPECT_TRUE(identicalBytes(volumes[t], correctVolume(map, original[t], transposed))) << "volume " << t;
    }
  }
}

TEST(CorrectVolumes, MapOfOtherExtentsFailsBeforeTheFirstVolumeChanges) {
  const Dimensions d{9, 6, 4};
  const std::vector<Volume> original = projectVolumes(d);
  std::vector<Volume> volumes = original;
  EXPECT_THROW(correctVolumes(Volume(d, 0.0f), volumes, true), std::logic_error);
  EXPECT_THROW(correctVolumes(Volume(6, 9, 4, 0.0f), volumes, false), std::logic_error);
  for (size_t t = 0; t < volumes.size(); ++t) EXPECT_TRUE(identicalBytes(volumes[t], original[t]));
}

}  // namespace
}  // namespace daxo
