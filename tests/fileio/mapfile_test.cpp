#include "fileio/mapfile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "fileio/binaryread.h"
#include "fileio/fileerrors.h"
#include "tests/fileio/fileimages.h"
#include "testsupport/thrownmessage.h"
#include "testsupport/volumes.h"

namespace daxo {
namespace {

using testing::floatBytes;
using testing::identicalBytes;
using testing::int32Bytes;
using testing::TempFolder;
using testing::thrownMessage;
using testing::uint16Bytes;
using testing::writeFile;

// The header of a map file, built field by field.
struct MapImage {
  uint16_t typeCode = 10000;
  uint16_t slicesWord = 0;
  uint16_t rows = 0;
  uint16_t columns = 0;
  uint16_t word5 = 1;
  float firstFloat = 0.0f;
  float secondFloat = 0.0f;
  uint16_t type2Word = 0;
  uint16_t word6 = 0;
  uint16_t formatLevel = 3;
  int32_t extra1 = 0;
  int32_t extra2 = 0;
  std::string name = "vdm";

  std::string headerBytes() const {
    std::string b = uint16Bytes({typeCode, slicesWord, rows, columns, word5});
    b += floatBytes({firstFloat, secondFloat});
    if (typeCode / 10000 == 2) b += uint16Bytes({type2Word});
    b += uint16Bytes({word6, formatLevel});
    if (formatLevel > 2) b += int32Bytes({extra1, extra2});
    return b + name + std::string(1, '\0');
  }
};

// A type-1 header of the given extents, the slice count in word 2.
MapImage imageOf(uint16_t slices, uint16_t rows, uint16_t columns) {
  MapImage image;
  image.slicesWord = slices;
  image.rows = rows;
  image.columns = columns;
  return image;
}

// The layout the stand-in host saves a map in: type 1, slices in word 2,
// word 5 = 1, the map's two values, formatLevel 3 with two zero integers, a
// name, then per slice its index and the floats, x fastest.
std::string hostMapFile(const Volume& map, float value1, float value2, const std::string& name) {
  MapImage image =
      imageOf(static_cast<uint16_t>(map.nz()), static_cast<uint16_t>(map.ny()), static_cast<uint16_t>(map.nx()));
  image.firstFloat = value1;
  image.secondFloat = value2;
  image.name = name;
  std::string bytes = image.headerBytes();
  const size_t perSlice = static_cast<size_t>(map.nx()) * static_cast<size_t>(map.ny());
  for (int32_t z = 0; z < map.nz(); ++z) {
    bytes += uint16Bytes({static_cast<uint16_t>(z)});
    bytes += floatBytes(std::vector<float>(map.data() + perSlice * z, map.data() + perSlice * (z + 1)));
  }
  return bytes;
}

std::string slices(int count, int perSlice, float start) {
  std::string bytes;
  for (int z = 0; z < count; ++z) {
    bytes += uint16Bytes({static_cast<uint16_t>(z)});
    std::vector<float> values;
    for (int i = 0; i < perSlice; ++i) values.push_back(start + static_cast<float>(z * perSlice + i));
    bytes += floatBytes(values);
  }
  return bytes;
}

// The reading of a map file's header alone, or with its voxels.
enum class Read { Header, WithData };

void expectReadError(const std::string& path, Read read) {
  MapFile map;
  EXPECT_EQ(thrownMessage<ReadFileError>([&] { read == Read::Header ? map.loadHeader(path) : map.loadWithData(path); }),
            "error reading from binary file");
}

TEST(BinaryRead, LittleEndianValues) {
  std::istringstream in(uint16Bytes({0xfffe}) + int32Bytes({-2}) + floatBytes({1.5f}) + std::string("ab\0", 3));
  EXPECT_EQ(readUInt16(in), 65534);
  EXPECT_EQ(readInt32(in), -2);
  EXPECT_EQ(readFloat32(in), 1.5f);
  EXPECT_EQ(readCString(in), "ab");
}

TEST(BinaryRead, ShortInputAndEmptyStringFail) {
  std::istringstream oneByte(std::string("\x01", 1));
  EXPECT_THROW(readUInt16(oneByte), ReadFileError);
  std::istringstream threeBytes(std::string("\x01\x02\x03", 3));
  EXPECT_THROW(readInt32(threeBytes), ReadFileError);
  std::istringstream empty(std::string("\0x", 2));
  EXPECT_THROW(readCString(empty), ReadFileError);
  std::istringstream unterminated("abc");
  EXPECT_THROW(readCString(unterminated), ReadFileError);
}

TEST(MapFile, ReadsTheHostLayoutBitForBit) {
  TempFolder folder;
  Volume map(3, 2, 4);
  // Values whose bit patterns would suffer from any conversion.
  const float specials[] = {-0.0f, 1e-40f, 3.4e38f, -1.17549435e-38f, 0.1f, -7.25f};
  for (size_t i = 0; i < map.voxelCount(); ++i) map.data()[i] = specials[i % 6] * static_cast<float>(1 + i % 5);
  writeFile(folder.file("run1_vdm.map"), hostMapFile(map, -2.5f, 2.5f, "run1_vdm"));

  MapFile read;
  read.loadWithData(folder.file("run1_vdm.map"));
  EXPECT_EQ(read.fileName, folder.file("run1_vdm.map"));
  EXPECT_EQ(read.typeCode, 10000);
  EXPECT_EQ(read.mapType, 1);
  EXPECT_EQ(read.volume.dimensions(), (Dimensions{3, 2, 4}));
  EXPECT_EQ(read.word5, 1);
  EXPECT_EQ(read.firstFloat, -2.5f);
  EXPECT_EQ(read.secondFloat, 2.5f);
  EXPECT_EQ(read.formatLevel, 3);
  EXPECT_EQ(read.referenceName, "run1_vdm");
  EXPECT_TRUE(identicalBytes(read.volume, map));
  EXPECT_EQ(read.expectedFileBytes(), static_cast<int64_t>(testing::readFile(folder.file("run1_vdm.map")).size()));
}

TEST(MapFile, SliceCountFromTypeCodeWhenWordTwoIsZero) {
  TempFolder folder;
  MapImage type2 = imageOf(0, 1, 2);
  type2.typeCode = 20030;
  type2.type2Word = 7;
  writeFile(folder.file("a.map"), type2.headerBytes() + slices(30, 2, 0.0f));
  MapFile map;
  map.loadWithData(folder.file("a.map"));
  EXPECT_EQ(map.mapType, 2);
  EXPECT_EQ(map.nrOfSlices, 30);
  EXPECT_EQ(map.type2Word, 7);
  EXPECT_EQ(map.volume(1, 0, 29), 59.0f);

  MapImage type1 = type2;
  type1.typeCode = 10030;
  writeFile(folder.file("b.map"), type1.headerBytes() + slices(30, 2, 0.0f));
  map.loadWithData(folder.file("b.map"));
  EXPECT_EQ(map.mapType, 1);
  EXPECT_EQ(map.nrOfSlices, 30);
  EXPECT_EQ(map.type2Word, 0);

  MapImage wordWins = type2;
  wordWins.typeCode = 20000;
  wordWins.slicesWord = 25;
  writeFile(folder.file("c.map"), wordWins.headerBytes() + slices(25, 2, 0.0f));
  map.loadWithData(folder.file("c.map"));
  EXPECT_EQ(map.nrOfSlices, 25);
}

TEST(MapFile, FormatLevelTwoHasNoExtraIntegers) {
  TempFolder folder;
  MapImage level2 = imageOf(1, 1, 1);
  level2.formatLevel = 2;
  writeFile(folder.file("a.map"), level2.headerBytes() + slices(1, 1, 4.0f));
  MapFile map;
  map.loadWithData(folder.file("a.map"));
  EXPECT_EQ(map.referenceName, "vdm");
  EXPECT_EQ(map.volume(0, 0, 0), 4.0f);

  MapImage level3 = level2;
  level3.formatLevel = 3;
  level3.extra1 = -5;
  level3.extra2 = 9;
  writeFile(folder.file("b.map"), level3.headerBytes() + slices(1, 1, 4.0f));
  map.loadWithData(folder.file("b.map"));
  EXPECT_EQ(map.firstExtraInt, -5);
  EXPECT_EQ(map.secondExtraInt, 9);
  EXPECT_EQ(map.volume(0, 0, 0), 4.0f);
}

TEST(MapFile, ZeroSlicesGiveAnEmptyVolumeWithTheMapsExtents) {
  TempFolder folder;
  const MapImage image = imageOf(0, 4, 5);
  writeFile(folder.file("a.map"), image.headerBytes());
  MapFile map;
  map.loadWithData(folder.file("a.map"));
  EXPECT_EQ(map.volume.dimensions(), (Dimensions{5, 4, 0}));
}

TEST(MapFile, TrailingBytesAreIgnoredAndHeaderOnlyLoadReadsNoVoxels) {
  TempFolder folder;
  const MapImage image = imageOf(2, 2, 2);
  writeFile(folder.file("a.map"), image.headerBytes() + slices(2, 4, 1.0f) + "extra");
  MapFile map;
  map.loadWithData(folder.file("a.map"));
  EXPECT_EQ(map.volume(1, 1, 1), 8.0f);
  map.loadHeader(folder.file("a.map"));
  EXPECT_EQ(map.volume.voxelCount(), 0u);
  EXPECT_EQ(map.nrOfSlices, 2);
}

TEST(MapFile, TruncatedOrEmptyNamedFilesFail) {
  TempFolder folder;
  const MapImage image = imageOf(2, 2, 2);
  const std::string whole = image.headerBytes() + slices(2, 4, 1.0f);
  writeFile(folder.file("cut.map"), whole.substr(0, whole.size() - 1));
  expectReadError(folder.file("cut.map"), Read::WithData);
  // Every cut inside the header fails too, with or without data.
  const size_t headerSize = image.headerBytes().size();
  for (size_t cut = 0; cut < headerSize; ++cut) {
    writeFile(folder.file("head.map"), whole.substr(0, cut));
    expectReadError(folder.file("head.map"), Read::Header);
  }
  MapImage unnamed = image;
  unnamed.name = "";
  writeFile(folder.file("unnamed.map"), unnamed.headerBytes() + slices(2, 4, 1.0f));
  expectReadError(folder.file("unnamed.map"), Read::WithData);
}

TEST(MapFile, HugeDeclaredExtentsInASmallFileFailBeforeAllocating) {
  TempFolder folder;
  const MapImage image = imageOf(65535, 65535, 65535);
  writeFile(folder.file("huge.map"), image.headerBytes() + slices(1, 4, 0.0f));
  expectReadError(folder.file("huge.map"), Read::WithData);
}

TEST(MapFile, FailedLoadLeavesTheRecordAndMissingFileIsAnOpenError) {
  TempFolder folder;
  const MapImage image = imageOf(1, 1, 1);
  writeFile(folder.file("good.map"), image.headerBytes() + slices(1, 1, 3.0f));
  writeFile(folder.file("bad.map"), image.headerBytes());
  MapFile map;
  map.loadWithData(folder.file("good.map"));
  EXPECT_THROW(map.loadWithData(folder.file("bad.map")), ReadFileError);
  EXPECT_EQ(map.fileName, folder.file("good.map"));
  EXPECT_EQ(map.volume(0, 0, 0), 3.0f);
  EXPECT_EQ(thrownMessage<OpenFileError>([&] { map.loadWithData(folder.file("none.map")); }),
            "could not open file " + folder.file("none.map"));
}

TEST(MapFile, WriterGivesTheHostLayoutBitForBit) {
  Volume map(3, 2, 4);
  const float specials[] = {-0.0f, 1e-40f, 3.4e38f, -1.17549435e-38f, 0.1f, -7.25f};
  for (size_t i = 0; i < map.voxelCount(); ++i) map.data()[i] = specials[i % 6] * static_cast<float>(1 + i % 5);
  const std::vector<unsigned char> written = encodeMapFile(writtenMapFile(map, -2.5f, 2.5f, "run1_vdm"));
  EXPECT_EQ(std::string(written.begin(), written.end()), hostMapFile(map, -2.5f, 2.5f, "run1_vdm"));
}

// Every header variant the reader knows reads back as written, field for
// field, and the file has the size the header describes.
TEST(MapFile, WriterAndReaderAgreeOnEveryVariant) {
  struct Variant {
    const char* name;
    int32_t typeCode, type2Word, formatLevel, extra1, extra2;
  };
  const Variant variants[] = {{"type1", 10000, 0, 3, 0, 0},
                              {"type2", 20000, 7, 3, -5, 65536},
                              {"level2", 10000, 0, 2, 0, 0},
                              {"type2level1", 20003, 9, 1, 0, 0}};
  TempFolder folder;
  for (const Variant& v : variants) {
    Volume values(2, 3, 2);
    for (size_t i = 0; i < values.voxelCount(); ++i) values.data()[i] = static_cast<float>(i) - 4.5f;
    MapFile record = writtenMapFile(values, 1.0f, 5.0f, v.name);
    record.typeCode = v.typeCode;
    record.mapType = v.typeCode / 10000;
    record.type2Word = v.type2Word;
    record.word6 = 4;
    record.formatLevel = v.formatLevel;
    record.firstExtraInt = v.extra1;
    record.secondExtraInt = v.extra2;
    const std::vector<unsigned char> bytes = encodeMapFile(record);
    const std::string path = folder.file(std::string(v.name) + ".map");
    writeFile(path, std::string(bytes.begin(), bytes.end()));

    MapFile read;
    read.loadWithData(path);
    EXPECT_EQ(read.typeCode, record.typeCode) << v.name;
    EXPECT_EQ(read.mapType, record.mapType) << v.name;
    EXPECT_EQ(read.word5, 1) << v.name;
    EXPECT_EQ(read.type2Word, record.mapType == 2 ? v.type2Word : 0) << v.name;
    EXPECT_EQ(read.word6, 4) << v.name;
    EXPECT_EQ(read.formatLevel, v.formatLevel) << v.name;
    EXPECT_EQ(read.firstExtraInt, v.formatLevel > 2 ? v.extra1 : 0) << v.name;
    EXPECT_EQ(read.secondExtraInt, v.formatLevel > 2 ? v.extra2 : 0) << v.name;
    EXPECT_EQ(read.referenceName, v.name);
    EXPECT_TRUE(identicalBytes(read.volume, values)) << v.name;
    EXPECT_EQ(read.expectedFileBytes(), static_cast<int64_t>(bytes.size())) << v.name;
  }
}

TEST(MapFile, WriterRefusesWhatTheLayoutCannotHold) {
  EXPECT_THROW(encodeMapFile(writtenMapFile(Volume(70000, 1, 1), 0.0f, 0.0f, "wide")), std::invalid_argument);
  EXPECT_THROW(encodeMapFile(writtenMapFile(Volume(1, 1, 1), 0.0f, 0.0f, "")), std::invalid_argument);
  MapFile mismatched = writtenMapFile(Volume(2, 2, 2), 0.0f, 0.0f, "vdm");
  mismatched.nrOfSlices = 3;
  EXPECT_THROW(encodeMapFile(mismatched), std::invalid_argument);
}

}  // namespace
}  // namespace daxo
