#include "fileio/projectfiles.h"

#include "fileio/fileerrors.h"
#include "fileio/paths.h"
#include "fileio/stagedoutputfile.h"

namespace daxo {

void writeProjectFiles(const ProjectOutput& output) {
  if (output.writeData && output.dataPath == output.headerPath) {
    throw WriteFileError("Header and data would be the same file: " + output.headerPath);
  }
  StagedOutputFile header(output.headerPath);
  if (!header.isOpen()) throw WriteFileError("Cannot Create file: " + output.headerPath + ": " + header.problem());
  output.writeHeader(header.stream());
  header.finish();
  if (output.writeData) {
    StagedOutputFile data(output.dataPath);
    if (!data.isOpen()) throw WriteFileError(output.dataCreateMessage + output.dataPath + ": " + data.problem());
    output.writeData(data.stream());
    data.commit();
  }
  header.commit();
}

std::string dataFileNameOf(const std::string& headerPath, const std::string& prefix, const std::string& extension) {
  return directoryOf(headerPath) + prefix + "." + extension;
}

}  // namespace daxo
