#include "demodata/displacementfield.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace daxo {

namespace {

// The blobs in reference-head millimetres. Each is weight * exp(-r^2 / 2),
// r the distance from the centre in units of sigma per axis. Separable, so a
// column (fixed x, z) only varies through the y factor.
struct Blob {
  double weight;
  double cx, cy, cz;
  double sx, sy, sz;
};

constexpr std::array<Blob, 4> kBlobs{{{1.0, 0.0, -62.0, -30.0, 22.0, 22.0, 16.0},    // behind the frontal sinus
                                      {0.8, -48.0, -5.0, -34.0, 16.0, 24.0, 16.0},   // left temporal lobe
                                      {0.8, 48.0, -5.0, -34.0, 16.0, 24.0, 16.0},    // right temporal lobe
                                      {-0.15, 0.0, 40.0, 40.0, 60.0, 60.0, 40.0}}};  // weak, high and posterior

// The strong field: the frontal blob steep along y.
constexpr std::array<Blob, 4> kStrongBlobs{{{1.0, 0.0, -62.0, -30.0, 22.0, 12.5, 16.0},
                                            {0.8, -48.0, -5.0, -34.0, 16.0, 24.0, 16.0},
                                            {0.8, 48.0, -5.0, -34.0, 16.0, 24.0, 16.0},
                                            {-0.15, 0.0, 40.0, 40.0, 60.0, 60.0, 40.0}}};

const std::array<Blob, 4>& blobsOf(bool strong) { return strong ? kStrongBlobs : kBlobs; }

double factor(double q, double c, double s) {
  const double u = (q - c) / s;
  return std::exp(-0.5 * u * u);
}

// Peak |f| and peak |df/dqy| (per mm) of the unscaled blob sum, sampled on a
// 1 mm lattice wide enough to hold every blob's peak and steepest point.
struct ShapeBounds {
  double peak;
  double peakSlope;
};

ShapeBounds measureShape(const std::array<Blob, 4>& blobs) {
  const double step = 1.0;
  const auto axis = [&](double lo, double hi) {
    std::vector<double> v;
    for (double q = lo; q <= hi; q += step) v.push_back(q);
    return v;
  };
  const std::vector<double> xs = axis(-140, 140), ys = axis(-160, 160), zs = axis(-110, 110);
  // Per-blob factor tables along each axis.
  std::vector<std::vector<double>> fx(blobs.size()), fy(blobs.size()), dfy(blobs.size()), fz(blobs.size());
  for (size_t b = 0; b < blobs.size(); ++b) {
    const Blob& k = blobs[b];
    for (double q : xs) fx[b].push_back(factor(q, k.cx, k.sx));
    for (double q : zs) fz[b].push_back(factor(q, k.cz, k.sz));
    for (double q : ys) {
      fy[b].push_back(factor(q, k.cy, k.sy));
      dfy[b].push_back(-(q - k.cy) / (k.sy * k.sy) * factor(q, k.cy, k.sy));
    }
  }
  ShapeBounds bounds{0, 0};
  for (size_t iz = 0; iz < zs.size(); ++iz) {
    for (size_t ix = 0; ix < xs.size(); ++ix) {
      std::array<double, 4> w{};
      for (size_t b = 0; b < blobs.size(); ++b) w[b] = blobs[b].weight * fx[b][ix] * fz[b][iz];
      for (size_t iy = 0; iy < ys.size(); ++iy) {
        double f = 0, df = 0;
        for (size_t b = 0; b < blobs.size(); ++b) {
          f += w[b] * fy[b][iy];
          df += w[b] * dfy[b][iy];
        }
        bounds.peak = std::max(bounds.peak, std::fabs(f));
        bounds.peakSlope = std::max(bounds.peakSlope, std::fabs(df));
      }
    }
  }
  return bounds;
}

const ShapeBounds& shapeBounds(bool strong) {
  static const ShapeBounds standard = measureShape(kBlobs);
  static const ShapeBounds steep = measureShape(kStrongBlobs);
  return strong ? steep : standard;
}

}  // namespace

DisplacementField::DisplacementField(const DemoSettings& settings)
    : frame_(settings), strong_(settings.field == DemoField::Strong), amplitude_(0) {
  const ShapeBounds& b = shapeBounds(strong_);
  // Slope per voxel of the normalised shape f / peak: peakSlope / peak * mm per voxel.
  const double slopePerUnitAmplitude = b.peakSlope / b.peak * frame_.mmPerVoxel();
  amplitude_ = std::min(settings.maxShiftVoxels, (strong_ ? kMaxStrongSlope : kMaxSlope) / slopePerUnitAmplitude);
}

DisplacementField::Column DisplacementField::column(double x, double z) const {
  const double qx = frame_.refX(x), qz = frame_.refZ(z);
  const double scale = amplitude_ / shapeBounds(strong_).peak;
  const std::array<Blob, 4>& blobs = blobsOf(strong_);
  const double mm = frame_.mmPerVoxel();
  // Voxel row of reference y = c: y = c / mm + centre; refY(0) = -centre * mm.
  const double rowOfZero = -frame_.refY(0.0) / mm;
  Column c;
  for (size_t b = 0; b < blobs.size(); ++b) {
    const Blob& k = blobs[b];
    c.weight_[b] = scale * k.weight * factor(qx, k.cx, k.sx) * factor(qz, k.cz, k.sz);
    c.centre_[b] = k.cy / mm + rowOfZero;
    c.inverseSigma_[b] = mm / k.sy;
  }
  return c;
}

double DisplacementField::Column::at(double y) const {
  double d = 0;
  for (size_t b = 0; b < weight_.size(); ++b) {
    const double u = (y - centre_[b]) * inverseSigma_[b];
    d += weight_[b] * std::exp(-0.5 * u * u);
  }
  return d;
}

void DisplacementField::Column::atWithDerivative(double y, double& d, double& dddy) const {
  d = 0;
  dddy = 0;
  for (size_t b = 0; b < weight_.size(); ++b) {
    const double u = (y - centre_[b]) * inverseSigma_[b];
    const double g = weight_[b] * std::exp(-0.5 * u * u);
    d += g;
    dddy -= g * u * inverseSigma_[b];
  }
}

double DisplacementField::at(double x, double y, double z) const { return column(x, z).at(y); }

double DisplacementField::derivativeY(double x, double y, double z) const {
  double d = 0, dddy = 0;
  column(x, z).atWithDerivative(y, d, dddy);
  return dddy;
}

Volume trueDisplacement(const DemoSettings& settings) {
  const DisplacementField field(settings);
  Volume v(settings.nx, settings.ny, settings.nz);
  float* out = v.data();
  std::vector<DisplacementField::Column> columns(static_cast<size_t>(settings.nx));
  for (int32_t z = 0; z < settings.nz; ++z) {
    for (int32_t x = 0; x < settings.nx; ++x) columns[static_cast<size_t>(x)] = field.column(x, z);
    for (int32_t y = 0; y < settings.ny; ++y) {
      for (const DisplacementField::Column& c : columns) *out++ = static_cast<float>(c.at(y));
    }
  }
  return v;
}

}  // namespace daxo
