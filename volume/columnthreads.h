#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A fixed set of threads that run one loop over columns at a time, each on a
// fixed contiguous range, so a loop that writes per-column results gives the
// same bytes for any thread count. Idle threads block instead of spinning:
// on a machine shared with other work, spinning threads steal the time of
// the ones that are working.

namespace daxo {

// The number of threads for a caller that asks for `requested`: `requested`
// when positive; otherwise the value of the environment variable
// DAXO_THREADS when that is a whole number from 1 to kMaxThreads; otherwise
// the number of cores this process may run on (at least 1). Never more than
// kMaxThreads.
constexpr int kMaxThreads = 256;
int threadCount(int requested = 0);

// Parses a thread count as DAXO_THREADS and --threads give it: a whole
// number from 1 to kMaxThreads, nothing else (no sign, no spaces); 0 when
// the text is not one.
int parseThreadCount(const char* text);

class ColumnThreads {
 public:
  // threads >= 1 (smaller counts as 1); threads - 1 workers are started, the
  // caller being the first.
  explicit ColumnThreads(int threads);
  ~ColumnThreads();
  ColumnThreads(const ColumnThreads&) = delete;
  ColumnThreads& operator=(const ColumnThreads&) = delete;

  int count() const { return total_; }

  // Calls body(begin, end, thread) for the ranges [n * t / T, n * (t + 1) / T),
  // t = 0 .. T-1 (T = count()), each on its own thread, and returns when all
  // have returned. body must not throw.
  using Body = std::function<void(size_t begin, size_t end, int thread)>;
  void run(size_t n, const Body& body);

 private:
  void work(int index);

  int total_;
  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable start_;
  std::condition_variable done_;
  const Body* body_ = nullptr;
  size_t n_ = 0;
  unsigned long long generation_ = 0;
  int pending_ = 0;
  bool stop_ = false;
};

}  // namespace daxo
