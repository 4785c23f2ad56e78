#include "correction/phaseaxischeck.h"

#include <algorithm>
#include <stdexcept>

#include "correction/pairagreement.h"
#include "correction/variationalestimate.h"
#include "correction/vdm.h"

namespace daxo {

namespace {

// Each voxel of the result averages a 2 x 2 x 2 block (fewer at an odd end).
Volume halved(const Volume& v) {
  const Dimensions d = v.dimensions();
  const Dimensions h{(d.x + 1) / 2, (d.y + 1) / 2, (d.z + 1) / 2};
  Volume out(h, 0.0f);
  for (int32_t z = 0; z < h.z; ++z) {
    for (int32_t y = 0; y < h.y; ++y) {
      for (int32_t x = 0; x < h.x; ++x) {
        double sum = 0.0;
        int count = 0;
        for (int32_t dz = 0; dz < 2 && 2 * z + dz < d.z; ++dz) {
          for (int32_t dy = 0; dy < 2 && 2 * y + dy < d.y; ++dy) {
            for (int32_t dx = 0; dx < 2 && 2 * x + dx < d.x; ++dx) {
              sum += v(2 * x + dx, 2 * y + dy, 2 * z + dz);
              ++count;
            }
          }
        }
        out(x, y, z) = static_cast<float>(sum / count);
      }
    }
  }
  return out;
}

// The pair corrected with `map` (along y) and rescaled by the Jacobian,
// compared inside the head of the corrected pair.
double agreementAfter(const Volume& first, const Volume& second, const Volume& map) {
  Volume a = correctVolume(map, first, false);
  Volume b = correctVolume(map * -1.0f, second, false);
  const Volume slope = derivativeY(map);
  for (size_t i = 0; i < a.voxelCount(); ++i) {
    a.data()[i] *= 1.0f + slope.data()[i];
    b.data()[i] *= 1.0f - slope.data()[i];
  }
  const Volume head = pairHeadMask(a, b);
  if (std::none_of(head.data(), head.data() + head.voxelCount(), [](float m) { return m != 0.0f; })) return 0.0;
  return maskedCorrelation(a, b, head);
}

double coarseAgreement(const Volume& first, const Volume& second) {
  VariationalSettings quick;
  quick.levels = 2;
  quick.fineIterations = 8;
  const Volume map = estimateVariational(first, second, quick, nullptr);
  return agreementAfter(first, second, map);
}

}  // namespace

PhaseAxisCheck checkPhaseAxis(const Volume& first, const Volume& second, const Volume& map) {
  if (second.dimensions() != first.dimensions() || map.dimensions() != first.dimensions()) {
    throw std::invalid_argument("checkPhaseAxis: the scans and the map must have the same extents");
  }
  PhaseAxisCheck check;
  const Volume head = pairHeadMask(first, second);
  if (std::any_of(head.data(), head.data() + head.voxelCount(), [](float m) { return m != 0.0f; })) {
    check.before = maskedCorrelation(first, second, head);
  }
  check.after = agreementAfter(first, second, map);
  const Volume small0 = halved(first);
  const Volume small1 = halved(second);
  check.coarseAlongGiven = coarseAgreement(small0, small1);
  check.coarseAlongOther = coarseAgreement(transposeXY(small0), transposeXY(small1));
  return check;
}

}  // namespace daxo
