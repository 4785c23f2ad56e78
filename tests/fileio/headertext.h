#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testsupport/testfiles.h"

namespace daxo::testing {

// Reading a project header (FMRHeader, DMRHeader) from a text and writing it
// back, through a file in the test's folder.
template <typename Header>
class HeaderTextTest : public ::testing::Test {
 protected:
  // The header read from `text` (only the header, no data).
  Header read(const std::string& text) {
    writeFile(folder_.file("project"), text);
    Header header;
    header.loadHeader(folder_.file("project"));
    return header;
  }
  static std::string written(const Header& header) {
    std::ostringstream out;
    header.writeHeader(out);
    return out.str();
  }
  // The text of the header as written, read back and written again.
  std::string rewritten(const Header& header) { return written(read(written(header))); }

  TempFolder folder_;
};

}  // namespace daxo::testing
