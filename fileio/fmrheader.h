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

// A functional project: the ".fmr" text header and its ".stc" data file
// (directory of the header + Prefix + ".stc"), whose voxels are stored
// slice-major: for each slice, for each volume, one slice of
// ResolutionX x ResolutionY voxels, x fastest.
//
// The shared keys are the public members inherited from ProjectHeaderFields
// (header.nrOfVolumes.value and so on); callers may change values before
// saving, for instance blank loadAMRFile and clear showAMRFile.
class FMRHeader : public ProjectHeaderFields {
 public:
  std::string fileName;  // path of the ".fmr" file

  IntField nrOfLinkedProtocols;
  IntField multibandSequence;
  IntField sliceTimingTableSize;
  // In file order. The writer writes this list (its length, not the value of
  // SliceTimingTableSize) after "SliceTimingTableSize:" when that is above 0.
  std::vector<float> sliceTimingTable;

  // One volume per time point, extents (ResolutionX, ResolutionY, NrOfSlices);
  // empty when only the header was loaded.
  std::vector<Volume> volumes;

  // Reads the header at `path`. Unknown keys are passed over; a known key
  // whose number or 0/1 flag cannot be read throws ReadFileError "Bad value
  // in header " + path + ": " and the key with the text found (reading on
  // would drop every key after it); a header cut short keeps what was read.
  // Throws OpenFileError "Failed opening for reading: " + path. On any
  // failure this record is left unchanged.
  void loadHeader(const std::string& path) { load(path, ProjectParts::Header); }
  // The header and its data (loadData), with the errors of both.
  void loadWithData(const std::string& path) { load(path, ProjectParts::HeaderAndData); }

  // Replaces `volumes` with the data file's NrOfVolumes volumes. Throws
  // ReadFileError naming the header when its counts cannot describe data,
  // OpenFileError "Failed opening STC for reading: " + data path, and
  // ReadFileError naming the data file when it is shorter than the header
  // implies. `volumes` is unchanged on failure.
  void loadData();

  // The data file open for reading volume by volume, after the checks of
  // loadData up to and including its size check, with the same errors in
  // the same order (the memory check is not made: nothing is loaded).
  VolumeReader openVolumes() const;

  // The text header: CR LF line ends, known keys in fixed order with the
  // alignment they were read with; unknown keys are not kept. The line ends
  // are written as bytes, so `out` should be a binary stream.
  void writeHeader(std::ostream& out) const;

  // Writes the header to fileName and, when `volumes` is not empty, the data
  // file (NrOfVolumes then becomes the number of volumes; every volume must
  // have the header's extents). 16-bit data saturate at -32768 and 32767.
  // Throws WriteFileError; on failure the files on disk are unchanged.
  void save();

  // Saves the project under `newPath`: loads the data first when `volumes` is
  // empty, then sets fileName to newPath and the Prefix value to its file name
  // without extension, and saves. On failure fileName and Prefix are restored.
  // `newPath` may be the path the project was loaded from.
  void saveAs(const std::string& newPath);

  // saveAs with the NrOfVolumes volumes of the header supplied run by run by
  // `source` instead of `volumes`, which must be empty: see saveProject. The
  // files are the same as saveAs writes with those volumes.
  void saveAs(const std::string& newPath, const VolumeRunSource& source);

  // directoryOf(fileName) + Prefix value + ".stc".
  std::string dataFileName() const;

 private:
  void load(const std::string& path, ProjectParts parts);
  HeaderKeys keys() const;
  // loadData's checks and the opening of the data file into `in`.
  DataLayout openData(std::ifstream& in) const;
};

}  // namespace daxo
