#include <cstdint>
#include <limits>
#include <string>

#include "fileio/dmrheader.h"
#include "fileio/fmrheader.h"
#include "fileio/paths.h"
#include "plugin/hostapi.h"
#include "plugin/tasks.h"
#include "protocol/dialogkeys.h"

namespace daxo {

namespace {

// The path the user chose in the host's file chooser; empty when cancelled.
std::string chooseFile(const char* title, const char* filter) {
  const HvGetOpenFileNameFunction choose = requireHostFunction(hostApi().hvGetOpenFileName, "hvGetOpenFileName");
  char buffer[kHostTextBufferSize] = {};
  choose(title, "", filter, buffer);
  // The host terminates the text; a host that does not must not make us read
  // past the buffer.
  buffer[kHostTextBufferSize - 1] = '\0';
  return std::string(buffer);
}

void setIntParameter(const char* name, int32_t value) {
  requireHostFunction(hostApi().hvSetIntParameter, "hvSetIntParameter")(name, value);
}

void setStringParameter(const char* name, const std::string& value) {
  requireHostFunction(hostApi().hvSetStringParameter, "hvSetStringParameter")(name, value.c_str());
}

// The dialog counts volumes from 1, the header from 0. A nonsense header
// value at the top of the range stays at the top instead of overflowing.
int32_t oneBased(int32_t zeroBased) {
  if (zeroBased == std::numeric_limits<int32_t>::max()) return zeroBased;
  return zeroBased + 1;
}

}  // namespace

void runSelectFmrOrDmr(std::ostream& /*log*/) {
  const std::string path = chooseFile("Please select an FMR or DMR project.", "*.fmr *.dmr");
  if (hasExtension(path, "fmr")) {
    // The data are not needed to describe a functional project.
    FMRHeader project;
    project.loadHeader(path);
    setIntParameter(dialogkeys::kNrOfVolumes, project.nrOfVolumes.value);
    setIntParameter(dialogkeys::kDisplayVolume, 1);
  } else if (hasExtension(path, "dmr")) {
    // A diffusion project is read whole, so a missing or short data file is
    // reported when it is chosen rather than later.
    DMRHeader project;
    project.loadWithData(path);
    setIntParameter(dialogkeys::kNrOfVolumes, project.nrOfVolumes.value);
    setIntParameter(dialogkeys::kDisplayVolume, oneBased(project.displayVolume.value));
  }
  setStringParameter(dialogkeys::kFilename, path);
}

void runSelectVdm(std::ostream& /*log*/) {
  setStringParameter(dialogkeys::kFilename, chooseFile("Please select an VDM.", "*_vdm.map"));
}

}  // namespace daxo
