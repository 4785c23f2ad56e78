#pragma once

#include "volume/fft.h"

// A plain discrete Fourier transform with the meaning of FFTW's
// single-precision three-dimensional real transforms (unnormalised; the
// complex half has n0 x n1 x (n2 / 2 + 1) values, n2 the contiguous axis).
// It is slow (each axis costs its length per value) but uses no library
// function: its twiddle factors come from a fixed series of additions and
// multiplications, so it gives the same bits on every platform. For the test
// hosts, whose volumes are tiny.

namespace daxo::crosscheck {

// Plans hold the extents and the buffers; execute transforms, destroyPlan
// frees the plan. The flags are ignored.
FftPlan planPlainRealToComplex3d(int n0, int n1, int n2, float* in, FftComplex* out);
FftPlan planPlainComplexToReal3d(int n0, int n1, int n2, FftComplex* in, float* out);
void executePlainPlan(FftPlan plan);
void destroyPlainPlan(FftPlan plan);

// cos and sin of 2 pi * j / n (0 <= j < n) from the same fixed series; the
// largest error is below 1e-14.
void unitRoot(int j, int n, double& cosine, double& sine);

}  // namespace daxo::crosscheck
