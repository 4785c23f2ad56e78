// The Windows implementation of fileio/platformfile.h (built with mingw-w64
// for DAXO.dll). Windows has no unnamed files: the temporary always has a
// unique hidden name beside the target, and a run killed meanwhile leaves it
// behind (its name ends in ".daxo-partial-..." so it can be recognised).
#include <windows.h>

#include <atomic>
#include <cctype>
#include <chrono>

#include "fileio/platformfile.h"

namespace daxo::platform {

namespace {

// Both separators count; the folder part keeps its trailing separator.
size_t lastSeparator(const std::string& path) { return path.find_last_of("/\\"); }

std::string folderPrefixOf(const std::string& path) {
  const size_t at = lastSeparator(path);
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::string baseNameOf(const std::string& path) {
  const size_t at = lastSeparator(path);
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string uniqueSuffix() {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(static_cast<unsigned long long>(ticks) % 1000000007ull);
}

std::string errorText(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

// NUL, CON, COM1 and the like name devices in every folder, with any
// extension; "\\.\" paths name devices directly.
bool namesDevice(const std::string& path) {
  if (path.rfind("\\\\.\\", 0) == 0) return true;
  std::string stem = baseNameOf(path);
  stem = stem.substr(0, stem.find('.'));
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (stem == "NUL" || stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "CONIN$" || stem == "CONOUT$") {
    return true;
  }
  return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && stem[3] >= '1' &&
         stem[3] <= '9';
}

HANDLE handleOf(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

PathKind pathKindOf(const std::string& path) {
  if (namesDevice(path)) return PathKind::Device;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::SymbolicLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Directory;
  return PathKind::Regular;
}

FileIdentity identityOf(const std::string& path) {
  FileIdentity id;
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info)) {
    id.known = true;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // FILETIME counts 100-nanosecond steps.
    const uint64_t ticks =
        (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime;
    id.modifiedNanoseconds = static_cast<int64_t>(ticks) * 100;
  }
  CloseHandle(file);
  return id;
}

std::string lastErrorText() { return errorText(GetLastError()); }

uint64_t physicalMemoryBytes() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

PendingFile::~PendingFile() { discard(); }

bool PendingFile::create(const std::string& target) {
  discard();
  target_ = target;
  published_ = false;
  error_.clear();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = folderPrefixOf(target) + "." + baseNameOf(target) + ".daxo-partial-" + uniqueSuffix();
    const HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      temporaryName_ = name;
      handle_ = reinterpret_cast<intptr_t>(file);
      return true;
    }
    if (GetLastError() != ERROR_FILE_EXISTS) break;
  }
  error_ = lastErrorText();
  return false;
}

bool PendingFile::write(const char* data, size_t bytes) {
  while (bytes > 0) {
    const DWORD chunk = bytes > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes);
    DWORD written = 0;
    if (!WriteFile(handleOf(handle_), data, chunk, &written, nullptr)) {
      error_ = lastErrorText();
      return false;
    }
    data += written;
    bytes -= written;
  }
  return true;
}

bool PendingFile::seek(uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    error_ = "file position too large";
    return false;
  }
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(handleOf(handle_), position, nullptr, FILE_BEGIN)) {
    error_ = lastErrorText();
    return false;
  }
  return true;
}

// The system writes back on its own; there is no call to start it early.
void PendingFile::startWriteback() {}

bool PendingFile::sync() {
  if (!FlushFileBuffers(handleOf(handle_))) {
    error_ = lastErrorText();
    return false;
  }
  return true;
}

bool PendingFile::publish() {
  CloseHandle(handleOf(handle_));
  handle_ = -1;
  // The temporary was hidden; the output is not.
  SetFileAttributesA(temporaryName_.c_str(), FILE_ATTRIBUTE_NORMAL);
  // A move within one folder, never a copy: the target is replaced in one
  // step or not at all.
  if (!MoveFileExA(temporaryName_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = lastErrorText();
    return false;
  }
  published_ = true;
  temporaryName_.clear();
  return true;
}

void PendingFile::discard() {
  if (handle_ != -1) CloseHandle(handleOf(handle_));
  handle_ = -1;
  if (!temporaryName_.empty() && !published_) DeleteFileA(temporaryName_.c_str());
  temporaryName_.clear();
}

}  // namespace daxo::platform
