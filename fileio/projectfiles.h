#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "fileio/headerformat.h"
#include "fileio/paths.h"
#include "fileio/voxeldata.h"

namespace daxo {

// Writing a project's header and data file together (shared by FMR and DMR
// projects). Both go to temporary files first; the originals are replaced
// only after both were written in full, so a failure at any point (cannot
// create, disk full, I/O error) leaves the files on disk as they were and is
// thrown as a WriteFileError naming the file. This also makes it safe to save
// a project over the files it was loaded from.
struct ProjectOutput {
  std::string headerPath;
  std::function<void(std::ostream&)> writeHeader;
  // The data file; skipped when writeData is empty.
  std::string dataPath;
  std::function<void(std::ostream&)> writeData;
  // Message prefix (before dataPath) when the data file cannot be created.
  std::string dataCreateMessage;
};

// Throws WriteFileError: "Cannot Create file: " + headerPath,
// dataCreateMessage + dataPath, "Failed writing to file: " + path, each
// followed by ": " and the reason (the system's, or why the name was
// refused, see StagedOutputFile), or (when header and data would be one file)
// a message naming it.
void writeProjectFiles(const ProjectOutput& output);

// What a project header's load reads.
enum class ProjectParts { Header, HeaderAndData };

// Reads the project header at `path` by `keys` (the fresh record's),
// `afterRead` taking what follows a key (a table). Throws OpenFileError
// "Failed opening for reading: " + path, and ReadFileError "Bad value in
// header " + path + ": " and the problem for a value that cannot be read.
void readProjectHeader(const std::string& path, const HeaderKeys& keys, const AfterKeyRead& afterRead);

// The data file of a header: its directory, the prefix and the extension
// ("" prefix gives the directory followed by ".stc").
std::string dataFileNameOf(const std::string& headerPath, const std::string& prefix, const std::string& extension);

// Fills `volumes` with the volumes first .. first + volumes.size() - 1 of a
// project being written (the writer sizes the vector). Runs are asked for in
// order, each beginning where the one before ended; the vector may hold an
// earlier run, whose storage can be reused. Every volume must come back with
// the header's extents.
using VolumeRunSource = std::function<void(int32_t first, std::vector<Volume>& volumes)>;

// A run of writeVoxelDataInRuns holds about this many bytes of float voxels
// (at least one volume): long enough that slice-major files get several
// slices per write and the source's per-run costs are shared, short enough
// that two runs stay small beside a whole series.
constexpr size_t kRunBytes = size_t{16} << 20;

// Writes the data file of a checked layout from runs of a few volumes
// (`runBytes` of floats, at least one volume), so that memory holds two runs
// whatever the number of volumes: the next run is made by `source` (on the
// calling thread) while the previous one is written on another thread. The
// bytes are those writeVoxelData writes. `out` must be able to seek
// (StagedOutputFile's can) and be at the start of the data. An exception of
// `source`, or the assertion error of a volume of other extents, is rethrown
// once writing has stopped; write errors are left in the stream's state.
void writeVoxelDataInRuns(std::ostream& out, const DataLayout& layout, const VolumeRunSource& source,
                          size_t runBytes = kRunBytes);

// `save` of a project header (FMRHeader, DMRHeader): NrOfVolumes becomes the
// number of volumes when there are any, the volumes are checked against the
// header's extents, then header and data file are written together. With a
// `source` the header's `volumes` must be empty and its NrOfVolumes (at least
// 1) volumes come from the source instead (see writeVoxelDataInRuns); its
// counts must describe data (checkLayout), else ReadFileError naming the
// header before anything is written.
template <typename Header>
void saveProject(Header& header, VoxelOrder order, const std::string& dataCreateMessage,
                 const VolumeRunSource& source = {}) {
  ProjectOutput output;
  output.headerPath = header.fileName;
  output.dataPath = header.dataFileName();
  output.dataCreateMessage = dataCreateMessage;
  DataLayout layout;
  if (source) {
    layout = layoutOf(header, order);
    checkLayout(layout, header.fileName);
    requireStreamable(layout, header.volumes.size());
    output.writeData = [&](std::ostream& out) { writeVoxelDataInRuns(out, layout, source); };
  } else if (!header.volumes.empty()) {
    header.nrOfVolumes.value = static_cast<int32_t>(header.volumes.size());
    layout = layoutOf(header, order);
    checkVolumesMatch(layout, header.volumes);
    output.writeData = [&](std::ostream& out) { writeVoxelData(out, layout, header.volumes); };
  }
  output.writeHeader = [&](std::ostream& out) { header.writeHeader(out); };
  writeProjectFiles(output);
}

// Precondition of saving from a source: no volumes in memory and at least one
// announced. Throws std::logic_error (the assertion check) otherwise.
void requireStreamable(const DataLayout& layout, size_t volumesInMemory);

// `saveAs` of a project header: renames the project (fileName, and Prefix
// after the new file name; the key is added, quoted, when the header lacked
// it) and saves it with `save` (which calls saveProject). A failed save
// restores fileName and Prefix.
template <typename Header, typename Save>
void saveProjectAs(Header& header, const std::string& newPath, Save save) {
  const std::string oldFileName = header.fileName;
  const std::string oldPrefix = header.prefix.value;
  header.fileName = newPath;
  const bool oldPrefixPresent = header.prefix.present;
  const bool oldPrefixQuoted = header.prefix.quoted;
  header.prefix.value = stripExtension(fileNameOf(newPath));
  // A header without the key must get it: the copy's header would otherwise
  // name no data file, which readers take as the source's.
  if (!header.prefix.present) {
    header.prefix.present = true;
    header.prefix.quoted = true;
  }
  try {
    save();
  } catch (...) {
    header.fileName = oldFileName;
    header.prefix.value = oldPrefix;
    header.prefix.present = oldPrefixPresent;
    header.prefix.quoted = oldPrefixQuoted;
    throw;
  }
}

// `saveAs` of a project header with its volumes: loads the data when there
// are none, then saves under `newPath` as above.
template <typename Header>
void saveProjectAs(Header& header, const std::string& newPath) {
  if (header.volumes.empty()) header.loadData();
  saveProjectAs(header, newPath, [&] { header.save(); });
}

}  // namespace daxo
