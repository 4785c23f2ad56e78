#include "demodata/signalmodel.h"

#include <cmath>

namespace daxo {

namespace {

constexpr double kScalp = 300.0, kSkull = 40.0, kCsf = 1350.0, kGrey = 850.0, kWhite = 560.0;
constexpr double kDiffScalp = 1.0e-3, kDiffSkull = 1.0e-3, kDiffCsf = 3.0e-3, kDiffGrey = 0.8e-3;
constexpr double kDiffWhiteAcross = 0.35e-3, kDiffWhiteAlong = 1.6e-3;

}  // namespace

SignalModel::SignalModel(const Contrast& c)
    : contrast_(c),
      scalp_(kScalp * std::exp(-c.bValue * kDiffScalp)),
      skull_(kSkull * std::exp(-c.bValue * kDiffSkull)),
      csf_(kCsf * std::exp(-c.bValue * kDiffCsf)),
      grey_(kGrey * std::exp(-c.bValue * kDiffGrey)) {}

float SignalModel::operator()(const TissueMix& m) const {
  double white = kWhite;
  if (contrast_.bValue > 0) {
    const double along =
        contrast_.gradientX * m.fibreX + contrast_.gradientY * m.fibreY + contrast_.gradientZ * m.fibreZ;
    const double d = kDiffWhiteAcross + (kDiffWhiteAlong - kDiffWhiteAcross) * along * along;
    white *= std::exp(-contrast_.bValue * d);
  }
  const double grey = grey_ * (1.0 + contrast_.activation * m.activation);
  const double s = m.scalp * scalp_ + m.skull * skull_ + m.csf * csf_ + m.grey * grey + m.white * white;
  return static_cast<float>(s * m.texture);
}

Contrast functionalContrast(const DemoSettings& settings, int t) {
  Contrast c;
  if ((t / 2) % 2 == 1) c.activation = settings.activationPercent / 100.0;
  return c;
}

std::vector<DiffusionGradient> diffusionGradients(const DemoSettings& settings) {
  const double r = std::sqrt(0.5);
  const double b = settings.bValue;
  return {{0, 0, 0, 0}, {r, r, 0, b}, {r, -r, 0, b}, {r, 0, r, b}, {r, 0, -r, b}, {0, r, r, b}, {0, r, -r, b}};
}

Contrast diffusionContrast(const DiffusionGradient& g) {
  Contrast c;
  c.bValue = g.bValue;
  c.gradientX = g.x;
  c.gradientY = g.y;
  c.gradientZ = g.z;
  return c;
}

}  // namespace daxo
