#pragma once

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

// Progress entries of the estimation. One entry is the text written between
// two flushes: its pieces are written in order, then the stream is flushed; no
// line end is added and the stream's formatting flags are left as they are,
// so numbers appear in the stream's default formatting. A null stream takes
// nothing.

namespace daxo {

template <typename... Pieces>
void logEntry(std::ostream* log, const Pieces&... pieces) {
  if (log == nullptr) return;
  (*log << ... << pieces) << std::flush;
}

// A log stream that hands each entry, the text written between two flushes,
// to `take` as the flush arrives.
class EntryStream : public std::ostream {
 public:
  explicit EntryStream(std::function<void(const std::string&)> take)
      : std::ostream(&buffer_), buffer_(std::move(take)) {}
  // Text written after the last flush (a finished entry leaves none).
  const std::string& pending() const { return buffer_.pending; }

 private:
  struct Buffer : std::streambuf {
    explicit Buffer(std::function<void(const std::string&)> t) : take(std::move(t)) {}
    std::function<void(const std::string&)> take;
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
      take(pending);
      pending.clear();
      return 0;
    }
  };
  Buffer buffer_;
};

}  // namespace daxo
