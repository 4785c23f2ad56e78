#include "fileio/stagedoutputfile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <streambuf>
#include <vector>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/platformfile.h"

namespace daxo {

namespace {

// Output is handed to the system in blocks of this many bytes.
const size_t kBufferBytes = size_t{1} << 16;

// May the existing regular file be written? Opening it for appending neither
// creates nor truncates it.
std::string writeProblem(const std::string& path) {
  errno = 0;
  std::ofstream probe(path, std::ios::binary | std::ios::app);
  if (probe.is_open()) return "";
  return errno != 0 ? std::strerror(errno) : "it cannot be written";
}

}  // namespace

// The stream's buffer: full blocks go to the pending file; the first failure
// is kept and makes the stream fail.
class StagedOutputFile::Buffer : public std::streambuf {
 public:
  explicit Buffer(platform::PendingFile& file) : file_(file), block_(kBufferBytes) {
    setp(block_.data(), block_.data() + block_.size());
  }
  bool failed() const { return failed_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    if (failed_) return false;
    const size_t bytes = static_cast<size_t>(pptr() - pbase());
    if (bytes > 0 && !file_.write(pbase(), bytes)) failed_ = true;
    setp(block_.data(), block_.data() + block_.size());
    return !failed_;
  }

  platform::PendingFile& file_;
  std::vector<char> block_;
  bool failed_ = false;
};

std::string outputNameProblem(const std::string& target) {
  switch (platform::pathKindOf(target)) {
    case platform::PathKind::Missing:
      break;
    case platform::PathKind::Regular: {
      const std::string input = trackedInputSameAs(target);
      if (!input.empty()) return "it is the same file as the input " + input;
      return writeProblem(target);
    }
    case platform::PathKind::SymbolicLink:
      return "it is a symbolic link (outputs are not written through links)";
    case platform::PathKind::Directory:
      return "it is a folder";
    case platform::PathKind::Fifo:
      return "it is a named pipe (FIFO)";
    case platform::PathKind::Device:
      return "it is a device";
    case platform::PathKind::Socket:
    case platform::PathKind::Other:
      return "it is not a regular file";
  }
  return "";
}

StagedOutputFile::StagedOutputFile(const std::string& target)
    : target_(target), file_(std::make_unique<platform::PendingFile>()), out_(nullptr) {
  problem_ = outputNameProblem(target);
  if (!problem_.empty()) return;
  if (!file_->create(target)) {
    problem_ = file_->error();
    return;
  }
  buffer_ = std::make_unique<Buffer>(*file_);
  out_.rdbuf(buffer_.get());
  open_ = true;
}

StagedOutputFile::~StagedOutputFile() {
  out_.rdbuf(nullptr);
  buffer_.reset();
  file_.reset();  // removes a temporary that was not committed
}

void StagedOutputFile::finish() {
  if (finished_) return;
  if (open_) out_.flush();
  const bool written = open_ && out_ && !buffer_->failed();
  if (!written) {
    if (open_ && !file_->error().empty()) problem_ = file_->error();
    throw WriteFileError("Failed writing to file: " + target_ + ": " +
                         (problem_.empty() ? std::string("write error") : problem_));
  }
  if (!file_->sync()) {
    problem_ = file_->error();
    throw WriteFileError("Failed writing to file: " + target_ + ": " + problem_);
  }
  finished_ = true;
}

void StagedOutputFile::commit() {
  finish();
  if (committed_) return;
  if (!file_->publish()) {
    problem_ = file_->error();
    throw WriteFileError("Cannot replace file: " + target_ + ": " + problem_);
  }
  committed_ = true;
}

}  // namespace daxo
