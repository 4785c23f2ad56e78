// The POSIX (Linux) implementation of fileio/platformfile.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

#include "fileio/platformfile.h"

namespace daxo::platform {

namespace {

// The folder part of a path ("." when there is none), and its file name.
std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Hidden, and recognisable as ours should a crash leave one behind.
std::string temporaryPrefix(const std::string& target) {
  const std::string folder = folderOf(target);
  return (folder == "/" ? "" : folder) + "/." + baseNameOf(target) + ".daxo-partial-";
}

// A name no other writer uses: process number, a counter and the clock.
std::string uniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(static_cast<unsigned long long>(ticks) % 1000000007ull);
}

mode_t currentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::string errorText(int code) { return std::strerror(code); }

// fsync of the folder, so that the new name survives a power cut. Some file
// systems cannot sync a folder; the file itself is already on the device.
void syncFolderOf(const std::string& path) {
  const int fd = open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

PathKind pathKindOf(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return PathKind::Missing;
  if (S_ISREG(st.st_mode)) return PathKind::Regular;
  if (S_ISDIR(st.st_mode)) return PathKind::Directory;
  if (S_ISLNK(st.st_mode)) return PathKind::SymbolicLink;
  if (S_ISFIFO(st.st_mode)) return PathKind::Fifo;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return PathKind::Device;
  if (S_ISSOCK(st.st_mode)) return PathKind::Socket;
  return PathKind::Other;
}

FileIdentity identityOf(const std::string& path) {
  struct stat st;
  FileIdentity id;
  if (stat(path.c_str(), &st) != 0) return id;
  id.known = true;
  id.device = static_cast<uint64_t>(st.st_dev);
  id.inode = static_cast<uint64_t>(st.st_ino);
  id.size = static_cast<uint64_t>(st.st_size);
  id.modifiedNanoseconds = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

std::string lastErrorText() { return errorText(errno); }

uint64_t physicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::create(const std::string& target) {
  discard();
  target_ = target;
  published_ = false;
  error_.clear();
  // An unnamed file is given its name through /proc; without /proc it could
  // not be published.
  const bool unnamedPossible = access("/proc/self/fd", X_OK) == 0;
  int fd = unnamedPossible ? open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
  if (!unnamedPossible) errno = EOPNOTSUPP;
  if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error_ = errorText(errno);
    return false;
  }
  if (fd < 0) {
    // The file system has no unnamed files: a unique name instead.
    std::string name = temporaryPrefix(target) + "XXXXXX";
    fd = mkstemp(&name[0]);
    if (fd < 0) {
      error_ = errorText(errno);
      return false;
    }
    temporaryName_ = name;
    // mkstemp creates the file for its owner only; a new output gets the
    // permissions any newly created file gets.
    fchmod(fd, 0666 & ~currentUmask());
  }
  handle_ = fd;
  return true;
}

bool PendingFile::write(const char* data, size_t bytes) {
  while (bytes > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), data, bytes);
    if (written < 0) {
      if (errno == EINTR) continue;
      error_ = errorText(errno);
      return false;
    }
    data += written;
    bytes -= static_cast<size_t>(written);
  }
  return true;
}

bool PendingFile::seek(uint64_t offset) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    error_ = errorText(EOVERFLOW);
    return false;
  }
  if (lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
    error_ = errorText(errno);
    return false;
  }
  return true;
}

void PendingFile::startWriteback() {
#ifdef SYNC_FILE_RANGE_WRITE
  sync_file_range(static_cast<int>(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool PendingFile::sync() {
  if (fsync(static_cast<int>(handle_)) != 0) {
    error_ = errorText(errno);
    return false;
  }
  return true;
}

bool PendingFile::publish() {
  const int fd = static_cast<int>(handle_);
  struct stat old;
  const bool targetExists = lstat(target_.c_str(), &old) == 0;
  if (targetExists && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
  if (temporaryName_.empty()) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    // A new output is linked under its name in one step, so a run killed
    // now leaves either the whole file or nothing (not a named temporary).
    if (!targetExists && linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      published_ = true;
      close(fd);
      handle_ = -1;
      syncFolderOf(target_);
      return true;
    }
    // An unnamed file gets a unique name first: a link cannot replace an
    // existing file, a rename can.
    for (int attempt = 0; attempt < 100 && temporaryName_.empty(); ++attempt) {
      const std::string name = temporaryPrefix(target_) + uniqueSuffix();
      if (linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        temporaryName_ = name;
      } else if (errno != EEXIST) {
        error_ = errorText(errno);
        return false;
      }
    }
    if (temporaryName_.empty()) {
      error_ = errorText(EEXIST);
      return false;
    }
  }
  if (rename(temporaryName_.c_str(), target_.c_str()) != 0) {
    error_ = errorText(errno);
    return false;
  }
  published_ = true;
  temporaryName_.clear();
  close(fd);
  handle_ = -1;
  syncFolderOf(target_);
  return true;
}

void PendingFile::discard() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
  if (!temporaryName_.empty() && !published_) unlink(temporaryName_.c_str());
  temporaryName_.clear();
}

}  // namespace daxo::platform
