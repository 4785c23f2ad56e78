#include "testsupport/faultinjection.h"

#include <signal.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace daxo::testing {

std::string runWithFileSizeLimit(uint64_t maxBytes, const std::function<std::string()>& body) {
  int channel[2];
  if (pipe(channel) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    close(channel[0]);
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of ending the process
    const struct rlimit limit { static_cast<rlim_t>(maxBytes), static_cast<rlim_t>(maxBytes) };
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string result;
    try {
      result = body();
    } catch (...) {
      result = "body threw";
    }
    const char* data = result.data();
    size_t left = result.size();
    while (left > 0) {
      const ssize_t n = write(channel[1], data, left);
      if (n <= 0) break;
      data += n;
      left -= static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(channel[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status)) return "child ended abnormally";
  return result;
}

std::string fileSizeLimitPrefix(uint64_t maxBytes) {
  return "trap '' XFSZ; ulimit -f " + std::to_string(maxBytes / 512) + ";";
}

SmallFileSystem::SmallFileSystem(uint64_t bytes) {
  if (geteuid() != 0) return;
  std::string pattern = (std::filesystem::temp_directory_path() / "daxo-small-XXXXXX").string();
  if (mkdtemp(&pattern[0]) == nullptr) return;
  path_ = pattern;
  const std::string options = "size=" + std::to_string(bytes);
  mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void SmallFileSystem::fill(uint64_t leftBytes) const {
  struct statvfs st;
  if (statvfs(path_.c_str(), &st) != 0) return;
  const uint64_t free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  if (free <= leftBytes) return;
  std::ofstream filler(file("filler"), std::ios::binary);
  const std::string block(4096, 'x');
  for (uint64_t written = 0; written + block.size() <= free - leftBytes; written += block.size()) filler << block;
}

}  // namespace daxo::testing
