#pragma once

#include <string>
#include <vector>

#include "host/fmrdocument.h"

// The map files the host writes and reads. All numbers little-endian:
//   uint16 typeCode = 10000, uint16 nz, uint16 ny, uint16 nx, uint16 1,
//   float32 first map value, float32 second map value,
//   uint16 0, uint16 formatLevel = 3, int32 0, int32 0,
//   reference name (at least one byte) and a zero byte,
//   then per slice z: uint16 z and ny * nx float32, x fastest.

namespace daxo::host {

constexpr unsigned kMapTypeCode = 10000;
constexpr unsigned kMapFormatLevel = 3;

// The bytes of `map` as a map file. Throws std::invalid_argument when an
// extent does not fit 16 bits or the reference name is empty.
std::vector<unsigned char> encodeMapFile(const HostMap& map, const std::string& referenceName);

// Writes `map` to `path` through a StagedOutputFile: an earlier file of that
// name is replaced only by a complete one. Throws std::runtime_error naming
// the file and the reason when the name is refused (a link, pipe or device)
// or the file cannot be written in full (a full disk included); the file on
// disk is then unchanged.
void saveMapFile(const std::string& path, const HostMap& map, const std::string& referenceName);

// Reads a map file: the layout above, and also its variants with a type-2
// word (typeCode / 10000 == 2), a slice count taken from typeCode when word 2
// is 0, and no extra integers (formatLevel <= 2). Throws std::runtime_error
// naming the file and the problem for a file that cannot be read, is
// truncated, has no reference name or declares an empty map.
HostMap loadMapFile(const std::string& path);

}  // namespace daxo::host
