#include "pipeline/outputnames.h"

#include <filesystem>
#include <system_error>

#include "fileio/nifti/bidssidecar.h"
#include "fileio/nifti/niftiimage.h"
#include "fileio/platformfile.h"
#include "fileio/stagedoutputfile.h"
#include "pipeline/requesterror.h"

namespace daxo::pipeline {

namespace fs = std::filesystem;

namespace {

// The absolute, lexically normal form of a name, its links in the folders
// resolved where they exist: two spellings of one missing file compare equal.
std::string normalName(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path, error);
  if (error) return fs::path(path).lexically_normal().string();
  const fs::path parent = fs::weakly_canonical(absolute.parent_path(), error);
  if (error) return absolute.lexically_normal().string();
  return (parent / absolute.filename()).lexically_normal().string();
}

}  // namespace

void checkOutputNames(const std::string& command, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& outputs) {
  std::vector<platform::FileIdentity> inputIds;
  std::vector<std::string> inputNames;
  for (const std::string& input : inputs) {
    inputIds.push_back(platform::identityOf(input));
    inputNames.push_back(normalName(input));
  }
  std::vector<std::string> outputNames;
  for (const std::string& output : outputs) {
    const std::string name = normalName(output);
    const platform::FileIdentity id = platform::identityOf(output);
    for (size_t k = 0; k < inputs.size(); ++k) {
      if (name == inputNames[k] || (id.known && id == inputIds[k])) {
        const std::string how = name == inputNames[k] ? "" : " (the same file under another name or a hard link)";
        throw RequestError(command + ": the output " + output + " would replace the input " + inputs[k] + how +
                           "; nothing was written");
      }
    }
    for (size_t k = 0; k < outputNames.size(); ++k) {
      if (name == outputNames[k]) {
        throw RequestError(command + ": two outputs are written to " + output + "; nothing was written");
      }
    }
    // A link, pipe, device or folder at the name; a file that may not be
    // written.
    const std::string problem = outputNameProblem(output);
    if (!problem.empty()) throw RequestError(command + ": cannot write " + output + ": " + problem);
    outputNames.push_back(name);
  }
}

std::vector<std::string> niftiInputFiles(const std::string& image) {
  std::vector<std::string> files;
  for (const std::string& beside : {sidecarPathOf(image), bvalPathOf(image), bvecPathOf(image)}) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(beside, error))) files.push_back(beside);
  }
  files.push_back(image);
  return files;
}

}  // namespace daxo::pipeline
