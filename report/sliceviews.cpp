#include "report/sliceviews.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "report/colormaps.h"

namespace daxo::report {

namespace {

// The picture's axes for an orientation: which voxel axis runs across and
// which up, their pixel scales, and how a pixel finds its voxel.
struct Plane {
  int columns = 0;  // voxels across
  int rows = 0;     // voxels up
  int columnScale = 1;
  int rowScale = 1;
};

Plane planeOf(const Dimensions& d, Orientation o, const PixelScale& s) {
  switch (o) {
    case Orientation::Axial:
      return {d.x, d.y, s.x, s.y};
    case Orientation::Coronal:
      return {d.x, d.z, s.x, s.z};
    case Orientation::Sagittal:
      return {d.y, d.z, s.y, s.z};
  }
  return {};
}

int sliceCount(const Dimensions& d, Orientation o) {
  return o == Orientation::Axial ? d.z : o == Orientation::Coronal ? d.y : d.x;
}

// The storage index of the voxel shown at (column, row) in voxel units, row 0
// being the bottom of the picture.
size_t voxelAt(const Volume& v, Orientation o, int index, int column, int row) {
  switch (o) {
    case Orientation::Axial:
      return v.index(column, row, index);
    case Orientation::Coronal:
      return v.index(column, index, row);
    case Orientation::Sagittal:
      return v.index(index, column, row);
  }
  return 0;
}

// Paints every voxel of a slice as a block with colourOf(storage index).
template <typename ColourOf>
RgbImage paintSlice(const Volume& v, Orientation o, int index, const PixelScale& s, ColourOf colourOf) {
  if (index < 0 || index >= sliceCount(v.dimensions(), o)) throw std::out_of_range("slice outside the volume");
  const Plane p = planeOf(v.dimensions(), o, s);
  RgbImage picture(p.columns * p.columnScale, p.rows * p.rowScale);
  for (int row = 0; row < p.rows; ++row) {
    const int top = (p.rows - 1 - row) * p.rowScale;
    for (int column = 0; column < p.columns; ++column) {
      const Rgb colour = colourOf(voxelAt(v, o, index, column, row));
      for (int dy = 0; dy < p.rowScale; ++dy) {
        for (int dx = 0; dx < p.columnScale; ++dx) picture.at(column * p.columnScale + dx, top + dy) = colour;
      }
    }
  }
  return picture;
}

double windowed(double value, const Window& w) { return w.high > w.low ? (value - w.low) / (w.high - w.low) : 0.0; }

uint8_t blend(uint8_t under, uint8_t over, double opacity) {
  return static_cast<uint8_t>(std::lround(under + opacity * (over - under)));
}

}  // namespace

Window robustWindow(const std::vector<const Volume*>& volumes) {
  std::vector<float> values;
  for (const Volume* v : volumes) {
    const float* data = v->data();
    for (size_t i = 0; i < v->voxelCount(); ++i) {
      if (std::isfinite(data[i]) && data[i] != 0.0f) values.push_back(data[i]);
    }
  }
  if (values.empty()) return {};
  auto rank = [&](double fraction) {
    const size_t k = std::min(values.size() - 1, static_cast<size_t>(fraction * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return static_cast<double>(values[k]);
  };
  const double low = rank(0.01);
  const double high = rank(0.995);
  return high > low ? Window{low, high} : Window{low, low + 1.0};
}

PixelScale pixelScaleFor(const Dimensions& d, const std::array<double, 3>& mm, int targetPixels) {
  const double smallest = std::min({mm[0], mm[1], mm[2]});
  const double largestMm = std::max({d.x * mm[0], d.y * mm[1], d.z * mm[2]});
  // Pixels per mm, chosen so that the smallest voxel gets a whole number.
  const int perSmallest = std::max(1, static_cast<int>(std::floor(targetPixels * smallest / largestMm)));
  auto blocks = [&](double size) { return std::max(1, static_cast<int>(std::lround(perSmallest * size / smallest))); };
  return {blocks(mm[0]), blocks(mm[1]), blocks(mm[2])};
}

std::vector<int> slicesThrough(const Volume& mask, Orientation o, int count) {
  const int n = sliceCount(mask.dimensions(), o);
  int first = n;
  int last = -1;
  const float* m = mask.data();
  for (int z = 0; z < mask.nz(); ++z) {
    for (int y = 0; y < mask.ny(); ++y) {
      for (int x = 0; x < mask.nx(); ++x) {
        if (m[mask.index(x, y, z)] == 0.0f) continue;
        const int s = o == Orientation::Axial ? z : o == Orientation::Coronal ? y : x;
        first = std::min(first, s);
        last = std::max(last, s);
      }
    }
  }
  if (last < 0) {
    first = 0;
    last = n - 1;
  }
  const double from = first + 0.15 * (last - first);
  const double to = last - 0.15 * (last - first);
  std::vector<int> slices;
  for (int k = 0; k < count; ++k) {
    const double t = count > 1 ? static_cast<double>(k) / (count - 1) : 0.5;
    slices.push_back(std::clamp(static_cast<int>(std::lround(from + t * (to - from))), 0, n - 1));
  }
  return slices;
}

RgbImage greySlice(const Volume& v, Orientation o, int index, const Window& w, const PixelScale& s) {
  const float* data = v.data();
  return paintSlice(v, o, index, s, [&](size_t i) { return grey(windowed(data[i], w)); });
}

RgbImage magnitudeSlice(const Volume& v, Orientation o, int index, const Window& w, const PixelScale& s) {
  const float* data = v.data();
  return paintSlice(v, o, index, s, [&](size_t i) { return viridis(windowed(data[i], w)); });
}

RgbImage overlaySlice(const Volume& base, const Window& w, const Overlay& overlay, Orientation o, int index,
                      const PixelScale& s) {
  const Volume& values = overlay.values;
  const Volume& mask = overlay.mask;
  const double limit = overlay.limit;
  const double opacity = overlay.opacity;
  if (values.dimensions() != base.dimensions() || mask.dimensions() != base.dimensions()) {
    throw std::invalid_argument("an overlay of other extents than its base");
  }
  const float* b = base.data();
  const float* v = values.data();
  const float* m = mask.data();
  const double half = limit > 0.0 ? 0.5 / limit : 0.0;
  return paintSlice(base, o, index, s, [&](size_t i) {
    const Rgb under = grey(windowed(b[i], w));
    if (m[i] == 0.0f) return under;
    const Rgb over = diverging(0.5 + v[i] * half);
    return Rgb{blend(under.r, over.r, opacity), blend(under.g, over.g, opacity), blend(under.b, over.b, opacity)};
  });
}

RgbImage sideBySide(const std::vector<RgbImage>& pictures, int gap) {
  int width = 0;
  int height = 0;
  for (const RgbImage& p : pictures) {
    width += p.width();
    height = std::max(height, p.height());
  }
  if (!pictures.empty()) width += gap * static_cast<int>(pictures.size() - 1);
  RgbImage row(width, height);
  int column = 0;
  for (const RgbImage& p : pictures) {
    row.paste(p, column, height - p.height());
    column += p.width() + gap;
  }
  return row;
}

RgbImage colourBar(Rgb (*colourMap)(double), int width, int height) {
  RgbImage bar(width, height);
  for (int c = 0; c < width; ++c) {
    const Rgb colour = colourMap(width > 1 ? static_cast<double>(c) / (width - 1) : 0.5);
    for (int r = 0; r < height; ++r) bar.at(c, r) = colour;
  }
  return bar;
}

}  // namespace daxo::report
