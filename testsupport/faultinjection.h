#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Disks that fill up, for tests of what writers do when they fail.

namespace daxo::testing {

// Runs `body` in a forked child in which no file may grow beyond `maxBytes`
// bytes: a write past that fails with EFBIG ("File too large"), as writes on
// a full disk fail. Returns the text the body returned; "child ended
// abnormally" when it did not return.
std::string runWithFileSizeLimit(uint64_t maxBytes, const std::function<std::string()>& body);

// The shell command prefix that does the same for a program run through the
// shell: `maxBytes` is rounded down to whole 512-byte blocks.
std::string fileSizeLimitPrefix(uint64_t maxBytes);

// A small file system of its own, a tmpfs mounted for the test; writes fail
// with ENOSPC once it is full. Mounted only when the tests run as root and
// the system permits the mount; otherwise mounted() is false and nothing
// else may be used.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(uint64_t bytes);
  ~SmallFileSystem();
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Fills the free space with a file named "filler" until only about
  // `leftBytes` remain.
  void fill(uint64_t leftBytes) const;

 private:
  std::string path_;
  bool mounted_ = false;
};

}  // namespace daxo::testing
