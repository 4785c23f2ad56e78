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

// After each this many bytes the system is asked to start writing them to the
// device, so that a large output's final sync does not wait for all of it
// (for a corrected series the writing then overlaps the correction).
const size_t kWritebackBytes = size_t{16} << 20;

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
// is kept and makes the stream fail. Seeking (seekp) hands the block written
// so far to the file and moves the file's write position; telling (tellp)
// and seeking to where writing stands change nothing, so sequential writers
// that seek anyway still write whole blocks. Positions are counted from the
// start of the file; seeking from its end is not supported.
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

  pos_type seekoff(off_type offset, std::ios_base::seekdir from, std::ios_base::openmode which) override {
    const pos_type refused(off_type(-1));
    if ((which & std::ios_base::out) == 0 || failed_) return refused;
    const off_type here = blockStart_ + static_cast<off_type>(pptr() - pbase());
    off_type target = 0;
    if (from == std::ios_base::beg) {
      target = offset;
    } else if (from == std::ios_base::cur) {
      target = here + offset;
    } else {
      return refused;
    }
    if (target < 0) return refused;
    if (target == here) return pos_type(here);
    if (!drain()) return refused;
    if (!file_.seek(static_cast<uint64_t>(target))) {
      failed_ = true;
      return refused;
    }
    blockStart_ = target;
    return pos_type(target);
  }
  pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
    return seekoff(off_type(position), std::ios_base::beg, which);
  }

 private:
  bool drain() {
    if (failed_) return false;
    const size_t bytes = static_cast<size_t>(pptr() - pbase());
    if (bytes > 0 && !file_.write(pbase(), bytes)) failed_ = true;
    blockStart_ += static_cast<off_type>(bytes);
    sinceWriteback_ += bytes;
    if (sinceWriteback_ >= kWritebackBytes && !failed_) {
      file_.startWriteback();
      sinceWriteback_ = 0;
    }
    setp(block_.data(), block_.data() + block_.size());
    return !failed_;
  }

  platform::PendingFile& file_;
  std::vector<char> block_;
  off_type blockStart_ = 0;  // the file position of pbase()
  size_t sinceWriteback_ = 0;
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
