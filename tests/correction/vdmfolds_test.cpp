#include "correction/vdmfolds.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace daxo {
namespace {

// A map of one column per entry of `columns` (x varies, nz = 1).
Volume columnsMap(const std::vector<std::vector<float>>& columns) {
  const int nx = static_cast<int>(columns.size());
  const int ny = static_cast<int>(columns[0].size());
  Volume v(nx, ny, 1);
  for (int x = 0; x < nx; ++x)
    for (int y = 0; y < ny; ++y) v(x, y, 0) = columns[x][y];
  return v;
}

std::vector<float> column(const Volume& v, int x, int z = 0) {
  std::vector<float> c;
  for (int y = 0; y < v.ny(); ++y) c.push_back(v(x, y, z));
  return c;
}

// Repeated float steps of 0.05 drift a few ulps from the decimal values.
void expectColumnNear(const Volume& v, int x, const std::vector<float>& expected, int z = 0) {
  const std::vector<float> actual = column(v, x, z);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t y = 0; y < actual.size(); ++y) EXPECT_FLOAT_EQ(actual[y], expected[y]) << "row " << y;
}

TEST(CountFolds, CountsStepsOfMoreThanOneVoxel) {
  EXPECT_EQ(countFolds(Volume(4, 5, 3, 0.0f)), 0);
  // Steps of 1.5 up and down count, a step of exactly 1 does not.
  const Volume v = columnsMap({{0.0f, 1.5f, 1.5f}, {2.0f, 0.5f, 0.5f}, {0.0f, 1.0f, 2.0f}, {0.0f, 1.5f, 0.0f}});
  EXPECT_EQ(countFolds(v), 1 + 1 + 0 + 2);
  EXPECT_EQ(countFolds(Volume(3, 1, 2, 7.0f)), 0);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(countFolds(columnsMap({{0.0f, nan, 5.0f}})), 0);
}

TEST(ReduceFolds, BringsPairsWithinOneVoxelInSteps) {
  Volume v = columnsMap({{0.0f, 1.2f}, {0.0f, 1.5f}, {1.5f, 0.0f}});
  // (0, 1.2): after two steps the difference is 1.0000001, so a third follows.
  // (0, 1.5): six steps; (1.5, 0) the same mirrored.
  EXPECT_EQ(reduceFolds(v), 3u + 6u + 6u);
  expectColumnNear(v, 0, {0.15f, 1.05f});
  expectColumnNear(v, 1, {0.3f, 1.2f});
  expectColumnNear(v, 2, {1.2f, 0.3f});
  // The middle step spreads to its neighbours over repeated sweeps.
  Volume w = columnsMap({{0.0f, 0.0f, 2.0f, 2.0f}});
  EXPECT_EQ(reduceFolds(w), 11u);
  expectColumnNear(w, 0, {0.0f, 0.55f, 1.45f, 2.0f});
  EXPECT_EQ(countFolds(w), 0);
}

TEST(ReduceFolds, TreatsEveryColumnOfEverySlice) {
  Volume v(3, 2, 2, 0.0f);
  for (int z = 0; z < 2; ++z)
    for (int x = 0; x < 3; ++x) v(x, 1, z) = 1.5f;
  EXPECT_EQ(reduceFolds(v), 6u * 6u);
  for (int z = 0; z < 2; ++z)
    for (int x = 0; x < 3; ++x) expectColumnNear(v, x, {0.3f, 1.2f}, z);
}

TEST(ReduceFolds, LeavesAFoldFreeMapUnchanged) {
  Volume v(4, 6, 2);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 4; ++x) v(x, y, z) = 0.9f * y - 0.5f * x + 3.0f * z;
  const Volume before = v;
  EXPECT_EQ(reduceFolds(v), 0u);
  for (size_t i = 0; i < v.voxelCount(); ++i) EXPECT_EQ(v.data()[i], before.data()[i]);
}

TEST(ReduceFolds, RegressionValuesAStepCannotMoveAreLeftAloneAndTheRepairEnds) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // Infinities, NaN and values where 0.05 is below half an ulp (1e7, 2e6)
  // would keep the repeat-until-unchanged sweep of their column going forever.
  Volume v = columnsMap({{0.0f, inf, 0.0f},
                         {-inf, 0.0f, 0.0f},
                         {nan, 5.0f, 5.0f},
                         {0.0f, 1e7f, 1e7f},
                         {2e6f, 0.0f, 0.0f},
                         {-1e7f, 1e7f, 0.0f}});
  const Volume before = v;
  EXPECT_EQ(reduceFolds(v), 0u);
  for (size_t i = 0; i < v.voxelCount(); ++i) {
    const float a = v.data()[i], b = before.data()[i];
    EXPECT_TRUE(a == b || (a != a && b != b)) << "voxel " << i;
  }
  // A stuck pair does not stop the repair of the rest of its column.
  Volume w = columnsMap({{1e7f, 0.0f, 1.5f}});
  EXPECT_EQ(reduceFolds(w), 6u);
  expectColumnNear(w, 0, {1e7f, 0.3f, 1.2f});
}

}  // namespace
}  // namespace daxo
