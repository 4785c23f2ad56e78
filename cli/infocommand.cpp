#include <climits>
#include <string>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "fileio/filesummary.h"
#include "fileio/nifti/niftiimage.h"
#include "pipeline/niftiinfo.h"

namespace daxo::cli {

namespace {

// Reads headers only, without the plugin. A file that cannot be read is
// reported and the others are still described.
int runInfo(CommandContext& context, const Arguments& arguments) {
  int status = kExitSuccess;
  bool first = true;
  for (const std::string& path : arguments.positionals()) {
    try {
      size_t problems = 0;
      const std::string summary =
          isNiftiPath(path) ? pipeline::describeNifti(path, &problems) : summarizeFile(path, &problems);
      if (!first) context.console.out() << "\n";
      context.console.out() << summary << std::flush;
      first = false;
      if (problems > 0) status = kExitFailure;
    } catch (const std::exception& e) {
      context.console.err() << "daxo: info: " << e.what() << std::endl;
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace

extern const Command infoCommand;
const Command infoCommand{"info",
                          "describe NIfTI images, projects and map files",
                          "Usage: daxo info FILE...\n"
                          "\n"
                          "Describes each FILE: an FMR project (.fmr), a DMR project (.dmr), a\n"
                          "map file (.map) or a NIfTI image (.nii, .nii.gz). Prints its kind,\n"
                          "extents, number of volumes, voxel size, data type and whether its data\n"
                          "file is complete, and lists header values that make no sense on\n"
                          "\"Problem:\" lines. For a NIfTI image also its scaling and orientation,\n"
                          "and from the BIDS files beside it the phase encoding, the readout time\n"
                          "and the b=0 volumes; what an estimation would miss is a \"Problem:\".\n"
                          "Only headers are read.\n",
                          {},
                          "Exit status: 0 every file described without a problem, 1 a file could\n"
                          "not be read or has a problem (a \"Problem:\" line, a missing or incomplete\n"
                          "data file; the others are still described), 2 bad command line.\n"
                          "\n"
                          "Example:\n"
                          "  daxo info sub01/run1.fmr sub01/run1_vdm.map\n"
                          "  daxo info sub-01/dwi/sub-01_dir-AP_dwi.nii.gz\n",
                          1,
                          SIZE_MAX,
                          runInfo};

}  // namespace daxo::cli
