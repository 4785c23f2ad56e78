#include "fileio/projectfiles.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/paths.h"
#include "fileio/stagedoutputfile.h"
#include "volume/assertion.h"

namespace daxo {

namespace {

const char* const kModule = "projectfiles";

int32_t runLength(const DataLayout& layout, size_t runBytes) {
  const size_t volumeBytes = std::max<size_t>(1, layout.voxelsPerVolume() * sizeof(float));
  const size_t volumes = std::max<size_t>(1, runBytes / volumeBytes);
  return static_cast<int32_t>(std::min(volumes, static_cast<size_t>(layout.volumes)));
}

// The thread writing one run; joined before the next run is handed over and
// before an exception leaves the loop, so the stream and the run outlive it.
class RunWriter {
 public:
  RunWriter(std::ostream& out, std::streamoff start, const DataLayout& layout)
      : out_(out), start_(start), layout_(layout) {}
  ~RunWriter() { wait(); }
  RunWriter(const RunWriter&) = delete;
  RunWriter& operator=(const RunWriter&) = delete;

  void start(int32_t first, const std::vector<Volume>& run) {
    thread_ = std::thread([this, first, &run] {
      try {
        writeVolumeRun(out_, start_, layout_, first, run.data(), static_cast<int32_t>(run.size()));
      } catch (...) {
        failure_ = std::current_exception();
      }
    });
  }
  // Waits for the run being written; false once writing has failed.
  bool wait() {
    if (thread_.joinable()) thread_.join();
    return !failure_ && out_;
  }
  void rethrowFailure() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  std::ostream& out_;
  const std::streamoff start_;
  const DataLayout& layout_;
  std::thread thread_;
  std::exception_ptr failure_;
};

}  // namespace

void writeVoxelDataInRuns(std::ostream& out, const DataLayout& layout, const VolumeRunSource& source, size_t runBytes) {
  const std::streamoff start = static_cast<std::streamoff>(out.tellp());
  if (start < 0 || layout.volumes == 0) return;
  const int32_t length = runLength(layout, runBytes);
  std::vector<Volume> made;     // the run the source fills
  std::vector<Volume> writing;  // the run being written
  RunWriter writer(out, start, layout);
  for (int32_t first = 0; first < layout.volumes; first += length) {
    made.resize(static_cast<size_t>(std::min(length, layout.volumes - first)));
    source(first, made);
    if (!writer.wait()) break;
    std::swap(made, writing);
    writer.start(first, writing);
  }
  writer.wait();
  writer.rethrowFailure();
}

void requireStreamable(const DataLayout& layout, size_t volumesInMemory) {
  check(volumesInMemory == 0 && layout.volumes > 0, kModule, 1, "no volumes in memory && NrOfVolumes > 0");
}

void writeProjectFiles(const ProjectOutput& output) {
  if (output.writeData && output.dataPath == output.headerPath) {
    throw WriteFileError("Header and data would be the same file: " + output.headerPath);
  }
  StagedOutputFile header(output.headerPath);
  if (!header.isOpen()) throw WriteFileError("Cannot Create file: " + output.headerPath + ": " + header.problem());
  output.writeHeader(header.stream());
  header.finish();
  if (output.writeData) {
    StagedOutputFile data(output.dataPath);
    if (!data.isOpen()) throw WriteFileError(output.dataCreateMessage + output.dataPath + ": " + data.problem());
    output.writeData(data.stream());
    data.commit();
  }
  header.commit();
}

void readProjectHeader(const std::string& path, const HeaderKeys& keys, const AfterKeyRead& afterRead) {
  std::ifstream in;
  if (!openInputFile(in, path)) throw OpenFileError("Failed opening for reading: " + path);
  try {
    readKeyedHeader(in, keys, afterRead);
  } catch (const ReadFileError& e) {
    throw ReadFileError("Bad value in header " + path + ": " + e.what());
  }
}

std::string dataFileNameOf(const std::string& headerPath, const std::string& prefix, const std::string& extension) {
  return directoryOf(headerPath) + prefix + "." + extension;
}

}  // namespace daxo
