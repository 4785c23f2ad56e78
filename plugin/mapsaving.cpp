#include "plugin/mapsaving.h"

#include <cstring>

#include "fileio/paths.h"
#include "plugin/hostapi.h"
#include "volume/assertion.h"

namespace daxo {

namespace {

constexpr const char* kModule = "distcor";

// The map kind of a displacement map in the host's map record.
constexpr int32_t kDisplacementMapKind = 1;

}  // namespace

std::string vdmMapName(const std::string& projectPath) { return withSuffix(withExtension(projectPath, "map"), "_vdm"); }

std::string vdmDerivMapName(const std::string& projectPath) {
  return withSuffix(withExtension(projectPath, "map"), "_vdmderiv");
}

void saveVolumeAsMap(const Volume& volume, bool transposed, float firstValue, float secondValue,
                     const std::string& fileName) {
  // The transposed copy is only made when needed; otherwise the volume is
  // read in place.
  Volume transposedCopy;
  if (transposed) transposedCopy = transposeXY(volume);
  const Volume& m = transposed ? transposedCopy : volume;

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
  requireHostFunction(hostApi().hvSaveMAPsOfCurrentFMR, "hvSaveMAPsOfCurrentFMR")(fileName.c_str());
}

}  // namespace daxo
