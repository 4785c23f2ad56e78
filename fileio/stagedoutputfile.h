#pragma once

#include <fstream>
#include <string>

namespace daxo {

// A binary output file that replaces its target only once it has been written
// in full. The content goes to a temporary file beside the target, which
// `commit` renames over it; a failure at any point leaves the target as it
// was (this is what makes saving a project over its own files safe). An
// existing target that is not a regular file (a device such as /dev/full, a
// pipe) is written in place instead. A symbolic link is followed: the file it
// points to is replaced and the link stays.
class StagedOutputFile {
 public:
  explicit StagedOutputFile(const std::string& target);
  ~StagedOutputFile();  // removes an uncommitted temporary
  StagedOutputFile(const StagedOutputFile&) = delete;
  StagedOutputFile& operator=(const StagedOutputFile&) = delete;

  // False when the output could not be created, or the target exists and may
  // not be written; callers report that with their own message.
  bool isOpen() const { return open_; }
  std::ostream& stream() { return out_; }

  // Flushes and closes the output. Throws WriteFileError "Failed writing to
  // file: " + target when anything written did not reach the file.
  void finish();
  // Puts the finished output in place of the target. Throws WriteFileError
  // "Cannot replace file: " + target when that fails; the target is then
  // unchanged.
  void commit();

 private:
  std::string target_;       // as given; used in messages
  std::string destination_;  // the file finally written (links resolved)
  std::string temporary_;    // "" when writing in place
  std::ofstream out_;
  bool open_ = false;
  bool finished_ = false;
  bool committed_ = false;
};

}  // namespace daxo
