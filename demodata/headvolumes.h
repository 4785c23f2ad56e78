#pragma once

#include "demodata/demosettings.h"
#include "demodata/signalmodel.h"
#include "volume/volume.h"

// The undistorted head on the grid: the truth the corrected scans are
// compared with. All evaluated at voxel centres, without noise.

namespace daxo {

// The object's intensity under a contrast (default: unweighted, no activation).
Volume headObject(const DemoSettings& settings, const Contrast& contrast = Contrast{});

// 1 where the voxel centre lies inside the head's outer surface (partial
// volume >= 0.5, air cavities included), else 0.
Volume headMask(const DemoSettings& settings);

// 1 where the voxel centre lies inside the skull (brain, CSF, ventricles), else 0.
Volume intracranialMask(const DemoSettings& settings);

}  // namespace daxo
