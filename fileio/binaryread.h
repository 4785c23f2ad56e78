#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

namespace daxo {

// Readers of little-endian binary values. Each throws ReadFileError with the
// text "error reading from binary file" when the stream cannot deliver all of
// its bytes (the stream is then failed); nothing is returned in that case.

// Two bytes, unsigned, widened: 0 to 65535.
int32_t readUInt16(std::istream& in);
// Four bytes, two's complement.
int32_t readInt32(std::istream& in);
// Four bytes, IEEE single precision.
float readFloat32(std::istream& in);
// The bytes up to the first zero byte, which is consumed. An empty string (a
// zero byte first) is refused with the same error, so the result is never
// empty.
std::string readCString(std::istream& in);
// `count` consecutive floats into `out`, read as one block.
void readFloat32Block(std::istream& in, float* out, size_t count);

}  // namespace daxo
