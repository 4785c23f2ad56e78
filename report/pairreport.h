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
  // The corrected pair with its intensities rescaled by the local stretch of
  // the map, (1 + d(map)/d(phase axis)) and (1 - ...), as the correction's
  // model predicts the scans; empty when not computed (the differences after
  // correction are then those of the plain corrected pair).
  Volume rescaled0;
  Volume rescaled1;
  std::array<double, 3> voxelSizeMm{1.0, 1.0, 1.0};
  int phaseAxis = 1;  // 0: x (BIDS i), 1: y (j)
  // Where the voxel axes i, j, k point, as NiftiImage::orientationCode gives
  // it ("LAS": i toward the left, j anterior, k superior); "" when unknown.
  std::string orientation;
  std::optional<double> hzPerVoxel;  // the field in Hz is map * hzPerVoxel, when the readout time is known
  Rows links;                        // pages above this one: text and relative address, shown first
  Rows numbers;                      // agreement before and after, map range, ...
  Rows settings;                     // method, options, versions, time, input files
  std::string verdict;               // the self-check's verdict; empty when there is none
};

// The page for an estimated pair: its summary (the verdict, the numbers and
// the middle axial slice's differences and map), why the two correlations
// differ when the rescaled pair is given, both scans before and after
// correction in three orthogonal views (one grey window for all), each pair
// also shown in turn, the absolute difference before and after (one window;
// after correction of the rescaled pair when given), the map over the
// corrected first scan with a colour bar and the phase-encoding axis, and
// the settings. Throws std::invalid_argument when the volumes differ in
// extents.
std::string pairReportHtml(const PairReportInputs& in);

// Why the correlation of the pair rescaled by the local stretch, which the
// pages show first, and the plain one differ: a paragraph for the pages
// that show them.
const std::string& agreementNote();

// "j (y, posterior to anterior)": a voxel axis (0, 1, 2) as BIDS names it,
// its name in the projects' frame and, when `orientation` is known, the
// anatomical direction it runs in.
std::string axisName(int axis, const std::string& orientation);

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
  std::string orientation;  // as in PairReportInputs
  std::optional<double> hzPerVoxel;
  Rows settings;
};

// The page for corrected series: the first volume of each before and after
// (in turn), and the map over the first one.
std::string seriesReportHtml(const SeriesReportInputs& in);

}  // namespace daxo::report
