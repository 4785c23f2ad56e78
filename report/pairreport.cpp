#include "report/pairreport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "report/colormaps.h"
#include "report/sliceviews.h"

namespace daxo::report {

namespace {

constexpr int kSlicesPerView = 4;
constexpr int kTargetPixels = 220;  // the longest side of one slice
constexpr int kGap = 4;
constexpr double kOverlayOpacity = 0.65;

const Orientation kOrientations[] = {Orientation::Axial, Orientation::Coronal, Orientation::Sagittal};

// The orientation's name and, as BIDS names the voxel axes, the slices it
// shows: "Axial (k slices)".
std::string nameOf(Orientation o) {
  return o == Orientation::Axial     ? "Axial (k slices)"
         : o == Orientation::Coronal ? "Coronal (j slices)"
                                     : "Sagittal (i slices)";
}

// "posterior to anterior" for an axis pointing toward 'A'.
std::string anatomicalDirection(char toward) {
  switch (toward) {
    case 'R':
      return "left to right";
    case 'L':
      return "right to left";
    case 'A':
      return "posterior to anterior";
    case 'P':
      return "anterior to posterior";
    case 'S':
      return "inferior to superior";
    case 'I':
      return "superior to inferior";
    default:
      return "";
  }
}

std::string formatted(double value, const char* unit) {
  char text[48];
  std::snprintf(text, sizeof text, "%+.1f %s", value, unit);
  return text;
}

// Slices of one orientation through a volume, laid side by side.
struct ViewRow {
  Orientation orientation;
  std::vector<int> slices;
  PixelScale scale;

