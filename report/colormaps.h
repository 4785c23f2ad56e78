#pragma once

#include "report/rgbimage.h"

// Colour maps for the report, each taking t in [0, 1] (clamped; NaN gives
// the colour of 0).

namespace daxo::report {

// Grey levels from black to white.
Rgb grey(double t);
// Perceptually uniform, dark blue to yellow, for magnitudes (a polynomial fit
// to the viridis map, within about one level per channel).
Rgb viridis(double t);
// Blue through light grey (t = 0.5) to red, for signed values: the
// cool-to-warm diverging map, interpolated between five of its colours.
Rgb diverging(double t);

}  // namespace daxo::report
