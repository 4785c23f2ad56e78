#pragma once

#include <cstdint>
#include <string>

#include "volume/volume.h"

namespace daxo {

// A binary map file (displacement maps are saved as these). Little-endian, no
// padding; "word" is an unsigned 16-bit integer:
//   word typeCode, word slices (0: typeCode % 10000), word rows, word columns,
//   word 5, float, float, [word, only for map type 2], word 6,
//   word formatLevel, [int32, int32, only when formatLevel > 2],
//   reference name (non-empty, zero-terminated),
//   per slice: one word (ignored) and rows x columns floats, x fastest.
// Bytes after the last slice are ignored.
class MapFile {
 public:
  std::string fileName;
  int32_t typeCode = 0;     // 0 to 65535
  int32_t mapType = 0;      // typeCode / 10000
  int32_t nrOfSlices = 0;   // z extent
  int32_t nrOfRows = 0;     // y extent
  int32_t nrOfColumns = 0;  // x extent
  // Kept as read; their meaning belongs to whoever wrote the map.
  int32_t word5 = 0;
  float firstFloat = 0.0f;
  float secondFloat = 0.0f;
  int32_t type2Word = 0;  // 0 unless mapType is 2
  int32_t word6 = 0;
  int32_t formatLevel = 0;
  int32_t firstExtraInt = 0;  // 0 unless formatLevel > 2
  int32_t secondExtraInt = 0;
  std::string referenceName;
  // Extents (nrOfColumns, nrOfRows, nrOfSlices); empty unless data were read.
  Volume volume;

  // Reads the map file at `path`, with its voxels when withData is set.
  // Throws OpenFileError "could not open file " + path, and ReadFileError
  // "error reading from binary file" when any part cannot be read in full or
  // the reference name is empty. The file's size is checked against the
  // header before the volume is allocated. On failure this record is left
  // unchanged.
  void load(const std::string& path, bool withData);

  // Bytes from the start of the file to the end of the last slice, as the
  // header read describes them.
  int64_t expectedFileBytes() const;
};

}  // namespace daxo
