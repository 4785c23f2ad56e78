#include "fileio/binaryread.h"

#include <cstring>

#include "fileio/byteorder.h"
#include "fileio/fileerrors.h"

namespace daxo {

namespace {

const char* const kReadError = "error reading from binary file";

void readExactly(std::istream& in, void* out, size_t bytes) {
  in.read(static_cast<char*>(out), static_cast<std::streamsize>(bytes));
  if (!in || static_cast<size_t>(in.gcount()) != bytes) throw ReadFileError(kReadError);
}

uint32_t readLittleEndian32(std::istream& in) {
  unsigned char b[4];
  readExactly(in, b, 4);
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}

}  // namespace

int32_t readUInt16(std::istream& in) {
  unsigned char b[2];
  readExactly(in, b, 2);
  return static_cast<int32_t>(b[0]) | static_cast<int32_t>(b[1]) << 8;
}

int32_t readInt32(std::istream& in) {
  const uint32_t bits = readLittleEndian32(in);
  int32_t value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

float readFloat32(std::istream& in) {
  const uint32_t bits = readLittleEndian32(in);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

std::string readCString(std::istream& in) {
  std::string text;
  for (;;) {
    const int c = in.get();
    if (c == std::char_traits<char>::eof()) throw ReadFileError(kReadError);
    if (c == 0) break;
    text.push_back(static_cast<char>(c));
  }
  if (text.empty()) throw ReadFileError(kReadError);
  return text;
}

void readFloat32Block(std::istream& in, float* out, size_t count) {
  static_assert(sizeof(float) == 4, "IEEE single precision expected");
  if (count == 0) return;
  readExactly(in, out, count * sizeof(float));
  littleEndianToHost(out, count, sizeof(float));
}

}  // namespace daxo
