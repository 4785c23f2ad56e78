#pragma once

#include <functional>
#include <ostream>
#include <string>

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

// The data file of a header: its directory, the prefix and the extension
// ("" prefix gives the directory followed by ".stc").
std::string dataFileNameOf(const std::string& headerPath, const std::string& prefix, const std::string& extension);

// `save` of a project header (FMRHeader, DMRHeader): NrOfVolumes becomes the
// number of volumes when there are any, the volumes are checked against the
// header's extents, then header and data file are written together.
template <typename Header>
void saveProject(Header& header, VoxelOrder order, const std::string& dataCreateMessage) {
  ProjectOutput output;
  output.headerPath = header.fileName;
  output.dataPath = header.dataFileName();
  output.dataCreateMessage = dataCreateMessage;
  DataLayout layout;
  if (!header.volumes.empty()) {
    header.nrOfVolumes.value = static_cast<int32_t>(header.volumes.size());
    layout = layoutOf(header, order);
    checkVolumesMatch(layout, header.volumes);
    output.writeData = [&](std::ostream& out) { writeVoxelData(out, layout, header.volumes); };
  }
  output.writeHeader = [&](std::ostream& out) { header.writeHeader(out); };
  writeProjectFiles(output);
}

// `saveAs` of a project header: loads the data when there are no volumes,
// renames the project (fileName, and Prefix after the new file name; the key
// is added, quoted, when the header lacked it) and saves it. A failed save
// restores fileName and Prefix.
template <typename Header>
void saveProjectAs(Header& header, const std::string& newPath) {
  if (header.volumes.empty()) header.loadData();
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
    header.save();
  } catch (...) {
    header.fileName = oldFileName;
    header.prefix.value = oldPrefix;
    header.prefix.present = oldPrefixPresent;
    header.prefix.quoted = oldPrefixQuoted;
    throw;
  }
}

}  // namespace daxo
