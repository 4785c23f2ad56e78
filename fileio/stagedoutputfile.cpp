#include "fileio/stagedoutputfile.h"

#include <filesystem>
#include <system_error>

#include "fileio/fileerrors.h"

namespace daxo {

namespace fs = std::filesystem;

namespace {

// Suffix of the temporary beside the target.
const char* const kTemporarySuffix = ".daxo-partial";

// May the existing file be written? Opening it for appending neither creates
// nor truncates it.
bool isWritable(const std::string& path) {
  std::ofstream probe(path, std::ios::binary | std::ios::app);
  return probe.is_open();
}

}  // namespace

StagedOutputFile::StagedOutputFile(const std::string& target) : target_(target), destination_(target) {
  std::error_code ec;
  if (fs::is_symlink(fs::symlink_status(target, ec))) {
    const fs::path resolved = fs::weakly_canonical(target, ec);
    if (ec) return;
    destination_ = resolved.string();
  }
  const fs::file_status status = fs::status(destination_, ec);
  const bool exists = fs::exists(status);
  if (exists && !fs::is_regular_file(status)) {
    if (fs::is_directory(status)) return;
    out_.open(destination_, std::ios::binary | std::ios::trunc);
    open_ = out_.is_open();
    return;
  }
  if (exists && !isWritable(destination_)) return;
  temporary_ = destination_ + kTemporarySuffix;
  out_.open(temporary_, std::ios::binary | std::ios::trunc);
  open_ = out_.is_open();
  if (!open_) temporary_.clear();
}

StagedOutputFile::~StagedOutputFile() {
  if (out_.is_open()) out_.close();
  if (!temporary_.empty() && !committed_) {
    std::error_code ec;
    fs::remove(temporary_, ec);
  }
}

void StagedOutputFile::finish() {
  if (finished_) return;
  out_.flush();
  const bool written = static_cast<bool>(out_);
  out_.close();
  if (!written || out_.fail()) throw WriteFileError("Failed writing to file: " + target_);
  finished_ = true;
}

void StagedOutputFile::commit() {
  finish();
  if (committed_ || temporary_.empty()) {
    committed_ = true;
    return;
  }
  std::error_code ec;
  // A replaced file keeps its permissions.
  const fs::file_status old = fs::status(destination_, ec);
  if (!ec && fs::is_regular_file(old)) fs::permissions(temporary_, old.permissions(), ec);
  fs::rename(temporary_, destination_, ec);
  if (ec) throw WriteFileError("Cannot replace file: " + target_);
  committed_ = true;
}

}  // namespace daxo
