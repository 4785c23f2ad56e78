#include "report/colormaps.h"

#include <algorithm>
#include <cmath>

namespace daxo::report {

namespace {

double clamped(double t) { return std::isnan(t) ? 0.0 : std::clamp(t, 0.0, 1.0); }

uint8_t level(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

}  // namespace

Rgb grey(double t) {
  const uint8_t g = level(clamped(t));
  return {g, g, g};
}

Rgb viridis(double t) {
  t = clamped(t);
  // Coefficients of degree 0 to 6, per channel.
  static const double c[7][3] = {{0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
                                 {0.1050930431085774, 1.404613529898575, 1.384590162594685},
                                 {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
                                 {-4.634230498983486, -5.799100973351585, -19.33244095627987},
                                 {6.228269936347081, 14.17993336680509, 56.69055260068105},
                                 {4.776384997670288, -13.74514537774601, -65.35303263337234},
                                 {-5.435455855934631, 4.645852612178535, 26.3124352495832}};
  double rgb[3];
  for (int ch = 0; ch < 3; ++ch) {
    double v = c[6][ch];
    for (int k = 5; k >= 0; --k) v = c[k][ch] + t * v;
    rgb[ch] = v;
  }
  return {level(rgb[0]), level(rgb[1]), level(rgb[2])};
}

Rgb diverging(double t) {
  t = clamped(t);
  static const double anchors[5][3] = {{0.230, 0.299, 0.754},
                                       {0.552, 0.690, 0.996},
                                       {0.865, 0.865, 0.865},
                                       {0.958, 0.603, 0.482},
                                       {0.706, 0.016, 0.150}};
  const double position = t * 4.0;
  const int i = std::min(3, static_cast<int>(position));
  const double f = position - i;
  double rgb[3];
  for (int ch = 0; ch < 3; ++ch) rgb[ch] = anchors[i][ch] + f * (anchors[i + 1][ch] - anchors[i][ch]);
  return {level(rgb[0]), level(rgb[1]), level(rgb[2])};
}

}  // namespace daxo::report
