#include "pipeline/queuedniftiwriter.h"

#include <gtest/gtest.h>
#include <nifti/nifti1.h>

#include <filesystem>
#include <stdexcept>

#include "testsupport/testfiles.h"

namespace daxo::pipeline {
namespace {

const Affine kAffine{{{2, 0, 0, -30}, {0, 2, 0, -40}, {0, 0, 3, -10}, {0, 0, 0, 1}}};

Volume ramp(int t) {
  Volume v(5, 4, 3, 0.0f);
  for (size_t i = 0; i < v.voxelCount(); ++i)
    v.data()[i] = static_cast<float>(i) * 3.5f - 20.0f + static_cast<float>(t);
  return v;
}

// The queue changes when volumes are written, never what: the same bytes as
// the writer it wraps, and the first error of a write reaches the caller with
// no file under the final name.
TEST(QueuedNiftiWriter, WritesTheWrappedWritersBytesAndPassesOnItsErrors) {
  testing::TempFolder folder;
  const NiftiImage like = NiftiImage::create({5, 4, 3}, 6, {2, 2, 3}, kAffine, DT_INT16, 0.5, 10.0);
  const std::string direct = folder.file("direct.nii.gz");
  const std::string queued = folder.file("queued.nii.gz");
  {
    NiftiWriter writer(direct, like, 6, NiftiStorage::LikeSource);
    for (int t = 0; t < 6; ++t) writer.write(ramp(t));
    writer.finish();
    QueuedNiftiWriter queue(queued, like, 6, NiftiStorage::LikeSource, 2);
    for (int t = 0; t < 6; ++t) queue.write(ramp(t));
    queue.finish();
  }
  EXPECT_EQ(testing::readFile(queued), testing::readFile(direct));

  const std::string failed = folder.file("failed.nii.gz");
  QueuedNiftiWriter queue(failed, like, 6, NiftiStorage::LikeSource, 2);
  queue.write(ramp(0));
  queue.write(Volume(4, 4, 3, 0.0f));  // other extents: refused on the writer's thread
  EXPECT_THROW(
      {
        for (int t = 2; t < 6; ++t) queue.write(ramp(t));
        queue.finish();
      },
      std::invalid_argument);
  EXPECT_FALSE(std::filesystem::exists(failed));
}

}  // namespace
}  // namespace daxo::pipeline
