#include "volume/volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "volume/storage.h"

namespace daxo {

namespace {

FloatArray allocateVolume(int32_t nx, int32_t ny, int32_t nz) {
  return allocateFloats(checkedElementCount(nx, ny, nz));
}

}  // namespace

Volume::Volume(int32_t nx, int32_t ny, int32_t nz) : nx_(nx), ny_(ny), nz_(nz), data_(allocateVolume(nx, ny, nz)) {}

Volume::Volume(int32_t nx, int32_t ny, int32_t nz, float value) : Volume(nx, ny, nz) { fill(value); }

Volume::Volume(const Dimensions& d) : Volume(d.x, d.y, d.z) {}

Volume::Volume(const Dimensions& d, float value) : Volume(d.x, d.y, d.z, value) {}

Volume::Volume(const Volume& other) : Volume(other.nx_, other.ny_, other.nz_) { copyVoxelsFrom(other); }

Volume& Volume::operator=(const Volume& other) {
  if (this == &other) return *this;
  // Same result as resizing centred to the source's dimensions and copying
  // every voxel, without filling storage that is overwritten at once.
  if (voxelCount() != other.voxelCount() || !data_) {
    data_ = allocateVolume(other.nx_, other.ny_, other.nz_);
  }
  nx_ = other.nx_;
  ny_ = other.ny_;
  nz_ = other.nz_;
  copyVoxelsFrom(other);
  return *this;
}

void Volume::copyVoxelsFrom(const Volume& other) {
  if (!data_) return;
  // A moved-from source has extents but no buffer; its copy reads as zeros
  // rather than as uninitialised memory.
  if (other.data_) {
    std::memcpy(data_.get(), other.data_.get(), voxelCount() * sizeof(float));
  } else {
    fill(0.0f);
  }
}

void Volume::fill(float value) {
  if (data_) std::fill_n(data_.get(), voxelCount(), value);
}

void Volume::resizeCentred(const Dimensions& d) {
  const size_t newCount = static_cast<size_t>(checkedElementCount(d.x, d.y, d.z));
  // A moved-from volume has extents but no buffer: it gets one of zeros.
  if (newCount == voxelCount() && (data_ || newCount == 0)) {
    nx_ = d.x;
    ny_ = d.y;
    nz_ = d.z;
    return;
  }
  FloatArray fresh = allocateFloats(static_cast<int32_t>(newCount));
  // When no axis grows every new voxel receives an old one; otherwise the
  // uncovered border stays 0.
  const bool covered = data_ && d.x <= nx_ && d.y <= ny_ && d.z <= nz_;
  if (fresh && !covered) std::fill_n(fresh.get(), newCount, 0.0f);
  const int32_t ox = (d.x - nx_) / 2;
  const int32_t oy = (d.y - ny_) / 2;
  const int32_t oz = (d.z - nz_) / 2;
  // Range of old indices whose shifted position lies inside the new extents.
  const int32_t x0 = std::max(0, -ox), x1 = std::min(nx_, d.x - ox);
  const int32_t y0 = std::max(0, -oy), y1 = std::min(ny_, d.y - oy);
  const int32_t z0 = std::max(0, -oz), z1 = std::min(nz_, d.z - oz);
  if (data_ && fresh && x1 > x0) {
    for (int32_t z = z0; z < z1; ++z) {
      for (int32_t y = y0; y < y1; ++y) {
        const float* from = &data_[index(x0, y, z)];
        float* to = &fresh[static_cast<size_t>(x0 + ox) +
                           static_cast<size_t>(d.x) *
                               (static_cast<size_t>(y + oy) + static_cast<size_t>(d.y) * static_cast<size_t>(z + oz))];
        std::memcpy(to, from, static_cast<size_t>(x1 - x0) * sizeof(float));
      }
    }
  }
  nx_ = d.x;
  ny_ = d.y;
  nz_ = d.z;
  data_ = std::move(fresh);
}

void Volume::padReplicate(const Dimensions& p) { *this = padReplicated(*this, p); }

Volume padReplicated(const Volume& v, const Dimensions& p) {
  const int32_t nx0 = v.nx(), ny0 = v.ny(), nz0 = v.nz();
  // Extents formed in 64 bits: a width that would overflow the 32-bit extent
  // fails like any other impossible size.
  const int64_t wideX = int64_t{nx0} + 2 * int64_t{p.x};
  const int64_t wideY = int64_t{ny0} + 2 * int64_t{p.y};
  const int64_t wideZ = int64_t{nz0} + 2 * int64_t{p.z};
  checkedElementCount(wideX, wideY, wideZ);
  const int32_t nx = static_cast<int32_t>(wideX), ny = static_cast<int32_t>(wideY), nz = static_cast<int32_t>(wideZ);
  Volume padded(nx, ny, nz);
  if (v.voxelCount() == 0 || !v.data()) {
    // Nothing to repeat: an empty source pads with zeros.
    padded.fill(0.0f);
    return padded;
  }
  float* out = padded.data();
  for (int32_t z = 0; z < nz; ++z) {
    const int32_t sz = std::clamp(z - p.z, 0, nz0 - 1);
    for (int32_t y = 0; y < ny; ++y) {
      const int32_t sy = std::clamp(y - p.y, 0, ny0 - 1);
      const float* row = v.data() + v.index(0, sy, sz);
      if (p.x >= 0) {
        // Repeated first value, the row itself, repeated last value.
        out = std::fill_n(out, p.x, row[0]);
        out = std::copy_n(row, nx0, out);
        out = std::fill_n(out, p.x, row[nx0 - 1]);
      } else {
        for (int32_t x = 0; x < nx; ++x) *out++ = row[std::clamp(x - p.x, 0, nx0 - 1)];
      }
    }
  }
  return padded;
}

Volume& Volume::operator*=(const Volume& b) {
  const size_t n = voxelCount();
  float* a = data_.get();
  const float* bb = b.data();
  for (size_t i = 0; i < n; ++i) a[i] *= bb[i];
  return *this;
}

Volume& Volume::operator*=(float s) {
  const size_t n = voxelCount();
  float* a = data_.get();
  for (size_t i = 0; i < n; ++i) a[i] *= s;
  return *this;
}

Volume operator*(const Volume& a, const Volume& b) {
  Volume r(a.dimensions());
  const size_t n = a.voxelCount();
  const float *pa = a.data(), *pb = b.data();
  float* pr = r.data();
  for (size_t i = 0; i < n; ++i) pr[i] = pa[i] * pb[i];
  return r;
}

Volume operator*(const Volume& a, float s) {
  Volume r(a.dimensions());
  const size_t n = a.voxelCount();
  const float* pa = a.data();
  float* pr = r.data();
  for (size_t i = 0; i < n; ++i) pr[i] = pa[i] * s;
  return r;
}

Volume operator-(const Volume& a) {
  Volume r(a.dimensions());
  const size_t n = a.voxelCount();
  const float* pa = a.data();
  float* pr = r.data();
  for (size_t i = 0; i < n; ++i) pr[i] = -pa[i];
  return r;
}

Volume operator+(const Volume& a, float s) {
  Volume r(a.dimensions());
  const size_t n = a.voxelCount();
  const float* pa = a.data();
  float* pr = r.data();
  for (size_t i = 0; i < n; ++i) pr[i] = pa[i] + s;
  return r;
}

Volume transposeXY(const Volume& v) {
  Volume t;
  transposeXYInto(t, v);
  return t;
}

void transposeXYInto(Volume& dst, const Volume& src) {
  const Dimensions transposed{src.ny(), src.nx(), src.nz()};
  if (dst.dimensions() != transposed || dst.data() == nullptr) dst = Volume(transposed);
  for (int32_t z = 0; z < src.nz(); ++z) {
    for (int32_t y = 0; y < src.ny(); ++y) {
      const float* row = src.data() + src.index(0, y, z);
      for (int32_t x = 0; x < src.nx(); ++x) dst(y, x, z) = row[x];
    }
  }
}

Volume derivativeY(const Volume& v) {
  Volume d(v.dimensions(), 0.0f);
  const int32_t nx = v.nx(), ny = v.ny(), nz = v.nz();
  for (int32_t z = 0; z < nz; ++z) {
    for (int32_t y = 1; y < ny - 1; ++y) {
      const float* up = &v.data()[v.index(0, y + 1, z)];
      const float* down = &v.data()[v.index(0, y - 1, z)];
      float* out = &d.data()[d.index(0, y, z)];
      for (int32_t x = 0; x < nx; ++x) out[x] = (up[x] - down[x]) * 0.5f;
    }
  }
  return d;
}

}  // namespace daxo
