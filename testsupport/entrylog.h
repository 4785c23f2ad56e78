#pragma once

// A log stream that keeps every entry (the text written between two flushes)
// separately, with the time it arrived, so that tests can check both the text
// and the entry boundaries of progress lines, and benchmarks can time the
// steps between them.

#include <chrono>
#include <string>
#include <vector>

#include "correction/logentry.h"

namespace daxo::testing {

class EntryLog : public EntryStream {
 public:
  EntryLog()
      : EntryStream([this](const std::string& entry) {
          entries_.push_back(entry);
          arrivals_.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count());
        }) {}
  const std::vector<std::string>& entries() const { return entries_; }
  // Seconds from construction to the flush of each entry.
  const std::vector<double>& arrivals() const { return arrivals_; }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::vector<std::string> entries_;
  std::vector<double> arrivals_;
};

}  // namespace daxo::testing
