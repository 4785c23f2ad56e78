#include "correction/boxtrials.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "correction/columnsample.h"
#include "correction/shiftcosts.h"
#include "volume/vectorlanes.h"

namespace daxo {

namespace {

// The sample positions of one trial: the map value plus the scaled shift,
// added (F) and subtracted (G), as the warp's sign factor +1 and -1 give.
struct TrialPositions {
  float f, g;
  TrialPositions(int32_t y, float mapValue, float scaledShift) {
    const float t = mapValue + scaledShift;
    f = static_cast<float>(y) + t;
    g = static_cast<float>(y) + -t;
  }
};

}  // namespace

BoxRange clipBox(const Dimensions& volume, const Dimensions& centre, const Dimensions& box) {
  const Dimensions half{box.x / 2, box.y / 2, box.z / 2};
  return {std::max(centre.x - half.x, 0),
          std::min(centre.x + half.x, volume.x - 1),
          std::max(centre.y - half.y, 0),
          std::min(centre.y + half.y, volume.y - 1),
          std::max(centre.z - half.z, 0),
          std::min(centre.z + half.z, volume.z - 1),
          half};
}

bool isUniformBox(const Volume& box) {
  const size_t n = box.voxelCount();
  if (n == 0) return false;
  const float* p = box.data();
  if (std::isnan(p[0])) return false;
  // Bit for bit, so that not even the sign of a zero differs.
  for (size_t i = 1; i < n; ++i)
    if (std::memcmp(&p[i], &p[0], sizeof(float)) != 0) return false;
  return true;
}

ListedBoxTrials::ListedBoxTrials(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts)
    : volumes_(volumes), box_(box), shifts_(shifts) {}

template <typename Costs>
void ListedBoxTrials::run(const VoxelList& voxels, const VoxelList& boxVoxels, Costs& costs) {
  const int32_t nx = volumes_.v.nx(), plane = nx * volumes_.v.ny(), lastRow = volumes_.v.ny() - 1;
  const float top = static_cast<float>(lastRow);
  const int32_t boxNx = box_.nx(), boxPlane = boxNx * box_.ny();
  float* F = volumes_.F.data();
  float* G = volumes_.G.data();
  const float* am = volumes_.Am.data();
  const float* pm = volumes_.Pm.data();
  const float* map = volumes_.v.data();
  const float* boxValues = box_.data();
  const size_t count = voxels.size(), shiftCount = shifts_.size();
  costs.reset();
  for (size_t j = 0; j < count; ++j) {
    const Dimensions p = voxels[j];
    const Dimensions b = boxVoxels[j];
    const int32_t column = p.x + plane * p.z;
    const int32_t at = column + nx * p.y;
    const float mapValue = map[at];
    const float boxValue = boxValues[b.x + boxNx * b.y + boxPlane * b.z];
    float f = F[at], g = G[at];
    for (size_t k = 0; k < shiftCount; ++k) {
      const TrialPositions y(p.y, mapValue, shifts_[k] * boxValue);
      if (insideRows(y.f, top)) f = sampleColumn(am + column, nx, lastRow, y.f);
      if (insideRows(y.g, top)) g = sampleColumn(pm + column, nx, lastRow, y.g);
      costs.add(k, f, g);
    }
    F[at] = f;
    G[at] = g;
  }
  costs.finish(count);
}

void computeLeftovers(const TrialVolumes& volumes, float boxValue, const std::vector<float>& shifts,
                      ColumnThreads& threads, UniformLeftovers& leftovers) {
  const Volume& v = volumes.v;
  const int32_t nx = v.nx(), ny = v.ny(), lastRow = ny - 1;
  const float top = static_cast<float>(lastRow);
  leftovers.leftF.resize(v.voxelCount());
  leftovers.leftG.resize(v.voxelCount());
  const float* am = volumes.Am.data();
  const float* pm = volumes.Pm.data();
  const float* map = v.data();
  const float* F = volumes.F.data();
  const float* G = volumes.G.data();
  float* leftF = leftovers.leftF.data();
  float* leftG = leftovers.leftG.data();
  threads.run(static_cast<size_t>(v.nz()), [&](size_t zBegin, size_t zEnd, int) {
    for (int32_t z = static_cast<int32_t>(zBegin); z < static_cast<int32_t>(zEnd); ++z)
      for (int32_t y = 0; y < ny; ++y)
        for (int32_t x = 0; x < nx; ++x) {
          const int32_t column = x + nx * ny * z;
          const int32_t at = column + nx * y;
          float f = F[at], g = G[at];
          bool foundF = false, foundG = false;
          // The last shift whose position lies inside wins; the same
          // positions and samples as the table's (computeSlice).
          for (size_t k = shifts.size(); k-- > 0 && !(foundF && foundG);) {
            const TrialPositions p(y, map[at], shifts[k] * boxValue);
            if (!foundF && insideRows(p.f, top)) {
              f = sampleColumn(am + column, nx, lastRow, p.f);
              foundF = true;
            }
            if (!foundG && insideRows(p.g, top)) {
              g = sampleColumn(pm + column, nx, lastRow, p.g);
              foundG = true;
            }
          }
          leftF[at] = f;
          leftG[at] = g;
        }
  });
}

UniformBoxTrials::UniformBoxTrials(const TrialVolumes& volumes, const Volume& box, const std::vector<float>& shifts,
                                   const UniformLeftovers& leftovers, int width)
    : volumes_(volumes),
      leftovers_(leftovers),
      boxDims_(box.dimensions()),
      boxValue_(box.data()[0]),
      shifts_(shifts),
      slots_(box.nz()),
      width_(width != 0 ? width : vectorWidths().back()),
      lanes_(paddedShiftCount(shifts.size(), static_cast<size_t>(width_))) {
  bool known = false;
  for (int w : vectorWidths()) known = known || w == width_;
  if (!known)
    throw std::invalid_argument("UniformBoxTrials: this computer cannot run " + std::to_string(width_) + " lanes");
  const size_t cells = static_cast<size_t>(slots_) * volumes.v.nx() * volumes.v.ny();
  leading_.resize(2 * cells);
  // The lanes past the last shift are never written; zero keeps them tame.
  samples_.assign(2 * lanes_ * cells, 0.0f);
}

void UniformBoxTrials::computeSlice(int32_t z) {
  const Volume& v = volumes_.v;
  const int32_t nx = v.nx(), ny = v.ny(), lastRow = ny - 1;
  const float top = static_cast<float>(lastRow);
  const size_t shiftCount = shifts_.size();
  const size_t first = static_cast<size_t>(z % slots_) * nx * ny;
  const float* am = volumes_.Am.data();
  const float* pm = volumes_.Pm.data();
  const float* map = v.data();
  for (int32_t y = 0; y < ny; ++y)
    for (int32_t x = 0; x < nx; ++x) {
      const size_t cell = first + static_cast<size_t>(y) * nx + x;
      const int32_t column = x + nx * ny * z;
      const float mapValue = map[column + nx * y];
      float* samplesF = samples_.data() + 2 * lanes_ * cell;
      float* samplesG = samplesF + lanes_;
      // Counted until the first shift whose position lies inside; the value
      // carried on is that of the last inside shift so far.
      int32_t leadingF = -1, leadingG = -1;
      float f = 0.0f, g = 0.0f;
      for (size_t k = 0; k < shiftCount; ++k) {
        const TrialPositions p(y, mapValue, shifts_[k] * boxValue_);
        if (insideRows(p.f, top)) {
          f = sampleColumn(am + column, nx, lastRow, p.f);
          if (leadingF < 0) leadingF = static_cast<int32_t>(k);
        }
        if (insideRows(p.g, top)) {
          g = sampleColumn(pm + column, nx, lastRow, p.g);
          if (leadingG < 0) leadingG = static_cast<int32_t>(k);
        }
        samplesF[k] = f;
        samplesG[k] = g;
      }
      const int32_t none = static_cast<int32_t>(lanes_);
      leading_[2 * cell] = leadingF < 0 ? none : leadingF;
      leading_[2 * cell + 1] = leadingG < 0 ? none : leadingG;
    }
}

void UniformBoxTrials::prepareSlices(int32_t z) {
  const int32_t half = boxDims_.z / 2;
  if (nextSlice_ < 0) nextSlice_ = std::max(z - half, 0);
  const int32_t last = std::min(z + half, volumes_.v.nz() - 1);
  // Slice s takes the slot of slice s - slots, below every slice the box
  // around z reaches.
  for (; nextSlice_ <= last; ++nextSlice_) computeSlice(nextSlice_);
}

namespace {

// What summing the costs of one box needs (UniformBoxTrials::run).
struct BoxSums {
  const float* samples;
  const int32_t* leading;
  size_t lanes;  // of the table
  const float *F, *G, *leftF, *leftG;
  const uint32_t* firstCover;
  BoxRange r;
  int32_t nx, ny, slots;
  uint32_t ordinal;
};

// The costs of every shift over the box, kLanes shifts at a time, each
// block's sums in registers over the whole box.
template <int kLanes, typename Costs>
DAXO_LANES_INLINE void sumBox(const BoxSums& j, Costs& costs) {
  typedef typename Lanes<kLanes>::Floats Floats;
  typedef typename Lanes<kLanes>::Ints Ints;
  const size_t slicePlane = static_cast<size_t>(j.nx) * j.ny;
  Ints laneIndex;
  for (int i = 0; i < kLanes; ++i) laneIndex[i] = i;
  for (size_t block = 0; block < j.lanes; block += kLanes) {
    typename Costs::template Block<kLanes> sums;
    const int32_t b = static_cast<int32_t>(block);
    const Ints lane = laneIndex + b;
    for (int32_t z = j.r.z0; z <= j.r.z1; ++z) {
      const size_t first = static_cast<size_t>(z % j.slots) * slicePlane;
      for (int32_t y = j.r.y0; y <= j.r.y1; ++y) {
        const size_t rowCell = first + static_cast<size_t>(y) * j.nx;
        const size_t rowAt = static_cast<size_t>(z) * slicePlane + static_cast<size_t>(y) * j.nx;
        for (int32_t x = j.r.x0; x <= j.r.x1; ++x) {
          const size_t cell = rowCell + x;
          const float* cellF = j.samples + 2 * j.lanes * cell + block;
          Floats f, g;
          std::memcpy(&f, cellF, sizeof f);
          std::memcpy(&g, cellF + j.lanes, sizeof g);
          const int32_t leadingF = j.leading[2 * cell], leadingG = j.leading[2 * cell + 1];
          // Shifts before the first inside one leave the voxel's value as
          // the trials before this centre left it.
          if (leadingF > b || leadingG > b) {
            const size_t at = rowAt + x;
            const bool covered = j.firstCover[at] < j.ordinal;
            const float startF = covered ? j.leftF[at] : j.F[at], startG = covered ? j.leftG[at] : j.G[at];
            f = lane < leadingF ? Floats{} + startF : f;
            g = lane < leadingG ? Floats{} + startG : g;
          }
          sums.add(f, g);
        }
      }
    }
    costs.storeBlock(block, sums);
  }
}

// One entry per measure and width, each compiled for its instruction set.
void sumBox4(const BoxSums& j, SsdCosts& c) { sumBox<4>(j, c); }
void sumBox4(const BoxSums& j, CorrelationCosts& c) { sumBox<4>(j, c); }
#if DAXO_WIDE_LANES
__attribute__((target("avx2"))) void sumBox8(const BoxSums& j, SsdCosts& c) { sumBox<8>(j, c); }
__attribute__((target("avx2"))) void sumBox8(const BoxSums& j, CorrelationCosts& c) { sumBox<8>(j, c); }
__attribute__((target("avx512f"))) void sumBox16(const BoxSums& j, SsdCosts& c) { sumBox<16>(j, c); }
__attribute__((target("avx512f"))) void sumBox16(const BoxSums& j, CorrelationCosts& c) { sumBox<16>(j, c); }
#endif

template <typename Costs>
void sumBoxWithWidth(int width, const BoxSums& j, Costs& costs) {
#if DAXO_WIDE_LANES
  if (width == 16) return sumBox16(j, costs);
  if (width == 8) return sumBox8(j, costs);
#endif
  (void)width;
  sumBox4(j, costs);
}

}  // namespace

template <typename Costs>
void UniformBoxTrials::run(const Dimensions& centre, uint32_t ordinal, Costs& costs) {
  const Dimensions dims = volumes_.v.dimensions();
  const BoxRange r = clipBox(dims, centre, boxDims_);
  prepareSlices(centre.z);
  const BoxSums job{samples_.data(),
                    leading_.data(),
                    lanes_,
                    volumes_.F.data(),
                    volumes_.G.data(),
                    leftovers_.leftF.data(),
                    leftovers_.leftG.data(),
                    leftovers_.firstCover.data(),
                    r,
                    dims.x,
                    dims.y,
                    slots_,
                    ordinal};
  costs.reset();
  sumBoxWithWidth(width_, job, costs);
  const size_t count = static_cast<size_t>(r.x1 - r.x0 + 1) * static_cast<size_t>(r.y1 - r.y0 + 1) *
                       static_cast<size_t>(r.z1 - r.z0 + 1);
  costs.finish(count);
}

template void ListedBoxTrials::run(const VoxelList&, const VoxelList&, SsdCosts&);
template void ListedBoxTrials::run(const VoxelList&, const VoxelList&, CorrelationCosts&);
template void UniformBoxTrials::run(const Dimensions&, uint32_t, SsdCosts&);
template void UniformBoxTrials::run(const Dimensions&, uint32_t, CorrelationCosts&);

}  // namespace daxo
