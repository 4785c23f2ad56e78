#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/host/tempdir.h"

namespace daxo::testing {

// What one run of the built daxo program left behind.
struct DaxoRun {
  int status = -1;
  std::string out;
  std::string err;
};

inline std::string contentOf(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs daxo with `arguments` (already quoted for the shell), standard input
// from /dev/null, so no question can be answered on a terminal.
inline DaxoRun runDaxo(const std::string& arguments, const std::string& environment = "") {
  TempDir dir;
  const std::string command = environment + " '" + DAXO_PROGRAM_PATH + "' " + arguments + " > '" + dir.file("out") +
                              "' 2> '" + dir.file("err") + "' < /dev/null";
  const int raw = std::system(command.c_str());
  DaxoRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = contentOf(dir.file("out"));
  run.err = contentOf(dir.file("err"));
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

}  // namespace daxo::testing
