#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace daxo {

// One keyed value of a project header. Common members:
// - name: the key as it stood in the file, without its colon; "" until read.
// - width: characters from the first character of the key to the first
//   character of the value on the line that was read (the key with its colon
//   plus every blank or tab after it; a tab counts as one). The writer pads the
//   key to this width so that a header keeps its alignment.
// - present: the key was read; only present fields are written.
// A field whose key is absent keeps value 0 (false, "").

struct IntField {
  std::string name;
  int32_t value = 0;
  int32_t width = 0;
  bool present = false;
};

struct FloatField {
  std::string name;
  float value = 0.0f;
  int32_t width = 0;
  bool present = false;
};

// A flag stored as the number 0 or 1.
struct BoolField {
  std::string name;
  bool value = false;
  int32_t width = 0;
  bool present = false;
};

// A text value; quoted when it stood in double quotes (and is written so).
struct TextField {
  std::string name;
  std::string value;
  int32_t width = 0;
  bool quoted = false;
  bool present = false;
};

// A flag stored as YES or NO (diffusion headers only).
struct YesNoField {
  std::string name;
  bool value = false;
  int32_t width = 0;
  bool present = false;
};

// Reading a value after its key token (colon included) has been taken from
// the stream: name and width are set, the blanks and tabs after the key are
// consumed and the value is extracted. Numbers and 0/1 flags are formatted
// extractions (they skip line ends, so a value on the next line is found);
// text takes the rest of the line. A number or flag that cannot be extracted
// throws ReadFileError naming the key and the text found (without the file's
// name, which the header's reader adds); the field is then unchanged. A value
// cut off by the end of the file (or a key without one there) is left absent
// and ends the reading: a header cut short keeps what was read.
void readFieldValue(std::istream& in, const std::string& keyToken, IntField& field);
void readFieldValue(std::istream& in, const std::string& keyToken, FloatField& field);
void readFieldValue(std::istream& in, const std::string& keyToken, BoolField& field);
void readFieldValue(std::istream& in, const std::string& keyToken, TextField& field);
void readFieldValue(std::istream& in, const std::string& keyToken, YesNoField& field);

// The value as the writer puts it after the key.
std::string formatFieldValue(const IntField& field);
std::string formatFieldValue(const FloatField& field);
std::string formatFieldValue(const BoolField& field);
std::string formatFieldValue(const TextField& field);
std::string formatFieldValue(const YesNoField& field);

// A float as the default stream output writes it: six significant digits,
// the shorter of plain and exponent notation, no trailing zeros. Independent
// of the global locale.
std::string formatFloat(float value);

// Splits a text value as read: trailing white space removed; with double
// quotes the text strictly between the first and the last one (everything
// after a lone quote), otherwise the whole text.
void parseTextValue(const std::string& rawLine, std::string& value, bool& quoted);

}  // namespace daxo
