#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/affine.h"
#include "volume/volume.h"

// NIfTI-1 and NIfTI-2 images (.nii, .nii.gz), read and written through
// nifti_clib. Voxel axes i, j, k are a Volume's x, y, z; the fourth axis
// counts volumes. Values are handed out as floats with the file's scaling
// applied (value = scl_slope * stored + scl_inter; a slope of 0 or a
// non-finite one means unscaled, as the format says).

namespace daxo {

// How a written image stores its values.
enum class NiftiStorage {
  LikeSource,  // the source's data type and scaling, rounded and saturated
  Float32,     // 32-bit floats, unscaled
};

class NiftiImage {
 public:
  // Reads the header of `path`. Throws OpenFileError when the file cannot be
  // opened, ReadFileError naming the file when it holds no NIfTI header, more
  // than four dimensions, a data type other than real scalars, voxel sizes
  // that are not positive and finite, or (uncompressed) fewer data bytes than
  // the header describes.
  static NiftiImage open(const std::string& path);

  // A new image of `volumes` volumes of `extents` with the given voxel size
  // (mm) and affine, stored as `datatype` (a NIfTI DT_ code) with the given
  // scaling, as NIfTI-2 when `nifti2` is set; it has no file until written.
  // For the tests and the demo data.
  static NiftiImage create(const Dimensions& extents, int32_t volumes, const std::array<double, 3>& voxelSize,
                           const Affine& affine, int datatype, double slope = 1.0, double inter = 0.0,
                           bool nifti2 = false);

  NiftiImage(NiftiImage&&) noexcept;
  NiftiImage& operator=(NiftiImage&&) noexcept;
  NiftiImage(const NiftiImage&) = delete;
  NiftiImage& operator=(const NiftiImage&) = delete;
  ~NiftiImage();

  const std::string& path() const { return path_; }
  Dimensions extents() const;
  int32_t volumeCount() const;
  std::array<double, 3> voxelSize() const;  // mm along i, j, k
  // The sform when its code is set, else the qform when its code is set,
  // else the voxel sizes on the diagonal.
  Affine affine() const;
  // The directions the voxel axes i, j, k point to, as three letters of
  // R/L, A/P, S/I ("LAS": i toward the left, j anterior, k superior); "" for
  // an affine without orientation.
  std::string orientationCode() const;
  int sformCode() const;
  int qformCode() const;
  int datatype() const;
  std::string datatypeName() const;  // "INT16", "FLOAT32", ...
  double sclSlope() const;
  double sclInter() const;
  bool isNifti2() const;
  double repetitionTime() const;  // pixdim[4] in the file's time units
  std::string description() const;

  // Reads the listed volumes (0-based) in one pass over the file and returns
  // them scaled, in the order listed. Throws std::out_of_range for an index
  // outside [0, volumeCount()) and ReadFileError naming the file when the
  // data cannot be read in full.
  std::vector<Volume> readVolumes(const std::vector<int32_t>& which) const;
  Volume readVolume(int32_t t) const { return std::move(readVolumes({t}).front()); }
  std::vector<Volume> readAllVolumes() const;

  struct Header;  // the nifti_clib header, defined in niftiimage.cpp
  const Header& header() const { return *header_; }

 private:
  NiftiImage(std::string path, std::unique_ptr<Header> header);

  std::string path_;
  std::unique_ptr<Header> header_;
};

// Reads a NIfTI image's volumes in order, one at a time, from one open file
// (a compressed file is decompressed once, whatever the number of volumes),
// so a series of any length needs only the volume at hand in memory.
class NiftiVolumeReader {
 public:
  // Throws OpenFileError naming the file when it cannot be opened. The image
  // must outlive the reader.
  explicit NiftiVolumeReader(const NiftiImage& image);
  ~NiftiVolumeReader();
  NiftiVolumeReader(const NiftiVolumeReader&) = delete;
  NiftiVolumeReader& operator=(const NiftiVolumeReader&) = delete;

  // Volumes not read yet.
  int32_t remaining() const;
  // The next volume, scaled, written into `v` (resized to the image's
  // extents when needed). Throws ReadFileError naming the file when the data
  // end early, and std::out_of_range when no volume is left.
  void next(Volume& v);

 private:
  struct Input;
  std::unique_ptr<Input> in_;
};

// Writes a NIfTI file volume by volume, so a series of any length needs only
// the volume at hand in memory. The header is `like`'s (affine, units,
// repetition time, intent, description, NIfTI-1 or -2) with the volume count
// and the storage changed; the file type follows `path` (".nii" or
// ".nii.gz", compressed at zlib's level 1). The content goes to a temporary
// file beside `path`, unnamed where the file system allows it (see
// platform::PendingFile), that `finish` forces to the device and puts in
// place of `path` in one step, so no half-written file ever carries the
// final name, a killed run leaves nothing, and an earlier file of that name
// survives every failure.
class NiftiWriter {
 public:
  // Throws WriteFileError naming `path` when the output cannot be created.
  NiftiWriter(const std::string& path, const NiftiImage& like, int32_t volumes, NiftiStorage storage,
              const std::string& description = "");
  ~NiftiWriter();  // removes an unfinished temporary
  NiftiWriter(const NiftiWriter&) = delete;
  NiftiWriter& operator=(const NiftiWriter&) = delete;

  // Appends one volume of the image's extents. Stored integers are rounded
  // half away from zero and saturated to the type's range; NaN is stored as
  // 0. Throws WriteFileError naming the file on a failed write, and
  // std::invalid_argument for a volume of other extents or one too many.
  void write(const Volume& volume);
  // Closes the output and puts it in place. Throws WriteFileError naming the
  // file when fewer volumes than announced were written or anything failed.
  void finish();

 private:
  struct Output;
  std::unique_ptr<Output> out_;
};

// Writes all of `volumes` at once (see NiftiWriter).
void writeNifti(const std::string& path, const NiftiImage& like, const std::vector<Volume>& volumes,
                NiftiStorage storage, const std::string& description = "");

// True for names ending in ".nii" or ".nii.gz" (any case).
bool isNiftiPath(const std::string& path);
// The name without ".nii" or ".nii.gz": "dir/sub-01_dwi.nii.gz" -> "dir/sub-01_dwi".
std::string niftiStem(const std::string& path);

}  // namespace daxo
