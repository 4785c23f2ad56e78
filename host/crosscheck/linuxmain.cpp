// tesmarin-linux: the Linux twin of the Windows test host Tesmarin.exe. It
// writes the small input projects both use, and makes the same run on them
// with DAXO.so and the same plain FFT, for a bit-for-bit comparison with the
// run of DAXO.dll.
//
//   tesmarin-linux inputs FOLDER        writes the inputs into FOLDER (which exists)
//   tesmarin-linux run PLUGIN FOLDER    runs the tasks on the inputs in FOLDER
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "demodata/demosettings.h"
#include "fileio/fmrheader.h"
#include "fileio/projectfiles.h"
#include "host/crosscheck/scenario.h"
#include "host/pluginloader.h"
#include "pipeline/demofiles.h"
#include "pipeline/demoinputs.h"

namespace {

using namespace daxo;

// The demo's head at a size the plain transform handles in seconds.
DemoSettings tinySettings() {
  DemoSettings settings;
  // Square slices: a transposed copy keeps the header's extents.
  settings.nx = 24;
  settings.ny = 24;
  settings.nz = 12;
  settings.voxelMm = 10.0;
  settings.maxShiftVoxels = 2.0;
  settings.timePoints = 2;
  validateSettings(settings);
  return settings;
}

// A copy of the functional project `from` in `folder` under the name `to`,
// its volumes transposed in x and y when `transposed` (the pair then has its
// phase encoding along x, for the runs with "rllr").
void copyProject(const std::string& folder, const char* from, const char* to, bool transposed) {
  FMRHeader project;
  project.loadWithData(folder + "/" + from);
  if (transposed) {
    for (Volume& volume : project.volumes) volume = transposeXY(volume);
  }
  saveProjectAs(project, folder + "/" + to);
}

void writeInputs(const std::string& folder) {
  pipeline::writeDemoInputs(pipeline::DemoFiles(folder), tinySettings(), [](const std::string&) {});
  copyProject(folder, crosscheck::kFirstScan, crosscheck::kFirstScanAlongX, true);
  copyProject(folder, crosscheck::kSecondScan, crosscheck::kSecondScanAlongX, true);
  copyProject(folder, crosscheck::kFirstScan, crosscheck::kFirstScanCopy, false);
  copyProject(folder, crosscheck::kSecondScan, crosscheck::kSecondScanCopy, false);
}

class LinuxDriver : public crosscheck::PluginDriver {
 public:
  explicit LinuxDriver(TSHVPluginInterface& plugin) : plugin_(plugin) {}
  bool initPlugin() override { return plugin_.initPlugin(); }
  bool execute() override { return plugin_.execute(); }

 private:
  TSHVPluginInterface& plugin_;
};

int run(const std::string& pluginPath, const std::string& folderArgument) {
  const std::string folder = (std::filesystem::absolute(folderArgument) / "").string();
  const host::PluginLibrary library(pluginPath);
  std::ofstream transcript(folder + crosscheck::kTranscript, std::ios::binary);
  crosscheck::writePluginTexts(library.metadata(), transcript);
  host::PluginPointer plugin = library.createPlugin();
  LinuxDriver driver(*plugin);
  const bool clean = crosscheck::runScenario(driver, folder, transcript);
  plugin.reset();
  transcript.close();
  if (!transcript) {
    std::cerr << "tesmarin-linux: cannot write " << folder << crosscheck::kTranscript << "\n";
    return 1;
  }
  if (!clean) std::cerr << "tesmarin-linux: a task failed; see " << folder << crosscheck::kTranscript << "\n";
  return clean ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "inputs" && argc == 3) {
      writeInputs(argv[2]);
      return 0;
    }
    if (command == "run" && argc == 4) return run(argv[2], argv[3]);
    std::cerr << "usage: tesmarin-linux inputs FOLDER | tesmarin-linux run PLUGIN FOLDER\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "tesmarin-linux: " << e.what() << "\n";
    return 1;
  }
}
