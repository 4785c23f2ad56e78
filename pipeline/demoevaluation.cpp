#include "pipeline/demoevaluation.h"

#include <stdexcept>
#include <string>

#include "demodata/headvolumes.h"
#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"

namespace daxo::pipeline {

namespace {

Volume mapVolume(const std::string& path) {
  MapFile map;
  map.loadWithData(path);
  return std::move(map.volume);
}

// The first volume of a project, checked against the demo's extents.
template <typename Header>
Volume firstVolume(const std::string& path, const Dimensions& extents, int32_t* volumeCount = nullptr) {
  Header project;
  project.loadWithData(path);
  if (project.volumes.empty() || project.volumes.front().dimensions() != extents) {
    throw std::invalid_argument(path + " does not hold volumes of the demo's extents");
  }
  if (volumeCount != nullptr) *volumeCount = static_cast<int32_t>(project.volumes.size());
  return std::move(project.volumes.front());
}

}  // namespace

DemoFigures evaluateDemo(const DemoFiles& files, const DemoSettings& settings) {
  const Dimensions extents{settings.nx, settings.ny, settings.nz};
  const Volume head = headMask(settings);
  const Volume truth = mapVolume(files.trueMap());
  const Volume estimate = mapVolume(files.estimatedMap());
  if (truth.dimensions() != extents || estimate.dimensions() != extents) {
    throw std::invalid_argument("the maps in " + files.folder() + " do not have the demo's extents");
  }

  DemoFigures figures;
  figures.map = displacementError(estimate, truth, head);
  figures.uncorrected = displacementError(Volume(extents, 0.0f), truth, head);
  figures.pairBefore = maskedCorrelation(firstVolume<FMRHeader>(files.firstScan(), extents),
                                         firstVolume<FMRHeader>(files.secondScan(), extents), head);
  figures.pairAfter = maskedCorrelation(firstVolume<FMRHeader>(files.correctedFirstScan(), extents),
                                        firstVolume<FMRHeader>(files.correctedSecondScan(), extents), head);
  const Volume object = headObject(settings);
  figures.diffusionBefore = maskedCorrelation(firstVolume<DMRHeader>(files.diffusion(), extents), object, head);
  figures.diffusionAfter = maskedCorrelation(
      firstVolume<DMRHeader>(files.correctedDiffusion(), extents, &figures.diffusionVolumes), object, head);
  return figures;
}

}  // namespace daxo::pipeline
