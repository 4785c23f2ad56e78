#include "fileio/headerformat.h"

namespace daxo {

const char* const kPositionBlockHeading = "PositionInformationFromImageHeaders";

namespace {

const char* const kBlockOpeningKey = "PosInfosVerified:";
const char* const kBlockClosingKey = "GapThickness:";

const HeaderKey* findKey(const HeaderKeys& keys, const std::string& token, KeyPlace place) {
  for (const HeaderKey& k : keys) {
    if (k.place == place && k.key == token) return &k;
  }
  return nullptr;
}

void readValue(std::istream& in, const std::string& token, const HeaderKey& key) {
  std::visit([&](auto* field) { readFieldValue(in, token, *field); }, key.field);
}

void readPositionBlock(std::istream& in, const HeaderKeys& keys) {
  std::string token = kPositionBlockHeading;
  while (in.good() && token != kBlockClosingKey) {
    if (!(in >> token)) return;
    if (const HeaderKey* key = findKey(keys, token, KeyPlace::Block)) readValue(in, token, *key);
  }
}

bool isPresent(const FieldRef& field) {
  return std::visit([](const auto* f) { return f->present; }, field);
}

// The key padded to the field's width. A width that leaves no blank (a value
// that stood on the next line) still gets one blank before a non-empty value;
// a key glued to its value would not be recognised when the file is read back.
void writeKeyAndValue(std::ostream& out, const std::string& name, int32_t width, const std::string& value) {
  const std::string key = name + ":";
  size_t padded = width > 0 ? static_cast<size_t>(width) : 0;
  if (!value.empty() && padded <= key.size()) padded = key.size() + 1;
  out << key;
  if (padded > key.size()) out << std::string(padded - key.size(), ' ');
  out << value;
}

}  // namespace

void readKeyedHeader(std::istream& in, const HeaderKeys& keys, const AfterKeyRead& afterRead) {
  std::string token;
  while (in.good()) {
    if (!(in >> token)) return;
    if (token == kPositionBlockHeading) {
      readPositionBlock(in, keys);
      continue;
    }
    const HeaderKey* key = findKey(keys, token, KeyPlace::Outer);
    if (!key) continue;
    readValue(in, token, *key);
    if (afterRead) afterRead(*key, in);
  }
}

void writeKeyedHeader(std::ostream& out, const HeaderKeys& keys, const AfterKeyWritten& afterWritten) {
  writeLineEnds(out, 1);
  for (const HeaderKey& key : keys) {
    if (!isPresent(key.field)) continue;
    if (key.key == kBlockOpeningKey) {
      writeLineEnds(out, 1);
      out << kPositionBlockHeading;
      writeLineEnds(out, 2);
    }
    std::visit(
        [&](const auto* f) {
          // A field set up by a caller may lack the name that reading gives it.
          const std::string name = f->name.empty() ? key.key.substr(0, key.key.size() - 1) : f->name;
          writeKeyAndValue(out, name, f->width, formatFieldValue(*f));
        },
        key.field);
    writeLineEnds(out, key.lineEnds);
    if (afterWritten && key.place == KeyPlace::Outer) afterWritten(key, out);
  }
}

void writeLineEnds(std::ostream& out, int count) {
  for (int i = 0; i < count; ++i) out << "\r\n";
}

void discardToken(std::istream& in) {
  std::string token;
  in >> token;
}

}  // namespace daxo
