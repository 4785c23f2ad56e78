#include "correction/columnthreads.h"

#include <algorithm>

namespace daxo {

ColumnThreads::ColumnThreads(int threads) : total_(std::max(threads, 1)) {
  const int workers = total_ - 1;
  workers_.reserve(static_cast<size_t>(workers));
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this, i] { work(i + 1); });
}

ColumnThreads::~ColumnThreads() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  start_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ColumnThreads::run(size_t n, const Body& body) {
  const size_t total = static_cast<size_t>(count());
  if (total == 1) {
    body(0, n, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    body_ = &body;
    n_ = n;
    pending_ = static_cast<int>(total) - 1;
    ++generation_;
  }
  start_.notify_all();
  body(0, n / total, 0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return pending_ == 0; });
  body_ = nullptr;
}

void ColumnThreads::work(int index) {
  unsigned long long seen = 0;
  const size_t total = static_cast<size_t>(count());
  for (;;) {
    const Body* body;
    size_t n;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      start_.wait(lock, [&] { return stop_ || generation_ != seen; });
      if (stop_) return;
      seen = generation_;
      body = body_;
      n = n_;
    }
    const size_t t = static_cast<size_t>(index);
    (*body)(n * t / total, n * (t + 1) / total, index);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (--pending_ == 0) done_.notify_one();
    }
  }
}

}  // namespace daxo
