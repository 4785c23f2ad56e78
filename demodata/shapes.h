#pragma once

#include <cmath>
#include <cstddef>

// Geometric primitives of the synthetic head. Positions and distances are in
// reference-head millimetres (x left to right, y anterior to posterior, z
// inferior to superior); signed distances are negative inside a region.

namespace daxo {

struct Point3 {
  double x = 0, y = 0, z = 0;
};

// The mirror image of q in the mid-sagittal plane folded onto the right
// side (x >= 0): symmetric pairs of structures are laid out for x > 0 only.
inline Point3 foldedX(const Point3& q) { return {q.x < 0 ? -q.x : q.x, q.y, q.z}; }

// 0 at or below lo, 1 at or above hi, a cubic smoothstep between (lo < hi).
double smoothStep(double lo, double hi, double t);

// The share of a voxel of edge voxelMm that a region covers when the voxel
// centre lies at signed distance distanceMm from its surface: a smoothstep
// from 1 at -voxelMm / 2 to 0 at +voxelMm / 2, so edges rise over one voxel.
double partialVolume(double distanceMm, double voxelMm);

// Signed distance to the region below the surface z = height(x, y): the
// height difference divided by the slope factor sqrt(1 + |grad height|^2),
// the gradient taken by central differences of 0.25 mm.
template <typename Height>
double belowSurface(const Height& height, const Point3& q) {
  const double h = 0.25;
  const double sx = (height(q.x + h, q.y) - height(q.x - h, q.y)) / (2 * h);
  const double sy = (height(q.x, q.y + h) - height(q.x, q.y - h)) / (2 * h);
  return (q.z - height(q.x, q.y)) / std::sqrt(1.0 + sx * sx + sy * sy);
}

// An axis-aligned ellipsoid.
struct Ellipsoid {
  Point3 centre;
  Point3 semiAxes;

  // First-order signed distance to the surface, exact for a sphere and close
  // to the truth near the surface of an ellipsoid, which is all the partial
  // volumes of the phantom need.
  double signedDistance(const Point3& q) const;
  // |(q - centre) / semiAxes|: below 1 inside, 1 on the surface.
  double normalisedRadius(const Point3& q) const;
  constexpr Ellipsoid shrunk(double t) const { return {centre, {semiAxes.x - t, semiAxes.y - t, semiAxes.z - t}}; }
};

// A tube along a polyline, its radius changing linearly along each segment
// (a chain of tapered capsules).
struct TubeNode {
  Point3 at;
  double radius;
};

// Signed distance to the tube through nodes[0 .. count - 1] (count >= 2):
// the smallest over the segments of (distance to the segment axis minus the
// radius interpolated at the nearest axis point). Exact for segments of
// constant radius; a taper m (radius change per length) makes it too large by
// at most the distance to the axis times 1 - sqrt(1 - m^2).
double tubeDistance(const TubeNode* nodes, size_t count, const Point3& q);

}  // namespace daxo
