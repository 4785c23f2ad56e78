#include "volume/columnthreads.h"

#include <algorithm>
#include <cstdlib>

#ifdef __linux__
#include <sched.h>
#endif

namespace daxo {

int parseThreadCount(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  int value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return 0;
    value = value * 10 + (*c - '0');
    if (value > kMaxThreads) return 0;
  }
  return value;
}

namespace {

// The cores this process may run on: on Linux those of its affinity mask,
// which taskset, a batch system's CPU binding or a parent that shares the
// machine between its children narrow; hardware_concurrency counts every
// core of the machine.
unsigned usableCoreCount() {
#ifdef __linux__
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
    const int count = CPU_COUNT(&mask);
    if (count > 0) return static_cast<unsigned>(count);
  }
#endif
  return std::thread::hardware_concurrency();
}

}  // namespace

int threadCount(int requested) {
  if (requested > 0) return std::min(requested, kMaxThreads);
  const int fromEnvironment = parseThreadCount(std::getenv("DAXO_THREADS"));
  if (fromEnvironment > 0) return fromEnvironment;
  const unsigned cores = usableCoreCount();
  return static_cast<int>(std::min(std::max(cores, 1u), static_cast<unsigned>(kMaxThreads)));
}

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
