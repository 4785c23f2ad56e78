#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "fileio/headerfields.h"

namespace daxo {

// The keyed text format shared by functional and diffusion project headers.
//
// Reading takes white-space-separated tokens. A token equal to a known key
// (colon included, compared byte for byte) has its value read into the key's
// field; anything else (an unknown key, a word of its value, a key glued to
// its value) is skipped one token at a time, so unknown keys are lost when the
// header is written again. The token "PositionInformationFromImageHeaders"
// opens the position-information block: inside it only block keys are known,
// outside it only outer keys, and the block ends only after "GapThickness:" has
// been read (a block without it swallows every later key). Reading stops at
// end of file or at the first value that cannot be extracted; what was read is
// kept and no error is raised.
//
// Writing puts an empty line first, then every present field in table order:
// the key padded with blanks to its width, the value and the key's number of
// line ends. The block heading is written before "PosInfosVerified:" when that
// field is present. Line ends are CR LF.

using FieldRef = std::variant<IntField*, FloatField*, BoolField*, TextField*, YesNoField*>;

enum class KeyPlace { Outer, Block };

struct HeaderKey {
  std::string key;  // as in the file, with its colon
  FieldRef field;
  int lineEnds;  // written after the value
  KeyPlace place;
};

using HeaderKeys = std::vector<HeaderKey>;

extern const char* const kPositionBlockHeading;

// Runs after an outer key's value has been read or written, so that a header
// can read or write the table that follows that key.
using AfterKeyRead = std::function<void(const HeaderKey&, std::istream&)>;
using AfterKeyWritten = std::function<void(const HeaderKey&, std::ostream&)>;

// Reads tokens until the stream is no longer good. The caller resets the
// fields beforehand and opens the stream (binary, classic locale).
void readKeyedHeader(std::istream& in, const HeaderKeys& keys, const AfterKeyRead& afterRead);

void writeKeyedHeader(std::ostream& out, const HeaderKeys& keys, const AfterKeyWritten& afterWritten);

// Writes `count` CR LF line ends.
void writeLineEnds(std::ostream& out, int count);

// Reads one token and drops it without comparing it with any key: the token
// after a table is lost, as stored headers expect.
void discardToken(std::istream& in);

}  // namespace daxo
