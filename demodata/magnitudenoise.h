#pragma once

#include <cstdint>

#include "volume/volume.h"

namespace daxo {

// Rician noise as magnitude images hold it: every voxel becomes
// |v + sigma (n1 + i n2)|, n1 and n2 standard normal draws that depend only
// on (seed, stream, voxel index). sigma <= 0 leaves v as it is.
void addRicianNoise(Volume& v, double sigma, uint64_t seed, uint64_t stream);

}  // namespace daxo
