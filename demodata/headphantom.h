#pragma once

#include <array>

#include "demodata/demosettings.h"

namespace daxo {

// What the synthetic head holds at one point. Fractions are partial volumes
// (0 .. 1): tissue edges rise over one voxel of the grid, so sampling the head
// at voxel spacing neither misses nor aliases them.
struct TissueMix {
  float head = 0;          // inside the scalp's outer surface (air cavities included)
  float intracranial = 0;  // inside the inner surface of the skull
  float scalp = 0;         // tissue fractions; their sum is at most 1, the rest is air
  float skull = 0;
  float csf = 0;
  float grey = 0;
  float white = 0;
  float texture = 1;     // smooth texture and coil shading (a factor within 0.86 .. 1.15)
  float activation = 0;  // 0 .. 1: how strongly this point's grey matter takes part in the task
  float fibreX = 0;      // unit direction of the white-matter fibres, grid axes
  float fibreY = 1;
  float fibreZ = 0;
};

// The head as an analytic object: any real-valued position can be evaluated
// without interpolation. Deterministic for a given settings value; the seed
// only changes the texture.
class HeadPhantom {
 public:
  explicit HeadPhantom(const DemoSettings& settings);

  // The mix at voxel coordinates (x, y, z) of the grid (continuous; may lie
  // outside the grid, where the head simply continues or air follows).
  TissueMix mixAt(double x, double y, double z) const;

  const GridFrame& frame() const { return frame_; }

 private:
  struct Wave {
    double kx, ky, kz, phase;  // wave vector (radians per reference mm) and phase
  };

  TissueMix mixAtReference(double qx, double qy, double qz) const;
  // Partial volume of a region from a signed distance in reference mm
  // (negative inside): a smoothstep from 0 to 1 across one voxel of the grid.
  double inside(double distanceMm) const;
  // The tissue fractions and the head and intracranial memberships; false
  // (and m untouched) outside the head.
  bool fillTissues(double qx, double qy, double qz, TissueMix& m) const;
  double textureAt(double qx, double qy, double qz) const;

  GridFrame frame_;
  double edgeVoxelsPerMm_;  // converts reference-mm distances to grid voxels
  std::array<Wave, 6> waves_;
};

}  // namespace daxo
