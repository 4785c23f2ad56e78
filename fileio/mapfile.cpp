#include "fileio/mapfile.h"

#include <fstream>
#include <new>

#include "fileio/binaryread.h"
#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"

namespace daxo {

namespace {

const char* const kReadError = "error reading from binary file";

int64_t sliceBytes(int32_t rows, int32_t columns) { return 2 + 4 * static_cast<int64_t>(rows) * columns; }

void readHeader(std::istream& in, MapFile& map) {
  map.typeCode = readUInt16(in);
  map.mapType = map.typeCode / 10000;
  const int32_t slices = readUInt16(in);
  map.nrOfSlices = slices != 0 ? slices : map.typeCode % 10000;
  map.nrOfRows = readUInt16(in);
  map.nrOfColumns = readUInt16(in);
  map.word5 = readUInt16(in);
  map.firstFloat = readFloat32(in);
  map.secondFloat = readFloat32(in);
  map.type2Word = map.mapType == 2 ? readUInt16(in) : 0;
  map.word6 = readUInt16(in);
  map.formatLevel = readUInt16(in);
  if (map.formatLevel > 2) {
    map.firstExtraInt = readInt32(in);
    map.secondExtraInt = readInt32(in);
  }
  map.referenceName = readCString(in);
}

void readSlices(std::istream& in, MapFile& map) {
  // Extents are at most 65535 each, so the slice data's size fits in 64 bits.
  const int64_t left = bytesLeft(in);
  if (left >= 0 && left < map.nrOfSlices * sliceBytes(map.nrOfRows, map.nrOfColumns)) {
    throw ReadFileError(kReadError);
  }
  Volume volume(map.nrOfColumns, map.nrOfRows, map.nrOfSlices);
  const size_t perSlice = static_cast<size_t>(map.nrOfRows) * static_cast<size_t>(map.nrOfColumns);
  for (int32_t z = 0; z < map.nrOfSlices; ++z) {
    readUInt16(in);  // the slice's word carries nothing the reader needs
    readFloat32Block(in, volume.data() + perSlice * static_cast<size_t>(z), perSlice);
  }
  map.volume = std::move(volume);
}

}  // namespace

void MapFile::load(const std::string& path, bool withData) {
  MapFile fresh;
  fresh.fileName = path;
  std::ifstream in;
  if (!openInputFile(in, path)) throw OpenFileError("could not open file " + path);
  readHeader(in, fresh);
  if (withData) {
    try {
      readSlices(in, fresh);
    } catch (const std::bad_alloc&) {
      // More than a volume can hold (over 2^31 voxels) in a file that is
      // really that large.
      throw ReadFileError("Map is too large to load: " + path);
    }
  }
  *this = std::move(fresh);
}

int64_t MapFile::expectedFileBytes() const {
  int64_t header = 2 * 5 + 4 * 2 + (mapType == 2 ? 2 : 0) + 2 * 2 + (formatLevel > 2 ? 8 : 0);
  header += static_cast<int64_t>(referenceName.size()) + 1;
  return header + nrOfSlices * sliceBytes(nrOfRows, nrOfColumns);
}

}  // namespace daxo
