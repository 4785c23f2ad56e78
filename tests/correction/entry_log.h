#pragma once

// A log stream for tests that keeps every entry (the text written between two
// flushes) separately, so tests can check both the text and the entry
// boundaries of the estimation's progress lines.

#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace daxo::testing {

class EntryLog : public std::ostream {
 public:
  EntryLog() : std::ostream(&buffer_) {}
  const std::vector<std::string>& entries() const { return buffer_.entries; }
  // Text written after the last flush (should stay empty).
  const std::string& pending() const { return buffer_.pending; }

 private:
  struct Buffer : std::streambuf {
    std::vector<std::string> entries;
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
      pending.clear();
      return 0;
    }
  };
  Buffer buffer_;
};

}  // namespace daxo::testing
