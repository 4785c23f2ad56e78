#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "report/rgbimage.h"
#include "volume/volume.h"

// Pictures of slices through volumes (x fastest, then y, then z, as Volume
// stores them). Slices are shown with the higher coordinate up (y in axial
// views, z in the others) and x to the right; each voxel becomes a block of
// pixels sized after the voxel size, so millimetres keep their aspect.

namespace daxo::report {

enum class Orientation {
  Axial,     // a z slice: x across, y up
  Coronal,   // a y slice: x across, z up
  Sagittal,  // an x slice: y across, z up
};

// The grey-level window pictures share so that they can be compared: values
// at or below `low` are black, at or above `high` white.
struct Window {
  double low = 0.0;
  double high = 1.0;
};

// From the 1st to the 99.5th percentile (nearest rank) of the finite nonzero
// voxels of all the volumes together; {0, 1} when there are none.
Window robustWindow(const std::vector<const Volume*>& volumes);

// Pixels per voxel along x, y and z.
struct PixelScale {
  int x = 1;
  int y = 1;
  int z = 1;
};

// The block sizes that make the largest extent in mm about `targetPixels`
// pixels (at least one pixel a voxel).
PixelScale pixelScaleFor(const Dimensions& extents, const std::array<double, 3>& voxelSizeMm, int targetPixels);

// `count` slice indices of the orientation spread evenly over the middle 70 %
// of where `mask` is nonzero (over the whole volume when it is empty).
std::vector<int> slicesThrough(const Volume& mask, Orientation orientation, int count);

// A slice in grey levels.
RgbImage greySlice(const Volume& v, Orientation orientation, int index, const Window& window, const PixelScale& scale);

// A slice of magnitudes in the viridis colour map (low dark blue, high
// yellow), windowed like greySlice.
RgbImage magnitudeSlice(const Volume& v, Orientation orientation, int index, const Window& window,
                        const PixelScale& scale);

// Values laid over a grey picture in the diverging colour map (-limit blue,
// 0 grey, +limit red) wherever `mask` is nonzero, with the given opacity.
struct Overlay {
  const Volume& values;
  double limit;
  const Volume& mask;
  double opacity;
};

// A slice of `base` in grey with `overlay` over it. The overlay's volumes
// have the base's extents (std::invalid_argument otherwise).
RgbImage overlaySlice(const Volume& base, const Window& window, const Overlay& overlay, Orientation orientation,
                      int index, const PixelScale& scale);

// Pictures side by side, `gap` pixels apart, on a black ground; the row is
// as high as the highest picture.
RgbImage sideBySide(const std::vector<RgbImage>& pictures, int gap);

// A horizontal bar of the colour map from t = 0 (left) to 1 (right).
RgbImage colourBar(Rgb (*colourMap)(double), int width, int height);

}  // namespace daxo::report
