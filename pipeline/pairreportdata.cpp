#include "pipeline/pairreportdata.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "correction/pairagreement.h"
#include "correction/vdm.h"
#include "volume/volume.h"

namespace daxo::pipeline {

namespace {

std::string fixed(double value, int decimals) {
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Nearest-rank percentiles of the map inside the head.
std::string mapFigures(const Volume& map, const Volume& head) {
  std::vector<float> inside;
  for (size_t i = 0; i < map.voxelCount(); ++i) {
    if (head.data()[i] != 0.0f && std::isfinite(map.data()[i])) inside.push_back(map.data()[i]);
  }
  if (inside.empty()) return "no voxel inside the head";
  std::sort(inside.begin(), inside.end());
  auto at = [&](double fraction) {
    const size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(inside.size())));
    return inside[std::max<size_t>(rank, 1) - 1];
  };
  return fixed(inside.front(), 2) + " to " + fixed(inside.back(), 2) + " voxels; 5th, 50th and 95th percentiles " +
         fixed(at(0.05), 2) + ", " + fixed(at(0.5), 2) + ", " + fixed(at(0.95), 2);
}

}  // namespace

report::PairReportInputs pairReportInputs(const Volume& scan0, const Volume& scan1, const Volume& map,
                                          const std::array<double, 3>& voxelSizeMm, bool alongX) {
  if (scan1.dimensions() != scan0.dimensions() || map.dimensions() != scan0.dimensions()) {
    throw std::invalid_argument("the scans and the map must have the same extents");
  }
  report::PairReportInputs in;
  in.scan0 = scan0;
  in.scan1 = scan1;
  in.map = map;
  in.voxelSizeMm = voxelSizeMm;
  in.phaseAxis = alongX ? 0 : 1;
  // correctVolume takes the map in the frame with phase encoding along y.
  const Volume workingMap = alongX ? transposeXY(map) : map;
  in.corrected0 = correctVolume(workingMap, scan0, alongX);
  in.corrected1 = correctVolume(workingMap * -1.0f, scan1, alongX);
  in.headMask = pairHeadMask(in.corrected0, in.corrected1);
  const bool anyHead =
      std::any_of(in.headMask.data(), in.headMask.data() + in.headMask.voxelCount(), [](float m) { return m != 0.0f; });
  if (anyHead) {
    // A stretched region of a scan is darker and a compressed one brighter,
    // by the Jacobian 1 +- dmap/dy; the correction's model has this, so the
    // corrected pair rescaled that way is what a correct map brings
    // together. Its correlation comes first, the plain one beside it.
    const Volume workingSlope = derivativeY(workingMap);
    const Volume slope = alongX ? transposeXY(workingSlope) : workingSlope;
    in.rescaled0 = in.corrected0;
    in.rescaled1 = in.corrected1;
    for (size_t i = 0; i < slope.voxelCount(); ++i) {
      in.rescaled0.data()[i] *= 1.0f + slope.data()[i];
      in.rescaled1.data()[i] *= 1.0f - slope.data()[i];
    }
    in.numbers.push_back({"Correlation inside the head, rescaled by the local stretch",
                          fixed(maskedCorrelation(in.rescaled0, in.rescaled1, in.headMask), 4) + " after"});
    in.numbers.push_back({"Correlation inside the head",
                          fixed(maskedCorrelation(scan0, scan1, in.headMask), 4) + " before correction, " +
                              fixed(maskedCorrelation(in.corrected0, in.corrected1, in.headMask), 4) + " after"});
    float steepest = 0.0f;
    for (size_t i = 0; i < slope.voxelCount(); ++i) {
      if (in.headMask.data()[i] != 0.0f) steepest = std::max(steepest, std::fabs(slope.data()[i]));
    }
    in.numbers.push_back({"Steepest slope of the map inside the head",
                          "|d(displacement)/d(phase axis)| up to " + fixed(steepest, 2) +
                              " (at 1 the map would fold: " + (steepest < 1.0f ? "no fold" : "folds") + ")"});
  }
  in.numbers.push_back({"Displacement inside the head", mapFigures(map, in.headMask)});
  return in;
}

}  // namespace daxo::pipeline
