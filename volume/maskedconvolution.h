#pragma once

#include <cstdint>

#include "volume/columnthreads.h"

// Masked direct-space convolution, the engine of convolveMasked2D and
// convolveMasked3D (volume/volumegauss.h): out(p) = sum over the kernel
// window of w(q) k(p - q) image(q), each term formed as (w * k) * image and
// the cells taken in the order kernel z, then y, then x; cells of weight 0
// are left out. With `normalise` the sum is divided by the sum of w * k when
// that is positive; with `keepEmpty` a voxel without any used cell keeps its
// input value (else it stays 0).
//
// The rows run over contiguous voxels in vector lanes (volume/vectorlanes.h);
// every width gives the same bits.

namespace daxo {

// Extents of the image and kernel; 2-D images use nz = kz = 1.
struct MaskedGrid {
  int32_t nx, ny, nz;
  int32_t kx, ky, kz;
};

// One convolution: the image and the weights (the image's extents, x
// fastest), the kernel (its extents, x fastest) and what the sum does.
struct MaskedConvolution {
  const float* image;
  const float* weights;
  const float* kernel;
  MaskedGrid grid;
  bool normalise;  // divide by the sum of w * k where it is positive
  bool keepEmpty;  // a voxel without any used cell keeps its input value
};

// out (zero-filled, the image's extents, not aliasing any input) receives
// the convolution; rows (y + ny * z) are split across `threads`. `width` is
// one of vectorWidths(); 0 takes the widest. Inputs holding a value that is
// not finite always take 4 lanes: a NaN's sign could otherwise depend on the
// width.
void maskedConvolve(const MaskedConvolution& convolution, float* out, ColumnThreads& threads, int width = 0);

}  // namespace daxo
