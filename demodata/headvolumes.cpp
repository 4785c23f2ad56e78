#include "demodata/headvolumes.h"

#include "demodata/headphantom.h"

namespace daxo {

namespace {

// out(x, y, z) = value(mix at the voxel centre), in storage order.
template <typename Value>
Volume evaluateOnGrid(const DemoSettings& settings, Value value) {
  const HeadPhantom phantom(settings);
  Volume v(settings.nx, settings.ny, settings.nz);
  float* out = v.data();
  for (int32_t z = 0; z < settings.nz; ++z) {
    for (int32_t y = 0; y < settings.ny; ++y) {
      for (int32_t x = 0; x < settings.nx; ++x) *out++ = value(phantom.mixAt(x, y, z));
    }
  }
  return v;
}

}  // namespace

Volume headObject(const DemoSettings& settings, const Contrast& contrast) {
  const SignalModel signal(contrast);
  return evaluateOnGrid(settings, [&](const TissueMix& m) { return signal(m); });
}

Volume headMask(const DemoSettings& settings) {
  return evaluateOnGrid(settings, [](const TissueMix& m) { return m.head >= 0.5f ? 1.0f : 0.0f; });
}

Volume intracranialMask(const DemoSettings& settings) {
  return evaluateOnGrid(settings, [](const TissueMix& m) { return m.intracranial >= 0.5f ? 1.0f : 0.0f; });
}

}  // namespace daxo
