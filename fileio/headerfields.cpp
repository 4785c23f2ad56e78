#include "fileio/headerfields.h"

#include <limits>
#include <locale>
#include <sstream>

#include "fileio/fileerrors.h"

namespace daxo {

namespace {

// Consumes the blanks and tabs after a key and returns the key's width.
int32_t consumeKeyPadding(std::istream& in, const std::string& keyToken) {
  int32_t width = static_cast<int32_t>(keyToken.size());
  for (;;) {
    const int c = in.peek();
    if (c != ' ' && c != '\t') break;
    in.get();
    ++width;
  }
  return width;
}

std::string keyName(const std::string& keyToken) { return keyToken.substr(0, keyToken.size() - 1); }

// The value's line from `start` after a failed extraction (which may have
// consumed part of it), for the message.
std::string lineFrom(std::istream& in, std::streampos start) {
  in.clear();
  if (start != std::streampos(-1)) in.seekg(start);
  std::string rest;
  std::getline(in, rest);
  const size_t end = rest.find_last_not_of(" \t\r\n");
  return end == std::string::npos ? std::string() : rest.substr(0, end + 1);
}

// Formatted extraction of one number or 0/1 flag into a field. A value that
// cannot be extracted is an error: reading on would silently drop every key
// after it (the voxel sizes, say).
template <typename Field, typename Value>
void readExtractedValue(std::istream& in, const std::string& keyToken, Field& field, const char* expected) {
  const int32_t width = consumeKeyPadding(in, keyToken);
  const std::streampos start = in.tellg();
  Value value{};
  if (!(in >> value)) {
    // A value cut off by the end of the file is a header cut short, which
    // keeps what was read, as before.
    if (in.eof()) return;
    const std::string text = lineFrom(in, start);
    throw ReadFileError(keyName(keyToken) + " has the value '" + text + "', which is not " + expected);
  }
  field.name = keyName(keyToken);
  field.width = width;
  field.value = value;
  field.present = true;
}

}  // namespace

void readFieldValue(std::istream& in, const std::string& keyToken, IntField& field) {
  readExtractedValue<IntField, int32_t>(in, keyToken, field, "a 32-bit integer");
}

void readFieldValue(std::istream& in, const std::string& keyToken, FloatField& field) {
  readExtractedValue<FloatField, float>(in, keyToken, field, "a number");
}

void readFieldValue(std::istream& in, const std::string& keyToken, BoolField& field) {
  // Extraction of bool accepts exactly the numbers 0 and 1.
  readExtractedValue<BoolField, bool>(in, keyToken, field, "0 or 1");
}

void readFieldValue(std::istream& in, const std::string& keyToken, TextField& field) {
  const int32_t width = consumeKeyPadding(in, keyToken);
  std::string line;
  if (!std::getline(in, line)) return;
  field.name = keyName(keyToken);
  field.width = width;
  parseTextValue(line, field.value, field.quoted);
  field.present = true;
}

void readFieldValue(std::istream& in, const std::string& keyToken, YesNoField& field) {
  field.name = keyName(keyToken);
  field.width = consumeKeyPadding(in, keyToken);
  // Only the first character counts; an empty rest of line reads as YES.
  const int first = in.peek();
  field.value = first != 'N' && first != 'n';
  in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  field.present = true;
}

void parseTextValue(const std::string& rawLine, std::string& value, bool& quoted) {
  const size_t end = rawLine.find_last_not_of(" \t\n\v\f\r");
  const std::string text = end == std::string::npos ? std::string() : rawLine.substr(0, end + 1);
  const size_t open = text.find('"');
  if (open == std::string::npos) {
    quoted = false;
    value = text;
    return;
  }
  quoted = true;
  const size_t close = text.rfind('"');
  value = close == open ? text.substr(open + 1) : text.substr(open + 1, close - open - 1);
}

std::string formatFloat(float value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return out.str();
}

std::string formatFieldValue(const IntField& field) { return std::to_string(field.value); }

std::string formatFieldValue(const FloatField& field) { return formatFloat(field.value); }

std::string formatFieldValue(const BoolField& field) { return field.value ? "1" : "0"; }

std::string formatFieldValue(const TextField& field) { return field.quoted ? "\"" + field.value + "\"" : field.value; }

std::string formatFieldValue(const YesNoField& field) { return field.value ? "YES" : "NO"; }

}  // namespace daxo
