#include "demodata/distortedscan.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "demodata/displacementfield.h"
#include "demodata/random.h"

namespace daxo {

namespace {

// Solves y + sign * d(y) = target for y along one column. g(y) = y + sign * d(y)
// rises with slope 1 + sign * dd/dy >= 0.55, and |d| <= amplitude puts the root
// within amplitude of the target: safeguarded Newton inside that bracket.
double solveSourceRow(const DisplacementField::Column& column, double sign, double amplitude, double target,
                      double guess, double& slope) {
  double lo = target - amplitude - 1.0, hi = target + amplitude + 1.0;
  double y = (guess > lo && guess < hi) ? guess : target;
  for (int iteration = 0; iteration < 60; ++iteration) {
    double d = 0, dddy = 0;
    column.atWithDerivative(y, d, dddy);
    slope = 1.0 + sign * dddy;
    const double g = y + sign * d - target;
    if (std::fabs(g) < 1e-10) break;
    if (g < 0)
      lo = y;
    else
      hi = y;
    double next = y - g / slope;
    if (!(next > lo && next < hi)) next = 0.5 * (lo + hi);
    y = next;
  }
  return y;
}

}  // namespace

DistortedAcquisition::DistortedAcquisition(const DemoSettings& settings, PhaseDirection direction)
    : settings_(settings), direction_(direction) {
  validateSettings(settings);
  if (direction != PhaseDirection::First && direction != PhaseDirection::Second)
    throw std::invalid_argument("demo data: the phase-encoding direction must be First (+1) or Second (-1)");
  const HeadPhantom phantom(settings);
  const DisplacementField field(settings);
  const double sign = static_cast<double>(static_cast<int>(direction));
  const size_t n = static_cast<size_t>(settings.nx) * settings.ny * settings.nz;
  mix_.resize(n);
  factor_.resize(n);

  if (settings.field == DemoField::Strong) {
    integrateVoxels(phantom, field, sign);
    return;
  }
  const size_t nx = static_cast<size_t>(settings.nx);
  std::vector<DisplacementField::Column> columns(nx);
  std::vector<double> previous(nx);  // the last root per column: the next row's starting guess
  size_t i = 0;
  for (int32_t z = 0; z < settings.nz; ++z) {
    for (size_t x = 0; x < nx; ++x) {
      columns[x] = field.column(static_cast<double>(x), z);
      previous[x] = -columns[x].at(0.0) * sign;
    }
    for (int32_t yTarget = 0; yTarget < settings.ny; ++yTarget) {
      for (size_t x = 0; x < nx; ++x, ++i) {
        double slope = 1.0;
        const double guess = yTarget == 0 ? previous[x] : previous[x] + 1.0;
        const double y = solveSourceRow(columns[x], sign, field.amplitude(), yTarget, guess, slope);
        previous[x] = y;
        factor_[i] = static_cast<float>(1.0 / slope);
        mix_[i] = phantom.mixAt(static_cast<double>(x), y, z);
      }
    }
  }
}

void DistortedAcquisition::integrateVoxels(const HeadPhantom& phantom, const DisplacementField& field, double sign) {
  const size_t nx = static_cast<size_t>(settings_.nx), ny = static_cast<size_t>(settings_.ny);
  const size_t n = nx * ny * static_cast<size_t>(settings_.nz);
  mix_.clear();
  factor_.resize(n);
  firstSample_.resize(n + 1);
  // Source rows of the voxel boundaries y' = j - 1/2, j = 0 .. ny, per column of one slice.
  std::vector<double> bounds(nx * (ny + 1));
  size_t i = 0;
  for (int32_t z = 0; z < settings_.nz; ++z) {
    for (size_t x = 0; x < nx; ++x) {
      const DisplacementField::Column column = field.column(static_cast<double>(x), z);
      double guess = -0.5 - column.at(-0.5) * sign;
      for (size_t j = 0; j <= ny; ++j) {
        double slope = 1.0;
        guess = solveSourceRow(column, sign, field.amplitude(), static_cast<double>(j) - 0.5, guess, slope);
        bounds[x * (ny + 1) + j] = guess;
      }
    }
    for (size_t y = 0; y < ny; ++y) {
      for (size_t x = 0; x < nx; ++x, ++i) {
        const double lo = bounds[x * (ny + 1) + y], hi = bounds[x * (ny + 1) + y + 1];
        const size_t samples = std::max<size_t>(2, static_cast<size_t>(std::ceil(2.0 * (hi - lo))));
        firstSample_[i] = static_cast<uint32_t>(mix_.size());
        for (size_t k = 0; k < samples; ++k) {
          const double ys = lo + (static_cast<double>(k) + 0.5) * (hi - lo) / static_cast<double>(samples);
          mix_.push_back(phantom.mixAt(static_cast<double>(x), ys, z));
        }
        factor_[i] = static_cast<float>((hi - lo) / static_cast<double>(samples));
      }
    }
  }
  firstSample_[n] = static_cast<uint32_t>(mix_.size());
}

Volume DistortedAcquisition::scan(const Contrast& contrast, uint64_t noiseKey) const {
  const SignalModel signal(contrast);
  if (!firstSample_.empty()) return integratedScan(signal, noiseKey);
  Volume v(settings_.nx, settings_.ny, settings_.nz);
  float* out = v.data();
  const size_t n = mix_.size();
  const double sigma = settings_.noiseSigma;
  const uint64_t stream = 2 * noiseKey + (direction_ == PhaseDirection::First ? 0 : 1);
  for (size_t i = 0; i < n; ++i) {
    const double s = static_cast<double>(signal(mix_[i])) * factor_[i];
    if (sigma > 0) {
      // Magnitude of the complex signal with noise in both channels.
      const NormalPair noise = normalPairAt(settings_.seed, stream, i);
      const double re = s + sigma * noise.first, im = sigma * noise.second;
      out[i] = static_cast<float>(std::sqrt(re * re + im * im));
    } else {
      out[i] = static_cast<float>(s);
    }
  }
  return v;
}

Volume DistortedAcquisition::integratedScan(const SignalModel& signal, uint64_t noiseKey) const {
  Volume v(settings_.nx, settings_.ny, settings_.nz);
  float* out = v.data();
  const size_t n = factor_.size();
  const double sigma = settings_.noiseSigma;
  const uint64_t stream = 2 * noiseKey + (direction_ == PhaseDirection::First ? 0 : 1);
  for (size_t i = 0; i < n; ++i) {
    double sum = 0.0;
    for (uint32_t k = firstSample_[i]; k < firstSample_[i + 1]; ++k) sum += signal(mix_[k]);
    const double s = sum * factor_[i];
    if (sigma > 0) {
      const NormalPair noise = normalPairAt(settings_.seed, stream, i);
      const double re = s + sigma * noise.first, im = sigma * noise.second;
      out[i] = static_cast<float>(std::sqrt(re * re + im * im));
    } else {
      out[i] = static_cast<float>(s);
    }
  }
  return v;
}

std::vector<Volume> DistortedAcquisition::functionalSeries() const {
  std::vector<Volume> series;
  for (int32_t t = 0; t < settings_.timePoints; ++t)
    series.push_back(scan(functionalContrast(settings_, t), kFunctionalNoiseKey + static_cast<uint64_t>(t)));
  return series;
}

std::vector<Volume> DistortedAcquisition::diffusionSeries() const {
  std::vector<Volume> series;
  const std::vector<DiffusionGradient> table = diffusionGradients(settings_);
  for (size_t row = 0; row < table.size(); ++row)
    series.push_back(scan(diffusionContrast(table[row]), kDiffusionNoiseKey + row));
  return series;
}

Volume distortedScan(const DemoSettings& settings, PhaseDirection direction, const Contrast& contrast,
                     uint64_t noiseKey) {
  return DistortedAcquisition(settings, direction).scan(contrast, noiseKey);
}

}  // namespace daxo
