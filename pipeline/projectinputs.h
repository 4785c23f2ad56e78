#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "pipeline/phasecheck.h"
#include "volume/volume.h"

// What is read from project and map headers around the plugin's tasks: the
// extents the host's document takes, the gradient table that chooses the
// estimation volume, and the check of the maps an estimation wrote.

namespace daxo::pipeline {

// The extents the header of the project at `path` states; nothing when it
// cannot be read. A path ending in ".fmr" is read as an FMR project, any
// other as a DMR project, as the plugin reads them.
std::optional<Dimensions> statedExtents(const std::string& path);

// Throws std::runtime_error naming both when the two projects' headers name
// one data file (also through another name or a hard link): one scan given
// twice, whose map would be 0 and replace a good one.
void checkTwoScans(const std::string& first, const std::string& second);

// The extents the header of the map file at `path` states; nothing when it
// cannot be read.
std::optional<Dimensions> statedMapExtents(const std::string& path);

// The b-values of a DMR project's gradient table; empty for FMR projects,
// headers without a table and headers that cannot be read.
std::vector<float> projectBValues(const std::string& path);

// Volumes with at most this b-value (s/mm^2) count as without diffusion
// weighting; others differ in contrast from the opposite scan's and bend the
// map (volume 5 at b = 2500 gave a map 0.68 voxel RMS away from the b = 0 one).
constexpr float kMaxEstimationBValue = 50.0f;

// A pair of projects as an estimation read it.
struct ProjectPair {
  std::string file0;
  std::string file1;
  int32_t volume0 = 0;
  int32_t volume1 = 0;
  bool alongX = false;  // phase encoding along x (the dialog's "rllr")
};

// The phase-encoding check (checkPhaseEncoding) of the map at `mapPath`,
// the first project's, on the volumes of `pair` it was estimated from; logs
// its figures. Throws the readers' errors naming a file that cannot be read.
PhaseCheckVerdict checkProjectMap(const ProjectPair& pair, const std::string& mapPath, std::ostream& log);

}  // namespace daxo::pipeline
