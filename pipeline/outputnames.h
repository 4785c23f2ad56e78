#pragma once

#include <string>
#include <vector>

// The one rule for every file a job opens for writing: an output is never
// one of the job's inputs (compared by device and file number, so hard links
// and other spellings of a name count as the same file), never written
// through a symbolic link, a pipe (FIFO), a device or a folder, and no two
// outputs of one job share a file. A job checks all its names with
// checkOutputNames before it writes anything.

namespace daxo::pipeline {

// Refuses (RequestError, "COMMAND: OUTPUT ...: reason") the first output name
// of `outputs` that is the same file as, or the same name as, one of
// `inputs` (which need not exist; missing ones are compared by name), that is
// not free or a regular file, or that another output also names. Nothing is
// written or created.
void checkOutputNames(const std::string& command, const std::vector<std::string>& inputs,
                      const std::vector<std::string>& outputs);

// The files read beside a NIfTI image that exist: its sidecar (.json) and its
// .bval and .bvec, followed by the image itself.
std::vector<std::string> niftiInputFiles(const std::string& image);

}  // namespace daxo::pipeline
