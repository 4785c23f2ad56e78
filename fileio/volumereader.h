#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fileio/voxeldata.h"
#include "volume/volume.h"

namespace daxo {

// A project's data file open for reading single volumes or runs of volumes,
// so that a series can be processed with a few volumes in memory whatever
// its length. Made by FMRHeader::openVolumes and DMRHeader::openVolumes,
// which make loadData's checks up front.
class VolumeReader {
 public:
  // Takes `in` open at the start of the data file `dataPath` of a checked
  // layout and compares the file's size with the layout as readVoxelData
  // does (ReadFileError "Data file too short: ..."); nothing else is read.
  VolumeReader(std::ifstream in, const DataLayout& layout, std::string dataPath);

  const DataLayout& layout() const { return layout_; }
  int32_t volumeCount() const { return layout_.volumes; }
  // (ResolutionX, ResolutionY, NrOfSlices).
  Dimensions extents() const { return {layout_.columns, layout_.rows, layout_.slices}; }
  const std::string& dataPath() const { return dataPath_; }

  // Reads the volumes first .. first + volumes.size() - 1 (see
  // readVolumeRun; the storage of volumes of the right extents is reused).
  // Throws std::logic_error (the assertion check) when the run does not lie
  // within the file's volumes, ReadFileError naming the data file when it
  // cannot be read.
  void read(int32_t first, std::vector<Volume>& volumes);

 private:
  std::ifstream in_;
  DataLayout layout_;
  std::string dataPath_;
  std::streamoff start_ = 0;
};

}  // namespace daxo
