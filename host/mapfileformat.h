#pragma once

#include <string>
#include <vector>

#include "host/fmrdocument.h"

// The map files the host writes and reads, in the layout of fileio/mapfile.h
// (its writer and reader): the host writes type code 10000, word 5 = 1,
// format level 3 with both extra integers 0 (fileio's writtenMapFile).

namespace daxo::host {

// The bytes of `map` as a map file. Throws std::invalid_argument when an
// extent does not fit 16 bits or the reference name is empty.
std::vector<unsigned char> encodeMapFile(const HostMap& map, const std::string& referenceName);

// Writes `map` to `path` as fileio's saveMapFile does (and with its errors).
void saveMapFile(const std::string& path, const HostMap& map, const std::string& referenceName);

// Reads a map file: every variant fileio's MapFile reads (a type-2 word, a
// slice count taken from the type code, no extra integers). Throws
// std::runtime_error naming the file and the problem for a file that cannot
// be read, is truncated, has no reference name or declares an empty map.
HostMap loadMapFile(const std::string& path);

}  // namespace daxo::host
