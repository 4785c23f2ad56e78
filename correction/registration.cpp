#include "correction/registration.h"

#include <stdexcept>

// Placeholder until the rigid registration lands.

namespace daxo {

namespace {
[[noreturn]] void unavailable() { throw std::logic_error("rigid registration is not available yet"); }
}  // namespace

SplineGradientSamples bsplineSampleGradient(const std::vector<double>&, const Dimensions&, const std::vector<Float3>&,
                                            const Float3&) {
  unavailable();
}
Matrix4 rigidMatrix(const Vector&) { unavailable(); }
Vector rigidParameters(const Matrix4&) { unavailable(); }
Vector displayMotion(const Vector&) { unavailable(); }
unsigned registerRigid(const Volume&, const Float3&, const Volume&, const Float3&, const Dimensions&, Vector&) {
  unavailable();
}
Volume resampleRigid(const Volume&, const Float3&, const Vector&) { unavailable(); }

}  // namespace daxo
