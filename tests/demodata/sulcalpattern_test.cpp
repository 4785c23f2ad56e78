#include "demodata/sulcalpattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace daxo {
namespace {

constexpr double kPi = 3.141592653589793;
const Ellipsoid kEnvelope{{0, 5, -8}, {58, 78, 46}};

// Samples along the envelope's equator (z at its centre), 0.1 mm apart, with
// the arc length at each.
struct PathSample {
  double arc;
  SulcalPattern::Sample s;
};
std::vector<PathSample> alongEquator(const SulcalPattern& pattern) {
  std::vector<PathSample> path;
  Point3 previous{kEnvelope.centre.x + kEnvelope.semiAxes.x, kEnvelope.centre.y, kEnvelope.centre.z};
  double arc = 0;
  for (int i = 0; i < 40000; ++i) {
    const double t = 2 * kPi * i / 40000;
    const Point3 p{kEnvelope.centre.x + kEnvelope.semiAxes.x * std::cos(t),
                   kEnvelope.centre.y + kEnvelope.semiAxes.y * std::sin(t), kEnvelope.centre.z};
    arc += std::hypot(p.x - previous.x, p.y - previous.y);
    previous = p;
    path.push_back({arc, pattern.onConvexity(p)});
  }
  return path;
}

TEST(SulcalPattern, SheetsCrossTheSurfaceEveryFewMillimetres) {
  const SulcalPattern pattern(kEnvelope);
  const std::vector<PathSample> path = alongEquator(pattern);
  // Crossings: local minima of the distance that come close to 0.
  std::vector<double> crossings;
  for (size_t i = 1; i + 1 < path.size(); ++i) {
    const double d = path[i].s.distance;
    if (d < 0.1 && d <= path[i - 1].s.distance && d < path[i + 1].s.distance) crossings.push_back(path[i].arc);
  }
  const double perimeter = path.back().arc;  // ~430 mm
  ASSERT_GT(crossings.size(), 20u);
  EXPECT_LT(crossings.size(), 100u);
  std::vector<double> gaps;
  for (size_t i = 1; i < crossings.size(); ++i) gaps.push_back(crossings[i] - crossings[i - 1]);
  std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
  const double medianGap = gaps[gaps.size() / 2];
  EXPECT_GT(medianGap, 3.0);   // gyri, not ripples
  EXPECT_LT(medianGap, 15.0);  // and a sulcus every centimetre or so
  EXPECT_NEAR(perimeter, 430, 10);
}

TEST(SulcalPattern, DistanceChangesNoFasterThanThePosition) {
  // Within the reach of the sulcus and the cortex lining it (5 mm), a
  // distance estimate much steeper than 1 would give the cortex edges sharper
  // than the grid can hold. |f| / |grad f| alone reaches slopes above 10 near
  // the crossings of sheets; with the floor under the gradient the steepest
  // is 1.96.
  const SulcalPattern pattern(kEnvelope);
  const std::vector<PathSample> path = alongEquator(pattern);
  double steepest = 0;
  for (size_t i = 1; i < path.size(); ++i) {
    if (path[i].s.distance > 5.0) continue;
    steepest =
        std::max(steepest, std::fabs(path[i].s.distance - path[i - 1].s.distance) / (path[i].arc - path[i - 1].arc));
  }
  EXPECT_LT(steepest, 2.5);
  // Deeper down the pattern keeps its shape, narrower: still sheets crossing.
  int nearSheet = 0;
  for (int i = 0; i < 2000; ++i) {
    const double t = 2 * kPi * i / 2000;
    const Point3 q{kEnvelope.centre.x + 0.8 * kEnvelope.semiAxes.x * std::cos(t),
                   kEnvelope.centre.y + 0.8 * kEnvelope.semiAxes.y * std::sin(t), kEnvelope.centre.z + 10};
    nearSheet += pattern.onConvexity(q).distance < 0.7;
  }
  EXPECT_GT(nearSheet, 100);
  EXPECT_LT(nearSheet, 1000);
}

TEST(SulcalPattern, DepthVariesBetweenSixAndFourteenMillimetres) {
  const SulcalPattern pattern(kEnvelope);
  double low = 1e30, high = -1e30;
  for (int i = 0; i <= 100; ++i) {
    for (int j = 0; j < 200; ++j) {
      const double theta = kPi * i / 100, phi = 2 * kPi * j / 200;
      const Point3 q{kEnvelope.centre.x + kEnvelope.semiAxes.x * std::sin(theta) * std::cos(phi),
                     kEnvelope.centre.y + kEnvelope.semiAxes.y * std::sin(theta) * std::sin(phi),
                     kEnvelope.centre.z + kEnvelope.semiAxes.z * std::cos(theta)};
      const double depth = pattern.onConvexity(q).depth;
      low = std::min(low, depth);
      high = std::max(high, depth);
    }
  }
  EXPECT_GE(low, 6.0);
  EXPECT_LE(high, 14.0);
  EXPECT_GT(high - low, 4.0);
}

TEST(SulcalPattern, MedialSheetsRunStraightAcrossTheFissure) {
  const SulcalPattern pattern(kEnvelope);
  int crossings = 0;
  for (double y = -60; y < 70; y += 0.25) {
    const SulcalPattern::Sample a = pattern.onMedialFace({-8, y, 30}), b = pattern.onMedialFace({5, y, 30});
    EXPECT_EQ(a.distance, b.distance);
    EXPECT_EQ(a.depth, b.depth);
    crossings += a.distance < 0.1;
  }
  EXPECT_GT(crossings, 3);
}

}  // namespace
}  // namespace daxo
