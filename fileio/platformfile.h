#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The few operating-system services that safe output files need, behind one
// small interface. Everything system-specific lives in platformfile_posix.cpp
// (another system supplies its own implementation of this header); the rest
// of fileio uses only what is declared here.

namespace daxo::platform {

// What a path names, without following a final symbolic link.
enum class PathKind { Missing, Regular, Directory, SymbolicLink, Fifo, Device, Socket, Other };

// Kind of `path`; Missing also when it cannot be examined.
PathKind pathKindOf(const std::string& path);

// Device and file number of the file a path names (links followed), with its
// size and time of last change; `known` is false when it does not exist or
// cannot be examined. Two identities are equal when they name the same file.
struct FileIdentity {
  bool known = false;
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modifiedNanoseconds = 0;
  bool operator==(const FileIdentity& o) const { return known && o.known && device == o.device && inode == o.inode; }
};
FileIdentity identityOf(const std::string& path);

// The system's text for the error code of the last failed call, e.g.
// "No space left on device".
std::string lastErrorText();

// Bytes of physical memory; 0 when it cannot be told.
uint64_t physicalMemoryBytes();

// A file written beside its final name and put in place only when complete.
// It is created without a name where the file system allows it (a run killed
// meanwhile then leaves nothing behind), otherwise under a unique hidden name
// in the target's folder, so that concurrent writers never share a temporary.
// Every member returns false on failure and keeps the system's reason in
// error(); a PendingFile that is destroyed unpublished removes its temporary.
class PendingFile {
 public:
  PendingFile() = default;
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  // Creates the temporary in the folder of `target`.
  bool create(const std::string& target);
  // Writes all `bytes` at the write position, which moves past them.
  bool write(const char* data, size_t bytes);
  // Moves the write position to `offset` bytes from the start. A position
  // beyond the end is allowed: writing there extends the file, and bytes
  // not yet written in between must be written before the file is published.
  bool seek(uint64_t offset);
  // Asks the system to start writing what was written so far to the storage
  // device without waiting for it, so that the final sync has less left to
  // do. Only a hint: systems without it do nothing.
  void startWriteback();
  // Forces the content to the storage device.
  bool sync();
  // Replaces `target` with the file in one step (an existing target is never
  // seen half-replaced), keeping the permissions of a replaced regular file.
  bool publish();
  const std::string& error() const { return error_; }

 private:
  void discard();

  std::string target_;
  std::string temporaryName_;  // "" while the file has no name
  intptr_t handle_ = -1;
  bool published_ = false;
  std::string error_;
};

}  // namespace daxo::platform
