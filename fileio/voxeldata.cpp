#include "fileio/voxeldata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

#include "fileio/byteorder.h"
#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/platformfile.h"
#include "volume/assertion.h"

namespace daxo {

namespace {

const char* const kModule = "voxeldata";

// 16-bit voxels are converted through a buffer of at most this many voxels,
// so that blocks stay large without doubling the memory of a whole project.
const size_t kChunkVoxels = size_t{1} << 20;

std::string dimensionsText(const DataLayout& l) {
  return std::to_string(l.columns) + " x " + std::to_string(l.rows) + " x " + std::to_string(l.slices);
}

void readBytes(std::istream& in, void* out, size_t bytes, const std::string& dataPath) {
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(bytes));
  if (!in || static_cast<size_t>(in.gcount()) != bytes) {
    throw ReadFileError("Failed reading voxel data from " + dataPath);
  }
}

// Reads `count` voxels of the file's type into contiguous floats.
void readVoxels(std::istream& in, VoxelType type, float* out, size_t count, std::vector<int16_t>& buffer,
                const std::string& dataPath) {
  if (type == VoxelType::Float32) {
    readBytes(in, out, count * sizeof(float), dataPath);
    littleEndianToHost(out, count, sizeof(float));
    return;
  }
  for (size_t done = 0; done < count;) {
    const size_t n = std::min(kChunkVoxels, count - done);
    buffer.resize(n);
    readBytes(in, buffer.data(), n * sizeof(int16_t), dataPath);
    littleEndianToHost(buffer.data(), n, sizeof(int16_t));
    for (size_t i = 0; i < n; ++i) out[done + i] = static_cast<float>(buffer[i]);
    done += n;
  }
}

// Writes `count` contiguous floats as voxels of the file's type. Stops early
// once the stream has failed.
void writeVoxels(std::ostream& out, VoxelType type, const float* in, size_t count, std::vector<int16_t>& ints,
                 std::vector<float>& floats) {
  for (size_t done = 0; done < count && out;) {
    const size_t n = std::min(kChunkVoxels, count - done);
    if (type == VoxelType::Float32) {
      if (hostIsLittleEndian()) {
        out.write(reinterpret_cast<const char*>(in + done), static_cast<std::streamsize>(n * sizeof(float)));
      } else {
        floats.assign(in + done, in + done + n);
        littleEndianToHost(floats.data(), n, sizeof(float));
        out.write(reinterpret_cast<const char*>(floats.data()), static_cast<std::streamsize>(n * sizeof(float)));
      }
    } else {
      ints.resize(n);
      for (size_t i = 0; i < n; ++i) ints[i] = toStoredInt16(in[done + i]);
      littleEndianToHost(ints.data(), n, sizeof(int16_t));
      out.write(reinterpret_cast<const char*>(ints.data()), static_cast<std::streamsize>(n * sizeof(int16_t)));
    }
    done += n;
  }
}

// Calls piece(offset, volume, voxel, voxels) for every stretch of `voxels`
// contiguous voxels of the volumes first .. first + count - 1, in file order:
// `offset` is its first byte in the data file, `volume` the index within the
// run, `voxel` its first voxel within that volume. Volume-major: one piece
// per volume. Slice-major: for each slice, one piece per volume of the run;
// the run's pieces of a slice follow each other in the file. This is the one
// description of both orders.
template <typename Piece>
void forEachPiece(const DataLayout& layout, int32_t first, int32_t count, Piece piece) {
  // Without volumes the extents are unchecked (any layout of no volumes is
  // valid) and a slice's bytes need not fit 64 bits.
  if (count <= 0) return;
  const int64_t voxelBytes = static_cast<int64_t>(bytesPerVoxel(layout.voxelType));
  if (layout.order == VoxelOrder::VolumeMajor) {
    const size_t voxels = layout.voxelsPerVolume();
    const int64_t volumeBytes = static_cast<int64_t>(voxels) * voxelBytes;
    for (int32_t i = 0; i < count; ++i) piece((first + i) * volumeBytes, i, size_t{0}, voxels);
    return;
  }
  const size_t voxels = layout.voxelsPerSlice();
  const int64_t sliceBytes = static_cast<int64_t>(voxels) * voxelBytes;
  // Without voxels there is nothing to visit; the loop would still count
  // through up to 2^31 empty slices.
  if (voxels == 0) return;
  for (int32_t z = 0; z < layout.slices; ++z) {
    const int64_t sliceStart = static_cast<int64_t>(z) * layout.volumes + first;
    for (int32_t i = 0; i < count; ++i) {
      piece((sliceStart + i) * sliceBytes, i, voxels * static_cast<size_t>(z), voxels);
    }
  }
}

// Reads the run's voxels from a data file starting at `start` in the stream;
// `position` is the read position relative to `start` (-1: unknown). Seeks
// only where the next piece is not where reading stands.
void readRun(std::istream& in, std::streamoff start, int64_t position, const DataLayout& layout, int32_t first,
             Volume* volumes, int32_t count, const std::string& dataPath) {
  std::vector<int16_t> buffer;
  const int64_t voxelBytes = static_cast<int64_t>(bytesPerVoxel(layout.voxelType));
  forEachPiece(layout, first, count, [&](int64_t offset, int32_t volume, size_t voxel, size_t voxels) {
    if (offset != position && !in.seekg(start + static_cast<std::streamoff>(offset))) {
      throw ReadFileError("Failed reading voxel data from " + dataPath);
    }
    readVoxels(in, layout.voxelType, volumes[volume].data() + voxel, voxels, buffer, dataPath);
    position = offset + static_cast<int64_t>(voxels) * voxelBytes;
  });
}

// Writes the run's voxels into a data file starting at `start` in the
// stream; `position` as for readRun. Stops at the first failure, which is
// left in the stream's state.
void writeRun(std::ostream& out, std::streamoff start, int64_t position, const DataLayout& layout, int32_t first,
              const Volume* volumes, int32_t count) {
  std::vector<int16_t> ints;
  std::vector<float> floats;
  const int64_t voxelBytes = static_cast<int64_t>(bytesPerVoxel(layout.voxelType));
  forEachPiece(layout, first, count, [&](int64_t offset, int32_t volume, size_t voxel, size_t voxels) {
    if (!out) return;
    if (offset != position) out.seekp(start + static_cast<std::streamoff>(offset));
    writeVoxels(out, layout.voxelType, volumes[volume].data() + voxel, voxels, ints, floats);
    position = offset + static_cast<int64_t>(voxels) * voxelBytes;
  });
}

// Memory the volumes of a layout take once loaded: the float voxels and, per
// volume, its record and the allocator's bookkeeping (which dominates for tiny
// volumes: 2^31 volumes of one voxel need tens of gigabytes).
const uint64_t kBytesPerVolumeRecord = sizeof(Volume) + 64;

void requireMemoryFor(const DataLayout& layout, const std::string& dataPath) {
  const uint64_t available = platform::physicalMemoryBytes();
  if (available == 0) return;
  const uint64_t perVolume = static_cast<uint64_t>(layout.voxelsPerVolume()) * sizeof(float) + kBytesPerVolumeRecord;
  const uint64_t volumes = static_cast<uint64_t>(layout.volumes);
  if (volumes <= available / perVolume) return;
  const auto megabytes = [](uint64_t bytes) { return std::to_string(bytes / (uint64_t{1} << 20)) + " MB"; };
  const std::string needed =
      volumes > UINT64_MAX / perVolume ? std::string("more than 16 EB") : megabytes(volumes * perVolume);
  throw ReadFileError("Cannot load " + dataPath + ": " + std::to_string(layout.volumes) + " volumes of " +
                      dimensionsText(layout) + " voxels need " + needed + " of memory, more than this computer has (" +
                      megabytes(available) + ")");
}

}  // namespace

