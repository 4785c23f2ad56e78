#include "pipeline/demoinputs.h"

#include "demodata/demoprojects.h"
#include "demodata/displacementfield.h"
#include "demodata/distortedscan.h"
#include "fileio/mapfile.h"
#include "fileio/paths.h"
#include "pipeline/requesterror.h"

namespace daxo::pipeline {

namespace {

// The display values of a displacement map, as the estimation saves them
// through the host.
constexpr float kMapFirstValue = 1.0f;
constexpr float kMapSecondValue = 5.0f;

void saveTrueMap(const std::string& path, const DemoSettings& settings, const std::string& reference) {
  saveMapFile(path, writtenMapFile(trueDisplacement(settings), kMapFirstValue, kMapSecondValue, reference));
}

}  // namespace

DemoSettings demoSettingsForSize(const std::string& size) {
  if (size == "full") return DemoSettings();
  if (size == "small") return smallDemoSettings();
  throw RequestError("demo: option --size needs 'small' or 'full', not '" + size + "'");
}

DemoSettings demoSettingsFor(const std::string& size, const std::string& field) {
  const DemoSettings settings = demoSettingsForSize(size);
  if (field == "standard") return settings;
  if (field == "strong") return withStrongField(settings);
  throw RequestError("demo: option --field needs 'standard' or 'strong', not '" + field + "'");
}

void writeDemoInputs(const DemoFiles& files, const DemoSettings& settings,
                     const std::function<void(const std::string&)>& log) {
  const std::string volumes = std::to_string(settings.timePoints) + " volumes";
  {
    log("Writing " + fileNameOf(files.firstScan()) + " (" + volumes + ") and " + fileNameOf(files.diffusion()) +
        " (b=0 and six directions)...");
    const DistortedAcquisition first(settings, PhaseDirection::First);
    saveFunctionalProject(files.firstScan(), settings, first.functionalSeries());
    saveDiffusionProject(files.diffusion(), settings, first.diffusionSeries(), diffusionGradients(settings));
  }
  {
    log("Writing " + fileNameOf(files.secondScan()) + " (" + volumes + ", opposite phase encoding)...");
    const DistortedAcquisition second(settings, PhaseDirection::Second);
    saveFunctionalProject(files.secondScan(), settings, second.functionalSeries());
  }
  log("Writing the true displacement map " + fileNameOf(files.trueMap()) + "...");
  saveTrueMap(files.trueMap(), settings, stripExtension(fileNameOf(files.firstScan())));
}

}  // namespace daxo::pipeline
