#pragma once

#include "volume/volume.h"

// A check that the phase-encoding axis the user gave is the one the pair was
// distorted along. A pair given with the wrong axis (a left-right pair taken
// for anterior-posterior) still yields a map, but one that makes the pair
// agree worse than no correction at all.

namespace daxo {

struct PhaseAxisCheck {
  // Correlation of the pair inside the head: as given, and corrected with the
  // map (each scan rescaled by its Jacobian 1 +- dmap/dy, as the variational
  // model has it).
  double before = 0.0;
  double after = 0.0;
  // The same figure on the pair at half resolution, estimated along y (the
  // axis given) and along x (the other in-plane axis).
  double coarseAlongGiven = 0.0;
  double coarseAlongOther = 0.0;

  // The correction makes the pair agree worse.
  bool worse() const { return after < before; }
  // The other axis fits clearly better (by more than 0.02).
  bool otherAxisFitsBetter() const { return coarseAlongOther > coarseAlongGiven + 0.02; }
  bool passed() const { return !worse() && !otherAxisFitsBetter(); }
};

// Checks the map of `first` (phase encoding along y, as the estimation works)
// against the pair: the figures above, with two quick variational estimates
// of the pair averaged over 2 x 2 x 2 voxels. Deterministic; logs nothing.
// Throws std::invalid_argument for volumes of different extents.
PhaseAxisCheck checkPhaseAxis(const Volume& first, const Volume& second, const Volume& map);

}  // namespace daxo
