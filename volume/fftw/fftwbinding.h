#pragma once

#include "volume/fft.h"

namespace daxo {

// The core's FFT functions backed directly by FFTW (single precision).
FftFunctions fftwFunctions();

}  // namespace daxo
