#pragma once

#include <cstdint>
#include <vector>

#include "correction/pairmotion.h"
#include "volume/volume.h"

// Pairs of scans with a known displacement, made with a voxel-integrating
// (mass-conserving) forward model, for measuring estimators. Each voxel of a
// scan holds the mass of the object that the distortion moves into it
// (integrated in steps of 1/8 voxel):
// with p(y) = y + sign * d(y) along a column (monotone, as |dd/dy| < 1), the
// voxel [j - 1/2, j + 1/2] gets the integral of the object over the y with
// p(y) in that interval. Signal moved past either end of the field of view is
// lost. Point-sampling the distorted object instead would alias where the
// field compresses it and leave errors no estimator can remove.
//
// Coordinates are voxel indices (0 the first voxel's centre); y is the
// phase-encoding axis; displacements are in voxels along y.

namespace daxo {

// A Gaussian bump of the displacement: amplitude * exp(-r^2 / 2), r the
// distance from the centre in units of the per-axis deviations. Its steepest
// slope along y is amplitude * exp(-1/2) / sy.
struct FieldBump {
  double amplitude;
  double cx, cy, cz;
  double sx, sy, sz;
};

// The object is the demo head (demodata/headphantom.h) at the setup's extents
// with 2.5 mm voxels, in its unweighted (b = 0) contrast.
struct TruthPairRecipe {
  Dimensions extents{48, 48, 24};
  std::vector<FieldBump> bumps;
  double slopeY = 0;         // plus slopeY * (y - centre): a linear gradient along y
  double objectShiftY = 0;   // the head moved by this many voxels along y (a large shift pushes it past the FOV)
  double noise = 0.015;      // noise deviation per quadrature channel, as a fraction of 1000 (grey matter is 850)
  double secondScale = 1.0;  // the second scan's intensity relative to the first
  uint64_t seed = 20240607;  // texture and noise
  // The head moved between the scans: the point p of the first scan's head
  // lies at secondMotion(p) in the second (centred mm, 2.5 mm voxels), and
  // the field moves with it.
  RigidMotion secondMotion;
};

struct TruthPair {
  Volume first;   // the object point at row y shown at row y + d
  Volume second;  // ... at row y - d, its intensity times secondScale
  Volume truth;   // d at the voxel centres
  Volume mask;    // 1 inside the head, eroded by a voxel, where y + d and y - d both stay inside the FOV
};

// The steepest |dd/dy| of the setup's field over the grid (sampled at 1/8 voxel).
double steepestSlope(const TruthPairRecipe& setup);

TruthPair makeTruthPair(const TruthPairRecipe& setup);

// The voxels where a map is scored: inside the head (nonzero voxels of
// `head`) with their six neighbours (four where z has fewer than 3 slices),
// and y + d and y - d both inside the field of view, d = truth.
Volume truthMask(const Volume& head, const Volume& truth);

}  // namespace daxo
