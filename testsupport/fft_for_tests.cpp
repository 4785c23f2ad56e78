#include "testsupport/fft_for_tests.h"

#include "volume/fft.h"
#include "volume/fftw/fftwbinding.h"

namespace daxo::testing {
void bindFftwForTests() { bindFft(fftwFunctions()); }
}  // namespace daxo::testing
