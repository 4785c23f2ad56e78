#pragma once

#include <array>
#include <ostream>

#include "correction/variationalestimate.h"
#include "volume/volume.h"

// The head's rigid motion between the two scans of a pair, estimated together
// with the displacement map: subjects move between an AP and a PA scan, and
// motion across the phase-encoding axis or a turn would otherwise be read as
// field.
//
// Positions are centred physical coordinates in mm (the volume's centre at 0,
// voxel i of n at (i - (n - 1) / 2) * voxel size), along the voxel axes x, y,
// z of the first scan.

namespace daxo {

// The motion m maps a point p of the first scan's head to where the same
// point of the head lies in the second scan: m(p) = R p + t, R = Rz Ry Rx
// (turns about the axes through the volume's centre).
struct RigidMotion {
  std::array<double, 3> rotationDegrees{};  // about x, y, z
  std::array<double, 3> translationMm{};    // along x, y, z

  // m(p), p in mm.
  std::array<double, 3> map(const std::array<double, 3>& p) const;

  // The largest turn (degrees) and shift (mm).
  double largestTurn() const;
  double largestShift() const;
};

// The same motion described with the x and y axes swapped (as for a scan
// transposed so that its phase encoding runs along y).
RigidMotion swappedXY(const RigidMotion& m);

// p -> first(second(p)).
RigidMotion composedMotion(const RigidMotion& first, const RigidMotion& second);

// The motion that undoes m: p -> R^T (p - t).
RigidMotion inverseMotion(const RigidMotion& m);

// `volume` resampled under the motion: the result at p is the cubic spline of
// `volume` at m(p) (0 outside it). voxelSizeMm along x, y, z.
Volume movedBy(const Volume& volume, const std::array<double, 3>& voxelSizeMm, const RigidMotion& motion);

// The second scan of a pair moved into the first's space so that the
// estimation can treat both as distorted along the first's y: the result at
// p is the spline of `second` at m(p) + map(p) * (R e_y - e_y) (in mm, map in
// voxels of y), which moves its signal along its own y, as its phase
// encoding did, by the displacement `map` of the first scan; without the map
// term a turn would tilt the displacement away from y. `map` is on the first
// scan's grid; null: no such term.
Volume movedSecondScan(const Volume& second, const std::array<double, 3>& voxelSizeMm, const RigidMotion& motion,
                       const Volume* map);

// The motion m for which moving(m(p)) best matches fixed(p) in the least
// squares sense over the nonzero voxels of `mask` (every second one along each
// axis), by Gauss-Newton with Levenberg damping from `start`. The two volumes
// share the grid and the voxel size (mm); their intensities should share a
// scale. With fewer than 200 sample points (a tiny volume or mask) it returns
// `start`. Deterministic; single-threaded.
// With `holdShiftAlongY` the shift along y stays that of `start`.
RigidMotion registerRigidPair(const Volume& fixed, const Volume& moving, const Volume& mask,
                              const std::array<double, 3>& voxelSizeMm, const RigidMotion& start = {},
                              bool holdShiftAlongY = false);

struct MotionAndMap {
  Volume map;          // the first scan's displacement map, voxels along y, in the first scan's space
  RigidMotion motion;  // of the second scan relative to the first
  bool moved = false;  // false: the motion found was below the smallest one counted, and none is applied
  int rounds = 0;      // estimation rounds run
};

struct MotionSettings {
  int rounds = 8;                  // at most: map, then motion, repeated (at half resolution)
  int fullRounds = 3;              // ... then at most these at full resolution
  double registrationSigma = 1.0;  // voxels: the corrected pair is smoothed so for its registration
  int roundIterations = 4;         // Gauss-Newton iterations of a round's map (the last map is converged)
  double smallestTurn = 0.1;       // degrees; a motion with turns and shifts below
  double smallestShift = 0.1;      // these (mm) counts as none, and the map is the motionless estimate
};

// The map of the first scan and the motion of the second. Each round
// estimates the map from the first scan and the second moved into the first's
// space (the first round without motion, later ones starting from the
// previous map), corrects both (each multiplied by its stretch) and registers
// the corrected second to the corrected first. A shift along y cannot be told
// from a constant field (each scan moves by half of it the other way), so
// the map takes it and the motion's y shift is 0. It stops when a round changes
// the motion by under a fifth of the smallest counted motion. The second
// scan is moved before its distortion is undone, which treats its phase
// encoding as if along the first scan's y (exact for motion along y; for a
// turn of a degrees, the map's across-PE shift is sin(a) times the
// displacement).
//
// When no motion is counted, the map is exactly estimateVariational's of the
// pair (so swapping the scans negates it). The estimations log to `log` (may
// be null) as estimateVariational does; the motion is the caller's to log.
// Throws as estimateVariational does.
MotionAndMap estimateVariationalWithMotion(const Volume& first, const Volume& second,
                                           const std::array<double, 3>& voxelSizeMm,
                                           const VariationalSettings& settings, const MotionSettings& motion,
                                           std::ostream* log);

// The pair's scans corrected by the map: the first warped by +map, the second
// by -map, each multiplied by its stretch 1 +- dmap/dy.
void correctPair(const Volume& first, const Volume& second, const Volume& map, Volume& firstOut, Volume& secondOut);

}  // namespace daxo
