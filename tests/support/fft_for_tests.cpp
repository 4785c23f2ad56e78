#include "tests/support/fft_for_tests.h"

#include "host/fftwbinding.h"
#include "volume/fft.h"

namespace daxo::testing {
void bindFftwForTests() { bindFft(fftwFunctions()); }
}  // namespace daxo::testing
