#include "plugin/mapsaving.h"

#include <cstring>

#include "fileio/fileerrors.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "fileio/platformfile.h"
#include "fileio/stagedoutputfile.h"
#include "plugin/hostapi.h"
#include "volume/assertion.h"

namespace daxo {

namespace {

constexpr const char* kModule = "distcor";

// The map kind of a displacement map in the host's map record.
constexpr int32_t kDisplacementMapKind = 1;

// The host does not tell whether it saved the map, so the file is looked at:
// it must have been replaced or changed since `before` and read as a whole map
// of the extents saved. A failed save otherwise went unnoticed and the task
// went on (and said "Done.") with a missing, truncated or stale map.
void requireSavedMap(const std::string& fileName, const platform::FileIdentity& before, const Dimensions& extents) {
  const platform::FileIdentity after = platform::identityOf(fileName);
  const bool changed = after.known && (!before.known || !(after == before) || after.size != before.size ||
                                       after.modifiedNanoseconds != before.modifiedNanoseconds);
  if (!changed) throw WriteFileError("The host did not save the map file " + fileName);
  MapFile saved;
  try {
    saved.loadWithData(fileName);
  } catch (const IOError&) {
    throw WriteFileError("The host saved the map file " + fileName + " incompletely");
  }
  if (saved.volume.dimensions() != extents) {
    throw WriteFileError("The host saved the map file " + fileName + " with other extents than the map's");
  }
}

}  // namespace

std::string vdmMapName(const std::string& projectPath) {
  return withSuffix(withExtension(projectPath, "map"), kMapSuffix);
}

std::string vdmDerivMapName(const std::string& projectPath) {
  return withSuffix(withExtension(projectPath, "map"), kDerivativeMapSuffix);
}

void saveVolumeAsMap(const Volume& volume, bool transposed, float firstValue, float secondValue,
                     const std::string& fileName) {
  // The transposed copy is only made when needed; otherwise the volume is
  // read in place.
  Volume transposedCopy;
  if (transposed) transposedCopy = transposeXY(volume);
  const Volume& m = transposed ? transposedCopy : volume;
  // A link, pipe or device at the name, or one of the task's inputs, is
  // refused before the host is asked to write there.
  const std::string nameProblem = outputNameProblem(fileName);
  if (!nameProblem.empty()) throw WriteFileError("Cannot save map file " + fileName + ": " + nameProblem);

  requireHostFunction(hostApi().hvCreateMAPForCurrentFMR, "hvCreateMAPForCurrentFMR")();
  MapHeaderRecord header;
  std::memset(&header, 0, sizeof header);
  float** slices = requireHostFunction(hostApi().hvGetMAPOfCurrentFMR, "hvGetMAPOfCurrentFMR")(&header);

  const Dimensions dim = m.dimensions();
  check(slices != nullptr, kModule, 119, "slices != nullptr");
  check(dim.z == header.DimZ, kModule, 120, "dim.z == header.DimZ");
  check(dim.y == header.DimY, kModule, 121, "dim.y == header.DimY");
  check(dim.x == header.DimX, kModule, 122, "dim.x == header.DimX");

  // A slice of the host's map and a slice of the volume share their layout
  // (x fastest, then y).
  const size_t sliceValues = static_cast<size_t>(dim.x) * static_cast<size_t>(dim.y);
  for (int32_t z = 0; z < dim.z; ++z) {
    std::memcpy(slices[z], m.data() + static_cast<size_t>(z) * sliceValues, sliceValues * sizeof(float));
  }

  header.mapKind = kDisplacementMapKind;
  header.firstValue = firstValue;
  header.secondValue = secondValue;
  header.word28 = 0;
  requireHostFunction(hostApi().hvSetMAPParametersOfCurrentFMR, "hvSetMAPParametersOfCurrentFMR")(&header);
  const platform::FileIdentity before = platform::identityOf(fileName);
  requireHostFunction(hostApi().hvSaveMAPsOfCurrentFMR, "hvSaveMAPsOfCurrentFMR")(fileName.c_str());
  requireSavedMap(fileName, before, dim);
}

}  // namespace daxo
