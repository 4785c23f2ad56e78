#pragma once

// Binds the core's FFT functions to FFTW for the current test program.
namespace daxo::testing {
void bindFftwForTests();
}
