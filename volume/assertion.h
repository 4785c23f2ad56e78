#pragma once

// The assertion check shared by every module. A violated precondition throws
// std::logic_error with the text
//   "assertion failure (" + module + ":" + line + "): " + condition
// before the operation changes anything. Module names and line numbers are part
// of the message users see; each check states them explicitly, they are not the
// source file's own line numbers.

namespace daxo {

[[noreturn]] void failAssertion(const char* module, int line, const char* conditionText);

inline void check(bool condition, const char* module, int line, const char* conditionText) {
  if (!condition) failAssertion(module, line, conditionText);
}

}  // namespace daxo
