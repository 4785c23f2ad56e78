#pragma once

#include <ostream>
#include <streambuf>
#include <string>

#include "host/daxo/console.h"

namespace daxo::cli {

// A log stream for code that runs inside daxo rather than in the plugin:
// each entry (the text written between two flushes, as the estimation logs)
// becomes one of the console's log entries.
class ConsoleLogStream : public std::ostream {
 public:
  explicit ConsoleLogStream(Console& console) : std::ostream(&buffer_), buffer_(console) {}

 private:
  struct Buffer : std::streambuf {
    explicit Buffer(Console& c) : console(c) {}
    Console& console;
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
      console.logEntry(pending);
      pending.clear();
      return 0;
    }
  };
  Buffer buffer_;
};

}  // namespace daxo::cli
