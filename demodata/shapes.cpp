#include "demodata/shapes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace daxo {

double smoothStep(double lo, double hi, double t) {
  const double u = std::clamp((t - lo) / (hi - lo), 0.0, 1.0);
  return u * u * (3.0 - 2.0 * u);
}

double partialVolume(double distanceMm, double voxelMm) {
  const double t = std::clamp(0.5 - distanceMm / voxelMm, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

double Ellipsoid::signedDistance(const Point3& q) const {
  const double ux = (q.x - centre.x) / semiAxes.x, uy = (q.y - centre.y) / semiAxes.y,
               uz = (q.z - centre.z) / semiAxes.z;
  const double r = std::sqrt(ux * ux + uy * uy + uz * uz);
  // r - 1 divided by the gradient of r: |grad r| = g / r.
  const double gx = ux / semiAxes.x, gy = uy / semiAxes.y, gz = uz / semiAxes.z;
  const double g = std::sqrt(gx * gx + gy * gy + gz * gz);
  if (g < 1e-12) return -std::min({semiAxes.x, semiAxes.y, semiAxes.z});
  return (r - 1.0) * r / g;
}

double Ellipsoid::normalisedRadius(const Point3& q) const {
  const double ux = (q.x - centre.x) / semiAxes.x, uy = (q.y - centre.y) / semiAxes.y,
               uz = (q.z - centre.z) / semiAxes.z;
  return std::sqrt(ux * ux + uy * uy + uz * uz);
}

double tubeDistance(const TubeNode* nodes, size_t count, const Point3& q) {
  double best = std::numeric_limits<double>::infinity();
  for (size_t i = 0; i + 1 < count; ++i) {
    const Point3& a = nodes[i].at;
    const Point3& b = nodes[i + 1].at;
    const double ex = b.x - a.x, ey = b.y - a.y, ez = b.z - a.z;
    const double px = q.x - a.x, py = q.y - a.y, pz = q.z - a.z;
    const double length2 = ex * ex + ey * ey + ez * ez;
    const double t = length2 > 0 ? std::clamp((px * ex + py * ey + pz * ez) / length2, 0.0, 1.0) : 0.0;
    const double dx = px - t * ex, dy = py - t * ey, dz = pz - t * ez;
    const double radius = nodes[i].radius + t * (nodes[i + 1].radius - nodes[i].radius);
    best = std::min(best, std::sqrt(dx * dx + dy * dy + dz * dz) - radius);
  }
  return best;
}

}  // namespace daxo
