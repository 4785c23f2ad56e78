#include "tests/fileio/fileimages.h"

#include <cstring>

namespace daxo::testing {

std::string headerText(const std::vector<std::string>& lines) {
  std::string text = "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

namespace {

// Each value's bit pattern, lowest byte first, whatever the host's order.
template <typename Bits, typename T>
std::string littleEndianBytes(const std::vector<T>& values) {
  static_assert(sizeof(Bits) == sizeof(T), "bit pattern of the same size");
  std::string bytes;
  for (T v : values) {
    Bits bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    for (size_t i = 0; i < sizeof bits; ++i) bytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xffu));
  }
  return bytes;
}

}  // namespace

std::string int16Bytes(const std::vector<int16_t>& values) { return littleEndianBytes<uint16_t>(values); }
std::string uint16Bytes(const std::vector<uint16_t>& values) { return littleEndianBytes<uint16_t>(values); }
std::string int32Bytes(const std::vector<int32_t>& values) { return littleEndianBytes<uint32_t>(values); }
std::string floatBytes(const std::vector<float>& values) { return littleEndianBytes<uint32_t>(values); }

}  // namespace daxo::testing
