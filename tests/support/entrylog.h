#pragma once

// A log stream that keeps every entry (the text written between two flushes)
// separately, with the time it arrived, so that tests can check both the text
// and the entry boundaries of progress lines, and benchmarks can time the
// steps between them.

#include <chrono>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace daxo::testing {

class EntryLog : public std::ostream {
 public:
  EntryLog() : std::ostream(&buffer_) {}
  const std::vector<std::string>& entries() const { return buffer_.entries; }
  // Seconds from construction to the flush of each entry.
  const std::vector<double>& arrivals() const { return buffer_.arrivals; }
  // Text written after the last flush (should stay empty).
  const std::string& pending() const { return buffer_.pending; }

 private:
  struct Buffer : std::streambuf {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::vector<std::string> entries;
    std::vector<double> arrivals;
    std::string pending;
    int_type overflow(int_type c) override {
      if (c != traits_type::eof()) pending.push_back(static_cast<char>(c));
      return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      pending.append(s, static_cast<size_t>(n));
      return n;
    }
    int sync() override {
      entries.push_back(pending);
      arrivals.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      pending.clear();
      return 0;
    }
  };
  Buffer buffer_;
};

}  // namespace daxo::testing
