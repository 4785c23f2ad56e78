#pragma once

#include <functional>
#include <string>

#include "demodata/demosettings.h"
#include "pipeline/demofiles.h"

namespace daxo::pipeline {

// The settings of `daxo demo --size SIZE`: "full", the realistic 96 x 96 x
// 48 voxels of 2.5 mm, or "small", 48 x 48 x 24 voxels of 2.5 mm (the head
// at half size, for quick runs and tests). Throws RequestError for any other
// size.
DemoSettings demoSettingsForSize(const std::string& size);

// The settings of `daxo demo --size SIZE --field FIELD`: FIELD "standard"
// keeps demoSettingsForSize(SIZE); "strong" gives it the strong field (a
// 7-voxel peak with |dd/dy| up to 0.85). Throws RequestError for any other
// field.
DemoSettings demoSettingsFor(const std::string& size, const std::string& field);

// Generates the demo data for `settings` and writes the inputs of the demo
// into `files`' folder, which must exist:
// - the pair as functional projects (settings.timePoints volumes each, with
//   the small signal changes of the task blocks), first and second
//   phase-encoding direction;
// - the diffusion series of the first direction (b = 0 and six directions,
//   its gradient table in the header);
// - the true displacement map of the first scan (voxels along y), saved by
//   the map writer the host uses for every map.
// Reports each step through `log` before it starts. Throws the file errors
// naming a file that cannot be written; files written before stay.
void writeDemoInputs(const DemoFiles& files, const DemoSettings& settings,
                     const std::function<void(const std::string&)>& log);

}  // namespace daxo::pipeline