VoxelType voxelTypeOf(const IntField& dataType) {
  return dataType.present && dataType.value == 2 ? VoxelType::Float32 : VoxelType::Int16;
}

size_t bytesPerVoxel(VoxelType type) { return type == VoxelType::Float32 ? 4 : 2; }

int64_t DataLayout::fileBytes() const {
  return static_cast<int64_t>(voxelsPerVolume()) * volumes * static_cast<int64_t>(bytesPerVoxel(voxelType));
}

DataLayout layoutOf(const ProjectHeaderFields& header, VoxelOrder order) {
  DataLayout layout;
  layout.columns = header.resolutionX.value;
  layout.rows = header.resolutionY.value;
  layout.slices = header.nrOfSlices.value;
  layout.volumes = header.nrOfVolumes.value;
  layout.voxelType = voxelTypeOf(header.dataType);
  layout.order = order;
  return layout;
}

std::string layoutProblem(const DataLayout& l) {
  const struct {
    const char* key;
    int32_t value;
  } counts[] = {
      {"NrOfVolumes", l.volumes}, {"NrOfSlices", l.slices}, {"ResolutionX", l.columns}, {"ResolutionY", l.rows}};
  for (const auto& c : counts) {
    if (c.value < 0) return std::string(c.key) + " is " + std::to_string(c.value);
  }
  if (l.volumes == 0) return "";
  if (l.columns == 0 || l.rows == 0 || l.slices == 0) {
    return "NrOfVolumes is " + std::to_string(l.volumes) + " but each volume of " + dimensionsText(l) +
           " voxels is empty";
  }
  // Each factor is below 2^31, so columns * rows fits in 64 bits; the third
  // factor is checked before it is multiplied.
  const int64_t limit = std::numeric_limits<int32_t>::max();
  const int64_t slicePart = static_cast<int64_t>(l.columns) * l.rows;
  if (slicePart > limit || l.slices > limit / slicePart) {
    return "a volume of " + dimensionsText(l) + " voxels is too large";
  }
  const int64_t volumeBytes = slicePart * l.slices * static_cast<int64_t>(bytesPerVoxel(l.voxelType));
  if (l.volumes > std::numeric_limits<int64_t>::max() / volumeBytes) {
    return std::to_string(l.volumes) + " volumes of " + dimensionsText(l) + " voxels are too large";
  }
  return "";
}

