#include "tests/plugin/syntheticpair.h"

#include <cmath>

namespace daxo::testing {

namespace {

struct Shape {
  Dimensions d;
  double amplitude;

  double object(double x, double y, double z) const {
    const double rx = (x - 0.5 * d.x) / (0.42 * d.x), ry = (y - 0.5 * d.y) / (0.42 * d.y),
                 rz = (z - 0.5 * d.z) / (0.45 * d.z);
    const double r2 = rx * rx + ry * ry + rz * rz;
    if (r2 >= 1.0) return 0.0;
    return 200.0 + 800.0 * (1.0 - r2) * (1.0 + 0.25 * std::sin(0.9 * y + 0.5 * x - 0.4 * z));
  }
  // Spatial frequencies scaled to the volume, so every size sees about the
  // same shape of field.
  double fx() const { return 6.0 / d.x; }
  double fy() const { return 5.0 / d.y; }
  double fz() const { return 2.0 / d.z; }
  double field(double x, double y, double z) const {
    return 0.5 * amplitude * (std::sin(fx() * x + fz() * z) + std::cos(fy() * y));
  }
  double fieldSlope(double y) const { return -0.5 * amplitude * fy() * std::sin(fy() * y); }

  // The object row y0 shown at row y: y0 + sign * d(y0) = y, solved by
  // fixed-point iteration (a contraction, the slope being below 1).
  double sourceRow(double x, double y, double z, double sign) const {
    double y0 = y;
    for (int i = 0; i < 100; ++i) y0 = y - sign * field(x, y0, z);
    return y0;
  }
};

}  // namespace

SyntheticPair syntheticPair(const Dimensions& d, double amplitude) {
  const Shape shape{d, amplitude};
  SyntheticPair p{Volume(d), Volume(d), Volume(d), Volume(d)};
  for (int32_t z = 0; z < d.z; ++z)
    for (int32_t y = 0; y < d.y; ++y)
      for (int32_t x = 0; x < d.x; ++x) {
        const double first = shape.sourceRow(x, y, z, 1.0), second = shape.sourceRow(x, y, z, -1.0);
        p.first(x, y, z) = static_cast<float>(shape.object(x, first, z) / (1.0 + shape.fieldSlope(first)));
        p.second(x, y, z) = static_cast<float>(shape.object(x, second, z) / (1.0 - shape.fieldSlope(second)));
        p.truth(x, y, z) = static_cast<float>(shape.field(x, y, z));
        p.mask(x, y, z) = shape.object(x, y, z) > 300.0 ? 1.0f : 0.0f;
      }
  return p;
}

}  // namespace daxo::testing
