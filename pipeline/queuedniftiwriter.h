#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "fileio/nifti/niftiimage.h"
#include "volume/volume.h"

namespace daxo::pipeline {

// A NiftiWriter on a thread of its own: `write` hands the volume over and
// returns, so compressing and writing one volume overlaps reading and
// correcting the next (compression is most of a series' time). The file's
// bytes are those NiftiWriter writes, in the order given. At most `depth`
// volumes wait, so memory stays a few volumes whatever the series' length.
class QueuedNiftiWriter {
 public:
  // As NiftiWriter's constructor; throws WriteFileError naming `path`.
  QueuedNiftiWriter(const std::string& path, const NiftiImage& like, int32_t volumes, NiftiStorage storage,
                    size_t depth = 2);
  ~QueuedNiftiWriter();  // stops the thread; an unfinished output is removed
  QueuedNiftiWriter(const QueuedNiftiWriter&) = delete;
  QueuedNiftiWriter& operator=(const QueuedNiftiWriter&) = delete;

  // Queues one volume; waits while `depth` volumes wait. Rethrows, here or in
  // `finish`, the first error of an earlier write.
  void write(Volume volume);
  // Waits for every queued volume, then finishes the file as
  // NiftiWriter::finish does; rethrows the first error of any write.
  void finish();

 private:
  void drain();
  void stop();
  void rethrowFailure();

  NiftiWriter writer_;
  const size_t depth_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Volume> queue_;
  bool closing_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace daxo::pipeline
