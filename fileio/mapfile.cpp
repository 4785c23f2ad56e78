#include "fileio/mapfile.h"

#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>
#include <utility>

#include "fileio/binaryread.h"
#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/stagedoutputfile.h"

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

// Little-endian values appended to a byte buffer.
class ByteWriter {
 public:
  void u16(int32_t value) {
    bytes_.push_back(static_cast<unsigned char>(value & 0xFF));
    bytes_.push_back(static_cast<unsigned char>((value >> 8) & 0xFF));
  }
  void u32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<unsigned char>((value >> shift) & 0xFFu));
  }
  void i32(int32_t value) { u32(static_cast<uint32_t>(value)); }
  void f32(float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    u32(bits);
  }
  void text(const std::string& value) {
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    bytes_.push_back(0);
  }
  std::vector<unsigned char>& bytes() { return bytes_; }

 private:
  std::vector<unsigned char> bytes_;
};

constexpr int32_t kMaxWord = 65535;

bool isWord(int32_t value) { return value >= 0 && value <= kMaxWord; }

void checkWritable(const MapFile& map) {
  if (!isWord(map.nrOfColumns) || !isWord(map.nrOfRows) || !isWord(map.nrOfSlices)) {
    throw std::invalid_argument("map extents " + std::to_string(map.nrOfColumns) + " x " +
                                std::to_string(map.nrOfRows) + " x " + std::to_string(map.nrOfSlices) +
                                " do not fit a map file (at most 65535 each)");
  }
  for (const int32_t word : {map.typeCode, map.word5, map.type2Word, map.word6, map.formatLevel}) {
    if (!isWord(word))
      throw std::invalid_argument("a map file's header word must be 0 to 65535, not " + std::to_string(word));
  }
  if (map.volume.dimensions() != Dimensions{map.nrOfColumns, map.nrOfRows, map.nrOfSlices}) {
    throw std::invalid_argument("the map's voxels do not have the extents of its header");
  }
  if (map.referenceName.empty()) throw std::invalid_argument("a map file needs a non-empty reference name");
}

// The header of the map file at `path` in a fresh record, and `in` open
// after it.
MapFile readMapHeader(const std::string& path, std::ifstream& in) {
  MapFile fresh;
  fresh.fileName = path;
  if (!openInputFile(in, path)) throw OpenFileError("could not open file " + path);
  readHeader(in, fresh);
  return fresh;
}

}  // namespace

void MapFile::loadHeader(const std::string& path) {
  std::ifstream in;
  *this = readMapHeader(path, in);
}

void MapFile::loadWithData(const std::string& path) {
  std::ifstream in;
  MapFile fresh = readMapHeader(path, in);
  try {
    readSlices(in, fresh);
  } catch (const std::bad_alloc&) {
    // More than a volume can hold (over 2^31 voxels) in a file that is
    // really that large.
    throw ReadFileError("Map is too large to load: " + path);
  }
  *this = std::move(fresh);
}

int64_t MapFile::expectedFileBytes() const {
  int64_t header = 2 * 5 + 4 * 2 + (mapType == 2 ? 2 : 0) + 2 * 2 + (formatLevel > 2 ? 8 : 0);
  header += static_cast<int64_t>(referenceName.size()) + 1;
  return header + nrOfSlices * sliceBytes(nrOfRows, nrOfColumns);
}

MapFile writtenMapFile(Volume volume, float firstFloat, float secondFloat, const std::string& referenceName) {
  MapFile map;
  map.typeCode = 10000;
  map.mapType = 1;
  map.nrOfColumns = volume.dimensions().x;
  map.nrOfRows = volume.dimensions().y;
  map.nrOfSlices = volume.dimensions().z;
  map.word5 = 1;
  map.firstFloat = firstFloat;
  map.secondFloat = secondFloat;
  map.formatLevel = 3;
  map.referenceName = referenceName;
  map.volume = std::move(volume);
  return map;
}

std::vector<unsigned char> encodeMapFile(const MapFile& map) {
  checkWritable(map);
  ByteWriter out;
  out.u16(map.typeCode);
  out.u16(map.nrOfSlices);
  out.u16(map.nrOfRows);
  out.u16(map.nrOfColumns);
  out.u16(map.word5);
  out.f32(map.firstFloat);
  out.f32(map.secondFloat);
  if (map.typeCode / 10000 == 2) out.u16(map.type2Word);
  out.u16(map.word6);
  out.u16(map.formatLevel);
  if (map.formatLevel > 2) {
    out.i32(map.firstExtraInt);
    out.i32(map.secondExtraInt);
  }
  out.text(map.referenceName);
  const size_t perSlice = static_cast<size_t>(map.nrOfRows) * static_cast<size_t>(map.nrOfColumns);
  for (int32_t z = 0; z < map.nrOfSlices; ++z) {
    out.u16(z);
    const float* slice = map.volume.data() + perSlice * static_cast<size_t>(z);
    for (size_t i = 0; i < perSlice; ++i) out.f32(slice[i]);
  }
  return std::move(out.bytes());
}

void saveMapFile(const std::string& path, const MapFile& map) {
  const auto fail = [&path](const std::string& reason) {
    throw std::runtime_error("could not save map file " + path + ": " + reason);
  };
  std::vector<unsigned char> bytes;
  try {
    bytes = encodeMapFile(map);
  } catch (const std::invalid_argument& e) {
    fail(e.what());
  }
  StagedOutputFile file(path);
  if (!file.isOpen()) fail(file.problem());
  file.stream().write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  try {
    file.commit();
  } catch (const std::exception&) {
    fail(file.problem());
  }
}

}  // namespace daxo
