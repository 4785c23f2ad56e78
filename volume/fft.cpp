#include "volume/fft.h"

namespace daxo {

namespace {
FftFunctions& binding() {
  static FftFunctions functions;
  return functions;
}
}  // namespace

void bindFft(const FftFunctions& functions) { binding() = functions; }

const FftFunctions& boundFft() { return binding(); }

}  // namespace daxo