void checkLayout(const DataLayout& layout, const std::string& headerPath) {
  const std::string problem = layoutProblem(layout);
  if (!problem.empty()) throw ReadFileError("Header values cannot describe data: " + headerPath + ": " + problem);
}

void requireDataBytes(std::istream& in, const DataLayout& layout, const std::string& dataPath) {
  const int64_t expected = layout.fileBytes();
  const int64_t actual = bytesLeft(in);
  if (actual >= 0 && actual < expected) {
    throw ReadFileError("Data file too short: " + dataPath + " has " + std::to_string(actual) +
                        " bytes, the header implies " + std::to_string(expected));
  }
}

std::vector<Volume> readVoxelData(std::istream& in, const DataLayout& layout, const std::string& dataPath) {
  requireDataBytes(in, layout, dataPath);
  requireMemoryFor(layout, dataPath);
  std::vector<Volume> volumes;
  try {
    volumes.reserve(static_cast<size_t>(layout.volumes));
    for (int32_t t = 0; t < layout.volumes; ++t) volumes.emplace_back(layout.columns, layout.rows, layout.slices);
  } catch (const std::bad_alloc&) {
    throw ReadFileError("Cannot load " + dataPath + ": not enough memory for " + std::to_string(layout.volumes) +
                        " volumes of " + dimensionsText(layout) + " voxels");
  }
  // The stream is at the start of the data, where the pieces begin: no seek.
  readRun(in, 0, 0, layout, 0, volumes.data(), layout.volumes, dataPath);
  return volumes;
}

void readVolumeRun(std::istream& in, std::streamoff start, const DataLayout& layout, int32_t first, Volume* volumes,
                   int32_t count, const std::string& dataPath) {
  const Dimensions extents{layout.columns, layout.rows, layout.slices};
  for (int32_t i = 0; i < count; ++i) {
    if (volumes[i].dimensions() != extents || volumes[i].data() == nullptr) volumes[i] = Volume(extents);
  }
  readRun(in, start, -1, layout, first, volumes, count, dataPath);
}

void checkVolumesMatch(const DataLayout& layout, const std::vector<Volume>& volumes) {
  check(volumes.size() == static_cast<size_t>(layout.volumes), kModule, 1, "volumes.size() == header NrOfVolumes");
  const Dimensions expected{layout.columns, layout.rows, layout.slices};
  for (const Volume& v : volumes) {
    check(v.dimensions() == expected, kModule, 2, "volume extents == header (ResolutionX, ResolutionY, NrOfSlices)");
  }
}

void writeVoxelData(std::ostream& out, const DataLayout& layout, const std::vector<Volume>& volumes) {
  checkVolumesMatch(layout, volumes);
  writeRun(out, 0, 0, layout, 0, volumes.data(), layout.volumes);
}

void writeVolumeRun(std::ostream& out, std::streamoff start, const DataLayout& layout, int32_t first,
                    const Volume* volumes, int32_t count) {
  const Dimensions expected{layout.columns, layout.rows, layout.slices};
  for (int32_t i = 0; i < count; ++i) {
    check(volumes[i].dimensions() == expected, kModule, 3,
          "volume extents == header (ResolutionX, ResolutionY, NrOfSlices)");
  }
  writeRun(out, start, -1, layout, first, volumes, count);
}

int16_t toStoredInt16(float value) {
  if (std::isnan(value)) return 0;
  if (value >= 32767.0f) return 32767;
  if (value <= -32768.0f) return -32768;
  return static_cast<int16_t>(static_cast<int32_t>(value));
}

}  // namespace daxo
