#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "volume/storage.h"

namespace daxo {

// Extents of a volume, a voxel coordinate (x, y, z), or a per-axis integer
// setting (padding widths, derivative orders).
struct Dimensions {
  int32_t x = 0;
  int32_t y = 0;
  int32_t z = 0;

  friend bool operator==(const Dimensions& a, const Dimensions& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
  friend bool operator!=(const Dimensions& a, const Dimensions& b) { return !(a == b); }
};

// An ordered list of voxel coordinates; list measures visit it in order.
using VoxelList = std::vector<Dimensions>;

// A single-precision 3-D volume. Voxel (x, y, z) is stored at
// x + nx * (y + ny * z): x fastest, then y, then z. No voxel size or
// orientation travels with it. In the data the system handles, y is the
// phase-encoding axis.
//
// Value semantics: copies are deep; a move takes the buffer and leaves the
// source with its extents but an empty (null) buffer. Fresh storage is
// uninitialised unless a fill value is given.
class Volume {
 public:
  Volume() = default;
  Volume(int32_t nx, int32_t ny, int32_t nz);
  Volume(int32_t nx, int32_t ny, int32_t nz, float value);
  explicit Volume(const Dimensions& d);
  Volume(const Dimensions& d, float value);
  Volume(const Volume& other);
  Volume(Volume&& other) noexcept = default;
  // Takes the source's dimensions and copies every voxel.
  Volume& operator=(const Volume& other);
  Volume& operator=(Volume&& other) noexcept = default;
  ~Volume() = default;

  int32_t nx() const { return nx_; }
  int32_t ny() const { return ny_; }
  int32_t nz() const { return nz_; }
  Dimensions dimensions() const { return {nx_, ny_, nz_}; }
  // nx * ny * nz; 0 for an empty volume.
  size_t voxelCount() const { return static_cast<size_t>(nx_) * static_cast<size_t>(ny_) * static_cast<size_t>(nz_); }
  size_t index(int32_t x, int32_t y, int32_t z) const {
    return static_cast<size_t>(x) +
           static_cast<size_t>(nx_) * (static_cast<size_t>(y) + static_cast<size_t>(ny_) * static_cast<size_t>(z));
  }

  // Unchecked element access; the coordinate must lie inside the extents.
  float& operator()(int32_t x, int32_t y, int32_t z) { return data_[index(x, y, z)]; }
  float operator()(int32_t x, int32_t y, int32_t z) const { return data_[index(x, y, z)]; }

  // The contiguous buffer in storage order (null for an empty volume).
  float* data() { return data_.get(); }
  const float* data() const { return data_.get(); }

  void fill(float value);

  // Changes the extents to d keeping the content centred: per axis the old
  // voxel x moves to x + (new - old) / 2 (truncating division); the rest is 0.
  // When the voxel count is unchanged the buffer is kept and simply read with
  // the new extents; a moved-from volume (no buffer) becomes all 0.
  void resizeCentred(const Dimensions& d);

  // Grows every axis by 2 * p on both sides, repeating the border voxels.
  void padReplicate(const Dimensions& p);

  Volume& operator*=(const Volume& b);
  Volume& operator*=(float s);

 private:
  // Copies other's voxels into this volume's buffer of the same voxel count.
  void copyVoxelsFrom(const Volume& other);

  int32_t nx_ = 0;
  int32_t ny_ = 0;
  int32_t nz_ = 0;
  FloatArray data_;
};

// Voxel-wise arithmetic over the left operand's voxels. A volume operand must
// have the same dimensions (not checked; the callers guarantee it).
Volume operator*(const Volume& a, const Volume& b);
Volume operator*(const Volume& a, float s);
Volume operator-(const Volume& a);  // flips the sign bit: 0 becomes -0
Volume operator+(const Volume& a, float s);

// New volume of extents (nx + 2 p.x, ny + 2 p.y, nz + 2 p.z) whose voxel
// (x, y, z) is v(clamp(x - p.x, 0, nx - 1), ...): the border voxels repeated
// outward. The source is not changed.
Volume padReplicated(const Volume& v, const Dimensions& p);

// New volume of extents (ny, nx, nz) with voxel (y, x, z) = source (x, y, z).
Volume transposeXY(const Volume& v);
// The same written into dst, whose storage is reused when it already has the
// transposed extents. dst must not be src.
void transposeXYInto(Volume& dst, const Volume& src);

// Central difference along y: (v(y+1) - v(y-1)) * 0.5 for y = 1 .. ny-2;
// the planes y = 0 and y = ny-1 are 0.
Volume derivativeY(const Volume& v);

}  // namespace daxo
