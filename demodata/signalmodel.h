#pragma once

#include <vector>

#include "demodata/demosettings.h"
#include "demodata/headphantom.h"

namespace daxo {

// What one volume shows: spin-echo contrast (as in a b = 0 image), optionally
// with a task activation in grey matter or a diffusion weighting.
struct Contrast {
  double activation = 0;  // fractional signal change of fully activated grey matter (0.02 = +2 %)
  double bValue = 0;      // s/mm^2; 0 gives the unweighted contrast
  double gradientX = 0;   // unit diffusion-gradient direction in grid axes (used when bValue > 0)
  double gradientY = 0;
  double gradientZ = 0;
};

// Signal intensity of a tissue mix under one contrast. Unweighted intensities,
// as in a spin-echo b = 0 image with fat suppression: CSF (and the eyes) 1350,
// grey matter 850, white matter 560, scalp and the soft tissue of the face
// 300, bone 40, air 0, all times the texture. Diffusion attenuates each tissue by exp(-b * D)
// with D in mm^2/s: CSF 3.0e-3, grey 0.8e-3, scalp and skull 1.0e-3, and in
// white matter 0.35e-3 across the fibres rising to 1.6e-3 along them.
class SignalModel {
 public:
  explicit SignalModel(const Contrast& contrast);
  float operator()(const TissueMix& m) const;

 private:
  Contrast contrast_;
  double scalp_, skull_, csf_, grey_;  // intensities after the isotropic attenuations
};

// The contrast of time point t of the functional series: blocks of two
// volumes, off-off-on-on-..., "on" adding settings.activationPercent.
Contrast functionalContrast(const DemoSettings& settings, int t);

// One row of the gradient table: a unit direction in grid axes and a b-value
// (s/mm^2). The b = 0 row has direction (0, 0, 0).
struct DiffusionGradient {
  double x = 0;
  double y = 0;
  double z = 0;
  double bValue = 0;
};

// The diffusion series' table: one b = 0 row, then six directions at
// settings.bValue, the normalised (1, +-1, 0), (1, 0, +-1), (0, 1, +-1).
std::vector<DiffusionGradient> diffusionGradients(const DemoSettings& settings);

Contrast diffusionContrast(const DiffusionGradient& g);

}  // namespace daxo
