#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace daxo {

namespace platform {
class PendingFile;
}

// A binary output file that replaces its target only once it has been written
// in full. The content goes to a temporary file in the target's folder
// (unnamed where the file system allows it, else under a unique hidden name,
// so that concurrent writers never share one); `finish` forces it to the
// storage device and `commit` puts it in place of the target in one step. A
// failure at any point leaves the target as it was, and a run killed meanwhile
// leaves no partial file under the target's name (this is also what makes
// saving a project over its own files safe).
//
// The target's name must be free or a regular file that may be written: a
// symbolic link, a pipe, a device, a folder or a file that is one of the
// current task's inputs (see InputTracking) is refused, and nothing is
// written.
class StagedOutputFile {
 public:
  explicit StagedOutputFile(const std::string& target);
  ~StagedOutputFile();  // removes an uncommitted temporary
  StagedOutputFile(const StagedOutputFile&) = delete;
  StagedOutputFile& operator=(const StagedOutputFile&) = delete;

  // False when the output could not be created or the target was refused;
  // problem() then says why, and callers report it with their own message.
  bool isOpen() const { return open_; }
  // Why the output is not open or failed, in a few words ("No space left on
  // device", "it is a symbolic link").
  const std::string& problem() const { return problem_; }
  // The output. It can seek from the start of the file and from the write
  // position (seekp, tellp; not from the end); a position beyond what was
  // written leaves a gap that must be filled before the output is finished.
  // A failed seek fails the stream like a failed write.
  std::ostream& stream() { return out_; }

  // Flushes the output and forces it to the device. Throws WriteFileError
  // "Failed writing to file: " + target + ": " + reason when anything written
  // did not reach the file.
  void finish();
  // Puts the finished output in place of the target. Throws WriteFileError
  // "Cannot replace file: " + target + ": " + reason when that fails; the
  // target is then unchanged.
  void commit();

 private:
  class Buffer;

  std::string target_;
  std::unique_ptr<platform::PendingFile> file_;
  std::unique_ptr<Buffer> buffer_;
  std::ostream out_;
  std::string problem_;
  bool open_ = false;
  bool finished_ = false;
  bool committed_ = false;
};

// Why `target` may not be written as an output ("" when it may): see
// StagedOutputFile. Callers that have a file written by others (the host's
// map files) check the name with this first.
std::string outputNameProblem(const std::string& target);

}  // namespace daxo
