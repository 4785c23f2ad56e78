#pragma once

#include <locale>

namespace daxo {

// `base` with numbers written as before, except that a not-a-number value
// whose sign bit is set is written as "-nan" ("-NAN" with uppercase), as the
// C library on Linux writes it. mingw's standard library leaves out that
// sign; the log stream uses this locale on Windows so that both builds log
// the same text.
std::locale withSignedNan(const std::locale& base);

}  // namespace daxo
