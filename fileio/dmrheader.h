#pragma once

#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/headerfields.h"
#include "fileio/headerformat.h"
#include "fileio/projectfiles.h"
#include "fileio/projectheaderfields.h"
#include "fileio/volumereader.h"
#include "volume/volume.h"

namespace daxo {

// One diffusion-gradient direction (x, y, z) of the gradient table.
struct GradientDirection {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

// A diffusion project: the ".dmr" text header and its ".dwi" data file
// (directory of the header + Prefix + ".dwi"), whose voxels are stored
// volume-major: each whole volume in turn, x fastest, then y, then z
// (DataStorageFormat 3, the only layout read).
//
// The header format is that of FMRHeader with "DisplayVolume:" in place of
// "NrOfLinkedProtocols:", no slice-timing table, and the gradient keys and
// table after "FirstDataSourceFile:".
class DMRHeader : public ProjectHeaderFields {
 public:
  std::string fileName;  // path of the ".dmr" file

  IntField displayVolume;  // 0-based
  YesNoField gradientDirectionsVerified;
  IntField gradientXDirInterpretation;
  IntField gradientYDirInterpretation;
  IntField gradientZDirInterpretation;
  // When YES, the gradient table follows: one line "x y z b" per volume.
  YesNoField gradientInformationAvailable;

  // Parallel lists: entry i of bValues belongs to direction i.
  std::vector<GradientDirection> gradientDirections;
  std::vector<float> bValues;

  // One volume per diffusion volume, extents (ResolutionX, ResolutionY,
  // NrOfSlices); empty when only the header was loaded.
  std::vector<Volume> volumes;

  // As FMRHeader's. The gradient table is read when
  // "GradientInformationAvailable:" is YES and NrOfVolumes (read before it)
  // is above 0: up to NrOfVolumes entries of four numbers, keeping only
  // complete entries when the table ends early.
  void loadHeader(const std::string& path) { load(path, ProjectParts::Header); }
  void loadWithData(const std::string& path) { load(path, ProjectParts::HeaderAndData); }

  // As FMRHeader::loadData, with OpenFileError "Failed opening for reading: "
  // + data path, and ReadFileError "Can only read DataStorageFormat 3, Not "
  // + value for any other storage format (checked after opening the file).
  void loadData();

  // As FMRHeader::openVolumes, with the checks of this loadData.
  VolumeReader openVolumes() const;

  // As FMRHeader::writeHeader; the gradient table follows
  // "GradientInformationAvailable:" when that is YES.
  void writeHeader(std::ostream& out) const;

  // As FMRHeader::save, with WriteFileError "Failed opening for writing: " +
  // data path when the data file cannot be created. Always writes the
  // volume-major layout.
  void save();

  // As FMRHeader::saveAs.
  void saveAs(const std::string& newPath);
  void saveAs(const std::string& newPath, const VolumeRunSource& source);

  // directoryOf(fileName) + Prefix value + ".dwi".
  std::string dataFileName() const;

 private:
  void load(const std::string& path, ProjectParts parts);
  HeaderKeys keys() const;
  DataLayout openData(std::ifstream& in) const;
};

}  // namespace daxo
