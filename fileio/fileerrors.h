#pragma once

#include <stdexcept>
#include <string>

namespace daxo {

// Failures of project and map files. Every message names the file concerned
// (the map reader's "error reading from binary file" is the one exception: its
// text is fixed and callers add the path when they need it).
class IOError : public std::runtime_error {
 public:
  explicit IOError(const std::string& message) : std::runtime_error(message) {}
};

// A file could not be opened for reading.
class OpenFileError : public IOError {
 public:
  explicit OpenFileError(const std::string& message) : IOError(message) {}
};

// A file was opened but its content could not be read or cannot describe data.
class ReadFileError : public IOError {
 public:
  explicit ReadFileError(const std::string& message) : IOError(message) {}
};

// A file could not be created or written in full.
class WriteFileError : public IOError {
 public:
  explicit WriteFileError(const std::string& message) : IOError(message) {}
};

}  // namespace daxo