  RgbImage grey(const Volume& v, const Window& w) const {
    std::vector<RgbImage> pictures;
    for (int s : slices) pictures.push_back(greySlice(v, orientation, s, w, scale));
    return sideBySide(pictures, kGap);
  }
  RgbImage magnitude(const Volume& v, const Window& w) const {
    std::vector<RgbImage> pictures;
    for (int s : slices) pictures.push_back(magnitudeSlice(v, orientation, s, w, scale));
    return sideBySide(pictures, kGap);
  }
  RgbImage overlay(const Volume& base, const Window& w, const Volume& map, double limit, const Volume& mask) const {
    std::vector<RgbImage> pictures;
    for (int s : slices) {
      pictures.push_back(overlaySlice(base, w, {map, limit, mask, kOverlayOpacity}, orientation, s, scale));
    }
    return sideBySide(pictures, kGap);
  }
};

// One picture above the other, `gap` pixels apart.
RgbImage stacked(const RgbImage& top, const RgbImage& bottom) {
  RgbImage both(std::max(top.width(), bottom.width()), top.height() + kGap + bottom.height());
  both.paste(top, 0, 0);
  both.paste(bottom, 0, top.height() + kGap);
  return both;
}

Volume absoluteDifference(const Volume& a, const Volume& b) {
  Volume d(a.dimensions());
  for (size_t i = 0; i < a.voxelCount(); ++i) d.data()[i] = std::fabs(a.data()[i] - b.data()[i]);
  return d;
}

// The largest |map| inside the mask, rounded up to half a voxel, so the
// colour bar's ends are round numbers.
double mapLimit(const Volume& map, const Volume& mask) {
  double largest = 0.0;
  for (size_t i = 0; i < map.voxelCount(); ++i) {
    if (mask.data()[i] != 0.0f && std::isfinite(map.data()[i]))
      largest = std::max(largest, std::fabs(double(map.data()[i])));
  }
  return std::max(0.5, std::ceil(largest * 2.0) / 2.0);
}

void requireExtents(const Volume& v, const Dimensions& d, const char* what) {
  if (v.dimensions() != d) throw std::invalid_argument(std::string("the report's ") + what + " has other extents");
}

// The map over `base`, its colour bar and the phase-encoding axis.
void mapSection(HtmlPage& page, const std::vector<ViewRow>& rows, const Volume& base, const Window& w,
                const Volume& map, const Volume& mask, int phaseAxis, const std::string& orientation,
                const std::optional<double>& hzPerVoxel) {
  const double limit = mapLimit(map, mask);
  for (const ViewRow& row : rows) {
    page.figure(nameOf(row.orientation) + " views", row.overlay(base, w, map, limit, mask));
  }
  auto label = [&](double v) {
    return hzPerVoxel ? formatted(v, "voxels") + " (" + formatted(v * *hzPerVoxel, "Hz") + ")" : formatted(v, "voxels");
  };
  page.colourBar("Displacement of the first scan along the phase-encoding axis", colourBar(diverging, 300, 14),
                 label(-limit), "0", label(limit));
  const std::string axis = phaseAxis == 1 ? "j" : "i";
  const std::string where =
      phaseAxis == 1 ? "up in axial views, across in sagittal views" : "across in axial and coronal views";
  const std::string text = "Phase-encoding axis: " + axisName(phaseAxis, orientation) + ", " + where +
                           ". Red: the first scan's signal appears shifted toward higher " + axis +
                           "; blue: toward lower " + axis + ".";
  page.arrow(phaseAxis == 1 ? "up" : "right", text);
}

std::vector<ViewRow> viewRows(const Volume& mask, const std::array<double, 3>& mm) {
  const PixelScale scale = pixelScaleFor(mask.dimensions(), mm, kTargetPixels);
  std::vector<ViewRow> rows;
  for (Orientation o : kOrientations) rows.push_back({o, slicesThrough(mask, o, kSlicesPerView), scale});
  return rows;
}

}  // namespace

const std::string& agreementNote() {
  static const std::string note =
      "Where the field stretches a region of a scan along the phase-encoding axis, the scan spreads that region's "
      "signal thinner, and where it compresses one it piles the signal up: the scans as acquired are darker and "
      "brighter there. The correction moves the signal back but keeps its brightness, so the plain correlation of "
      "the corrected pair can even fall after a correct correction, most where the field is strong (temporal "
      "lobes, frontal pole). Rescaled by the local stretch, as the correction's model of the scans predicts, the "
      "corrected pair should agree closely: that correlation, and the difference after correction, judge the "
      "correction.";
  return note;
}

std::string axisName(int axis, const std::string& orientation) {
  const std::string own = axis == 0 ? "x" : axis == 1 ? "y" : "z";
  const std::string anatomical =
      orientation.size() == 3 ? anatomicalDirection(orientation[static_cast<size_t>(axis)]) : "";
  return std::string(1, "ijk"[axis]) + " (" + own + (anatomical.empty() ? "" : ", " + anatomical) + ")";
}

std::string pairReportHtml(const PairReportInputs& in) {
  const Dimensions d = in.scan0.dimensions();
  requireExtents(in.scan1, d, "second scan");
  requireExtents(in.corrected0, d, "corrected first scan");
  requireExtents(in.corrected1, d, "corrected second scan");
  requireExtents(in.map, d, "map");
  requireExtents(in.headMask, d, "head mask");
  const Window w = robustWindow({&in.scan0, &in.scan1, &in.corrected0, &in.corrected1});
  const Window differenceWindow{0.0, 0.5 * (w.high - w.low)};
  const std::vector<ViewRow> rows = viewRows(in.headMask, in.voxelSizeMm);
  const bool rescaled = in.rescaled0.voxelCount() != 0 || in.rescaled1.voxelCount() != 0;
  if (rescaled) {
    requireExtents(in.rescaled0, d, "rescaled first scan");
    requireExtents(in.rescaled1, d, "rescaled second scan");
  }
  const Volume differenceBefore = absoluteDifference(in.scan0, in.scan1);
  const Volume differenceAfter =
      rescaled ? absoluteDifference(in.rescaled0, in.rescaled1) : absoluteDifference(in.corrected0, in.corrected1);
  const std::string afterText = rescaled ? "after correction, rescaled by the local stretch" : "after correction";
  const double limit = mapLimit(in.map, in.headMask);

  HtmlPage page(in.title);
  for (const auto& [text, href] : in.links) page.link(text, href);
  page.beginSummary();
  if (!in.verdict.empty()) page.paragraph(in.verdict);
  page.table(in.numbers);
  {
    // The middle axial slice, smaller: what the pages of a subject and of a
    // group show of this pair.
    const PixelScale scale = pixelScaleFor(d, in.voxelSizeMm, kTargetPixels * 2 / 3);
    const int middle = slicesThrough(in.headMask, Orientation::Axial, 1).front();
    page.figure("Middle axial slice: absolute difference of the pair before and " + afterText +
                    " (one colour scale), and the map (" + formatted(-limit, "voxels") + " blue to " +
                    formatted(limit, "voxels") + " red, along " + axisName(in.phaseAxis, in.orientation) + ")",
                sideBySide({magnitudeSlice(differenceBefore, Orientation::Axial, middle, differenceWindow, scale),
                            magnitudeSlice(differenceAfter, Orientation::Axial, middle, differenceWindow, scale),
                            overlaySlice(in.corrected0, w, {in.map, limit, in.headMask, kOverlayOpacity},
                                         Orientation::Axial, middle, scale)},
                           kGap));
  }
  page.endSummary();
  if (rescaled) page.paragraph(agreementNote());
  page.heading("The pair before and after correction");
  page.paragraph(
      "Each picture shows the two scans in turn: where the correction worked, edges stand still after "
      "it. All pictures share one grey window.");
  for (const ViewRow& row : rows) {
    page.alternating(nameOf(row.orientation) + ", before correction: first and second scan in turn",
                     row.grey(in.scan0, w), row.grey(in.scan1, w));
    page.alternating(nameOf(row.orientation) + ", after correction: first and second scan in turn",
                     row.grey(in.corrected0, w), row.grey(in.corrected1, w));
  }
  page.heading("Absolute difference of the pair, before (upper row) and " + afterText + " (lower row)");
  page.colourBar("One colour scale for both rows", colourBar(viridis, 300, 14), "0", "",
                 std::to_string(static_cast<long long>(std::lround(differenceWindow.high))) + " or more");
  for (const ViewRow& row : rows) {
    page.figure(nameOf(row.orientation) + " views", stacked(row.magnitude(differenceBefore, differenceWindow),
                                                            row.magnitude(differenceAfter, differenceWindow)));
  }
  page.heading("Displacement map over the corrected first scan");
  mapSection(page, rows, in.corrected0, w, in.map, in.headMask, in.phaseAxis, in.orientation, in.hzPerVoxel);
  page.heading("Settings");
  page.table(in.settings);
  return page.html();
}

std::string seriesReportHtml(const SeriesReportInputs& in) {
  if (in.series.empty()) throw std::invalid_argument("a series report without series");
  HtmlPage page(in.title);
  for (const SeriesView& s : in.series) {
    requireExtents(s.after, s.before.dimensions(), "corrected volume");
    requireExtents(s.map, s.before.dimensions(), "map");
  }
  const SeriesView& first = in.series.front();
  // Each series gets its own window and slices; the first one's head is
  // taken as where the map is shown.
  Volume mask(first.before.dimensions());
  const Window firstWindow = robustWindow({&first.before, &first.after});
  for (size_t i = 0; i < mask.voxelCount(); ++i) {
    mask.data()[i] = first.after.data()[i] > firstWindow.low + 0.1 * (firstWindow.high - firstWindow.low) ? 1.0f : 0.0f;
  }
  for (const SeriesView& s : in.series) {
    const Window w = robustWindow({&s.before, &s.after});
    page.heading(s.name);
    const std::vector<ViewRow> rows =
        viewRows(s.before.dimensions() == mask.dimensions() ? mask : s.after, in.voxelSizeMm);
    for (const ViewRow& row : rows) {
      page.alternating(nameOf(row.orientation) + ": first volume before and after correction in turn",
                       row.grey(s.before, w), row.grey(s.after, w));
    }
  }
  page.heading("Displacement map over the corrected first volume of " + first.name);
  mapSection(page, viewRows(mask, in.voxelSizeMm), first.after, firstWindow, first.map, mask, in.phaseAxis,
             in.orientation, in.hzPerVoxel);
  page.heading("Settings");
  page.table(in.settings);
  return page.html();
}

}  // namespace daxo::report
