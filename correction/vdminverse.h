#pragma once

#include "volume/volume.h"

// Inversion of a displacement map along y and the intensity (Jacobian)
// modulation of a scan pair built from it. Maps are in voxels along y; a
// column is the line (x, 0 .. ny-1, z).

namespace daxo {

// Per-column inverse u of the map v: row y of the distorted scan lands at
// y + v(y); u(e) is the row position y0, interpolated linearly between the two
// rows whose landing positions enclose e, with y0 + v(y0) = e, minus e. Rows e
// outside the span of the landing positions take the value of the nearest row
// of the column that has one (the lower on a tie); a column without any gets
// 0. Single precision; a folded column gives what the upper-bound search over
// its unsorted landing positions reaches.
Volume invertVdm(const Volume& v);

// Intensity factors of both scans in their distorted geometry: with s the
// y-derivative of invertVdm(v), Am = A * (1 - s sampled at y + v) and
// Pm = P * (1 + s sampled at y - v), trilinear. A, P and v must have equal
// dimensions. Am and Pm are replaced; they may be A and P themselves.
void modulateIntensities(Volume& Am, Volume& Pm, const Volume& A, const Volume& P, const Volume& v);

}  // namespace daxo
