#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "testsupport/testfiles.h"

namespace daxo::testing {

// What one run of the built daxo program left behind.
struct DaxoRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs daxo with `arguments` (already quoted for the shell), standard input
// from /dev/null, so no question can be answered on a terminal.
inline DaxoRun runDaxo(const std::string& arguments, const std::string& environment = "") {
  TempFolder dir;
  const std::string command = environment + " '" + DAXO_PROGRAM_PATH + "' " + arguments + " > '" + dir.file("out") +
                              "' 2> '" + dir.file("err") + "' < /dev/null";
  const int raw = std::system(command.c_str());
  DaxoRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = readFile(dir.file("out"));
  run.err = readFile(dir.file("err"));
  return run;
}

// `text` in single quotes for the shell.
inline std::string shellQuoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) {
    if (c == '\'') {
      result += "'\\''";
    } else {
      result += c;
    }
  }
  return result + "'";
}

// A folder for the files the daxo commands of a test read and write.
class DaxoCommandTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name) const { return dir.file(name); }
  // file(name) quoted for the shell.
  std::string quoted(const std::string& name) const { return shellQuoted(file(name)); }
  bool exists(const std::string& name) const { return std::filesystem::exists(file(name)); }

  TempFolder dir;
};

}  // namespace daxo::testing
