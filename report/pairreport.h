#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "report/htmlpage.h"
#include "volume/volume.h"

// The quality report pages: what a user looks at to judge a correction in a
// few seconds. Volumes are in the frame the correction works in (x fastest;
// the phase-encoding axis is x or y); the numbers are handed in already
// formatted, as the log shows them, so page and log always agree.

namespace daxo::report {

struct PairReportInputs {
  std::string title;
  Volume scan0;  // the first scan as acquired
  Volume scan1;  // the second scan, opposite phase encoding
  Volume corrected0;
  Volume corrected1;
  Volume map;       // displacement of the first scan, voxels
  Volume headMask;  // nonzero inside the head
  std::array<double, 3> voxelSizeMm{1.0, 1.0, 1.0};
  int phaseAxis = 1;                 // 0: x, 1: y
  std::optional<double> hzPerVoxel;  // the field in Hz is map * hzPerVoxel, when the readout time is known
  Rows numbers;                      // agreement before and after, map range, ...
  Rows settings;                     // method, options, versions, time, input files
  std::string verdict;               // the self-check's verdict; empty when there is none
};

// The page for an estimated pair: both scans before and after correction in
// three orthogonal views (one grey window for all), each pair also shown in
// turn, the absolute difference before and after (one window), the map over
// the corrected first scan with a colour bar and the phase-encoding axis, and
// the numbers. Throws std::invalid_argument when the volumes differ in
// extents.
std::string pairReportHtml(const PairReportInputs& in);

struct SeriesView {
  std::string name;
  Volume before;  // the first volume of the series
  Volume after;   // the same, corrected
  Volume map;     // the map as applied to it (its extents)
};

struct SeriesReportInputs {
  std::string title;
  std::vector<SeriesView> series;
  std::array<double, 3> voxelSizeMm{1.0, 1.0, 1.0};  // of the first series
  int phaseAxis = 1;
  std::optional<double> hzPerVoxel;
  Rows settings;
};

// The page for corrected series: the first volume of each before and after
// (in turn), and the map over the first one.
std::string seriesReportHtml(const SeriesReportInputs& in);

}  // namespace daxo::report
