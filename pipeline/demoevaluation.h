#pragma once

#include <cstdint>

#include "demodata/accuracy.h"
#include "demodata/demosettings.h"
#include "pipeline/demofiles.h"

namespace daxo::pipeline {

// How well the demo's pipeline worked, measured against the truth inside the
// head (the undistorted head's mask): all figures are read back from the
// files the steps wrote, as a user would read them.
struct DemoFigures {
  DisplacementError map;          // the estimated map of the first scan against the true map (voxels)
  DisplacementError uncorrected;  // a zero map against the true map: the error of doing nothing
  double pairBefore = 0;          // correlation of the first volumes of the two scans
  double pairAfter = 0;           // the same for the corrected copies
  double diffusionBefore = 0;     // correlation of the diffusion series' b = 0 volume with the undistorted head
  double diffusionAfter = 0;      // the same for the corrected copy
  int32_t diffusionVolumes = 0;   // volumes of the corrected diffusion copy
};

// Reads the maps and projects of `files` (all written) and compares them with
// the truth for `settings`. Throws the file errors naming a file that cannot
// be read, std::invalid_argument when a file's extents are not the settings'.
DemoFigures evaluateDemo(const DemoFiles& files, const DemoSettings& settings);

}  // namespace daxo::pipeline
