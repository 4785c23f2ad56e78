#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "volume/volume.h"

namespace daxo {

// A binary map file (displacement maps are saved as these). Little-endian, no
// padding; "word" is an unsigned 16-bit integer:
//   word typeCode, word slices (0: typeCode % 10000), word rows, word columns,
//   word 5, float, float, [word, only for map type 2], word 6,
//   word formatLevel, [int32, int32, only when formatLevel > 2],
//   reference name (non-empty, zero-terminated),
//   per slice: one word (ignored) and rows x columns floats, x fastest.
// Bytes after the last slice are ignored. The reader below and the writer
// (encodeMapFile) are the one description of this layout.
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

  // Reads the header of the map file at `path`. Throws OpenFileError "could
  // not open file " + path, and ReadFileError "error reading from binary
  // file" when any part cannot be read in full or the reference name is
  // empty. On failure this record is left unchanged.
  void loadHeader(const std::string& path);
  // The header and the voxels, with the same errors; the file's size is
  // checked against the header before the volume is allocated.
  void loadWithData(const std::string& path);

  // Bytes from the start of the file to the end of the last slice, as the
  // header read describes them.
  int64_t expectedFileBytes() const;
};

// The header of a map as this system's host writes it: type code 10000 (a map
// of kind 1, the slice count in its own word), word 5 = 1, word 6 = 0, format
// level 3 with both extra integers 0, extents and voxels from `volume`.
MapFile writtenMapFile(Volume volume, float firstFloat, float secondFloat, const std::string& referenceName);

// The bytes of `map` as a map file: every header field as it stands (the
// slice count in word 2, the type-2 word only for map type 2, the extra
// integers only above format level 2), then the slices of `map.volume`, each
// after a word holding its index. Throws std::invalid_argument when an extent
// or a word does not fit 16 bits, the volume's extents are not the header's,
// or the reference name is empty; MapFile::load reads the bytes back to the
// same record.
std::vector<unsigned char> encodeMapFile(const MapFile& map);

// Writes `map` (encodeMapFile) to `path` through a StagedOutputFile: an
// earlier file of that name is replaced only by a complete one. Throws
// std::runtime_error "could not save map file PATH: REASON" when the map
// cannot be encoded, the name is refused (a link, pipe or device) or the file
// cannot be written in full (a full disk included); the file on disk is then
// unchanged.
void saveMapFile(const std::string& path, const MapFile& map);

}  // namespace daxo
