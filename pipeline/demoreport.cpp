#include "pipeline/demoreport.h"

#include <cstdarg>
#include <cstdio>

#include "demodata/displacementfield.h"

namespace daxo::pipeline {

namespace {

// printf into a string, for the report's lines of figures (short: the
// buffer cuts anything longer).
__attribute__((format(printf, 1, 2))) std::string format(const char* pattern, ...) {
  char text[256];
  va_list arguments;
  va_start(arguments, pattern);
  std::vsnprintf(text, sizeof text, pattern, arguments);
  va_end(arguments);
  return text;
}

}  // namespace

std::string demoReport(const DemoSettings& settings, const std::string& folder, const DemoFigures& figures,
                       const DemoBound& bound, const DemoTimes& times) {
  const double mm = settings.voxelMm;  // voxels along y to mm
  const DisplacementError& map = figures.map;
  std::string report;
  report += "\nDAXO demo report\n";
  report += format("Data: %d x %d x %d voxels of %g mm in ", settings.nx, settings.ny, settings.nz, settings.voxelMm) +
            folder + "\n";
  const DisplacementField field(settings);
  report += format("Field: %s, peak %.1f voxels\n", settings.field == DemoField::Strong ? "strong" : "standard",
                   field.amplitude());
  report += format("Estimated map against the true map, inside the head (%zu voxels):\n", map.voxels);
  report += format("  RMS:             %.3f voxels (%.2f mm), bound < %.2f voxels\n", map.rms, map.rms * mm, bound.rms);
  report += format("  95th percentile: %.3f voxels (%.2f mm), bound < %.2f voxels\n", map.percentile95,
                   map.percentile95 * mm, bound.percentile95);
  report += format("  Without correction: RMS %.3f voxels, 95th percentile %.3f voxels\n", figures.uncorrected.rms,
                   figures.uncorrected.percentile95);
  report += "Correlation inside the head:\n";
  report += format("  The two scans:   %.3f before, %.3f after correction\n", figures.pairBefore, figures.pairAfter);
  report += format(
      "  Diffusion b=0 against the undistorted head: %.3f before, %.3f after correction (%d volumes "
      "corrected)\n",
      figures.diffusionBefore, figures.diffusionAfter, figures.diffusionVolumes);
  report += "Time:\n";
  double total = 0;
  for (const auto& [label, seconds] : times) {
    report += format("  %-32s %6.1f s\n", (label + ":").c_str(), seconds);
    total += seconds;
  }
  report += format("  %-32s %6.1f s\n", "total:", total);
  report += bound.holds(map) ? "Result: PASSED, the map is within its bound.\n"
                             : "Result: FAILED, the map is outside its bound.\n";
  return report;
}

}  // namespace daxo::pipeline
