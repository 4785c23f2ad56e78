#include "pipeline/queuedniftiwriter.h"

#include <utility>

namespace daxo::pipeline {

QueuedNiftiWriter::QueuedNiftiWriter(const std::string& path, const NiftiImage& like, int32_t volumes,
                                     NiftiStorage storage, size_t depth)
    : writer_(path, like, volumes, storage), depth_(depth < 1 ? 1 : depth), thread_([this] { drain(); }) {}

QueuedNiftiWriter::~QueuedNiftiWriter() { stop(); }

void QueuedNiftiWriter::drain() {
  for (;;) {
    Volume next;
    bool failed = false;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
      if (queue_.empty()) return;
      next = std::move(queue_.front());
      failed = static_cast<bool>(failure_);
    }
    // A failed writer takes no more volumes; the error waits for the caller.
    if (!failed) {
      try {
        writer_.write(next);
      } catch (...) {
        std::lock_guard<std::mutex> lock(mutex_);
        failure_ = std::current_exception();
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.pop_front();
    }
    changed_.notify_all();
  }
}

void QueuedNiftiWriter::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void QueuedNiftiWriter::rethrowFailure() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failure_) std::rethrow_exception(failure_);
}

void QueuedNiftiWriter::write(Volume volume) {
  rethrowFailure();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < depth_; });
    queue_.push_back(std::move(volume));
  }
  changed_.notify_all();
}

void QueuedNiftiWriter::finish() {
  stop();
  rethrowFailure();
  writer_.finish();
}

}  // namespace daxo::pipeline
