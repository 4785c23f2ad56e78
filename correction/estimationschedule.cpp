#include "correction/estimationschedule.h"

#include <cmath>

namespace daxo {

namespace {

// float(i) * step for i = first, first + increment, .., last.
std::vector<float> shiftList(int first, int last, int increment, float step) {
  std::vector<float> shifts;
  for (int i = first; i <= last; i += increment) shifts.push_back(static_cast<float>(i) * step);
  return shifts;
}

Sigma3 smoothingFor(double width, const std::array<double, 3>& voxelSize) {
  return {width / std::sqrt(voxelSize[0]), width / std::sqrt(voxelSize[1]), width / std::sqrt(voxelSize[2])};
}

}  // namespace

EstimationSchedule standardSchedule(const std::array<double, 3>& voxelSize) {
  EstimationSchedule schedule;
  schedule.localBoxes.emplace_back(7, 7, 7, 1.0f);
  schedule.localBoxes.emplace_back(7, 7, 7, 1.0f);
  schedule.localBoxes.emplace_back(5, 5, 5, 1.0f);
  schedule.localBoxes.emplace_back(5, 5, 5, 1.0f);
  schedule.shifts = {shiftList(-10, 10, 2, 0.5f), shiftList(-6, 6, 2, 0.4f), shiftList(-5, 5, 1, 0.3f),
                     shiftList(-5, 5, 1, 0.15f)};
  schedule.smoothing = {smoothingFor(20.0, voxelSize), smoothingFor(12.0, voxelSize), smoothingFor(6.0, voxelSize),
                        smoothingFor(2.0, voxelSize)};
  return schedule;
}

Sigma3 standardColumnSigma(const std::array<double, 3>& voxelSize) { return {0.5, 4.0 / voxelSize[1], 0.5}; }

}  // namespace daxo
