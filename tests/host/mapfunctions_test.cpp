// The host's map functions and the map files they write, checked against a
// reader written here from the file layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/hostfunctions.h"
#include "host/hoststate.h"
#include "host/mapfileformat.h"
#include "testsupport/testfiles.h"

namespace {

using daxo::MapHeaderRecord;
using daxo::host::hostState;
using daxo::testing::readFile;
using daxo::testing::TempFolder;
using daxo::testing::writeFile;

// A map file as laid out by the host, read field by field.
struct ReadMap {
  unsigned typeCode = 0, nz = 0, ny = 0, nx = 0, word5 = 0;
  float first = 0, second = 0;
  unsigned word6 = 0, formatLevel = 0;
  int32_t extra1 = -1, extra2 = -1;
  std::string name;
  std::vector<unsigned> sliceWords;
  std::vector<float> values;
  size_t trailingBytes = 0;
};

ReadMap readMap(const std::string& file) {
  const std::vector<unsigned char> b(file.begin(), file.end());
  size_t p = 0;
  auto u16 = [&] {
    unsigned v = b.at(p) | (b.at(p + 1) << 8);
    p += 2;
    return v;
  };
  auto u32 = [&] {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b.at(p + i)) << (8 * i);
    p += 4;
    return v;
  };
  auto f32 = [&] {
    uint32_t bits = u32();
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
  };
  ReadMap m;
  m.typeCode = u16();
  m.nz = u16();
  m.ny = u16();
  m.nx = u16();
  m.word5 = u16();
  m.first = f32();
  m.second = f32();
  m.word6 = u16();
  m.formatLevel = u16();
  m.extra1 = static_cast<int32_t>(u32());
  m.extra2 = static_cast<int32_t>(u32());
  while (b.at(p) != 0) m.name.push_back(static_cast<char>(b.at(p++)));
  ++p;
  for (unsigned z = 0; z < m.nz; ++z) {
    m.sliceWords.push_back(u16());
    for (unsigned i = 0; i < m.nx * m.ny; ++i) m.values.push_back(f32());
  }
  m.trailingBytes = b.size() - p;
  return m;
}

// Creates a map in the current document, fills voxel (x, y, z) with
// fill(x, y, z) through the slice pointers and sets its values, as the
// plugin does.
void addMap(float (*fill)(int, int, int), float first, float second) {
  ASSERT_EQ(hvCreateMAPForCurrentFMR(), 1);
  MapHeaderRecord header{};
  float** slices = hvGetMAPOfCurrentFMR(&header);
  ASSERT_NE(slices, nullptr);
  for (int z = 0; z < header.DimZ; ++z)
    for (int y = 0; y < header.DimY; ++y)
      for (int x = 0; x < header.DimX; ++x) slices[z][y * header.DimX + x] = fill(x, y, z);
  header.mapKind = 1;
  header.firstValue = first;
  header.secondValue = second;
  header.word28 = 0;
  ASSERT_EQ(hvSetMAPParametersOfCurrentFMR(&header), 1);
}

float firstPattern(int x, int y, int z) { return static_cast<float>(100 * z + 10 * y + x); }
float secondPattern(int x, int y, int z) { return -0.25f * static_cast<float>(x + 3 * y + 7 * z); }

class HostMaps : public ::testing::Test {
 protected:
  void SetUp() override {
    daxo::host::resetHostState();
    hostState().errors.setObserver([this](const std::string& message) { observed.push_back(message); });
  }

  TempFolder dir;
  std::vector<std::string> observed;
};

TEST_F(HostMaps, GetFillsTheExtentsAndLeavesTheHostsBytesAlone) {
  hostState().openDocument("run1.fmr", {4, 3, 2});
  ASSERT_EQ(hvCreateMAPForCurrentFMR(), 1);
  MapHeaderRecord header;
  std::memset(&header, 0xAB, sizeof header);
  float** slices = hvGetMAPOfCurrentFMR(&header);
  ASSERT_NE(slices, nullptr);
  EXPECT_EQ(header.DimX, 4);
  EXPECT_EQ(header.DimY, 3);
  EXPECT_EQ(header.DimZ, 2);
  for (unsigned char byte : header.reserved24) EXPECT_EQ(byte, 0xAB);
  for (unsigned char byte : header.reserved32) EXPECT_EQ(byte, 0xAB);
  // A new map is zero; its slices are contiguous rows of DimX values.
  EXPECT_EQ(slices[1][11], 0.0f);
  EXPECT_EQ(slices[1], slices[0] + 12);
}

TEST_F(HostMaps, GetGivesNoMapWithoutDocumentOrMap) {
  MapHeaderRecord header{};
  EXPECT_EQ(hvGetMAPOfCurrentFMR(&header), nullptr);
  hostState().openDocument("run1.fmr", {2, 2, 2});
  EXPECT_EQ(hvGetMAPOfCurrentFMR(&header), nullptr);
}

TEST_F(HostMaps, SaveWritesTheNewestMapInTheFileLayout) {
  hostState().openDocument("run1.fmr", {3, 2, 2});
  addMap(firstPattern, 1.0f, 5.0f);
  addMap(secondPattern, 0.1f, 1.0f);
  const std::string path = dir.file("run1_vdmderiv.map");
  ASSERT_EQ(hvSaveMAPsOfCurrentFMR(path.c_str()), 1);
  EXPECT_TRUE(observed.empty());

  const ReadMap m = readMap(readFile(path));
  EXPECT_EQ(m.typeCode, 10000u);
  EXPECT_EQ(m.nz, 2u);
  EXPECT_EQ(m.ny, 2u);
  EXPECT_EQ(m.nx, 3u);
  EXPECT_EQ(m.word5, 1u);
  EXPECT_EQ(m.first, 0.1f);
  EXPECT_EQ(m.second, 1.0f);
  EXPECT_EQ(m.word6, 0u);
  EXPECT_EQ(m.formatLevel, 3u);
  EXPECT_EQ(m.extra1, 0);
  EXPECT_EQ(m.extra2, 0);
  EXPECT_EQ(m.name, "run1.fmr");
  EXPECT_EQ(m.sliceWords, (std::vector<unsigned>{0, 1}));
  EXPECT_EQ(m.trailingBytes, 0u);
  ASSERT_EQ(m.values.size(), 12u);
  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(m.values[(z * 2 + y) * 3 + x], secondPattern(x, y, z));
}

TEST_F(HostMaps, DocumentWithoutNameStillWritesAReferenceName) {
  hostState().openDocument("", {1, 1, 1});
  addMap(firstPattern, 1.0f, 5.0f);
  const std::string path = dir.file("a.map");
  ASSERT_EQ(hvSaveMAPsOfCurrentFMR(path.c_str()), 1);
  EXPECT_FALSE(readMap(readFile(path)).name.empty());
}

TEST_F(HostMaps, LoadReadsASavedMapBackAndShowsIt) {
  hostState().openDocument("run1.fmr", {3, 2, 2});
  addMap(firstPattern, 1.0f, 5.0f);
  const std::string path = dir.file("run1_vdm.map");
  ASSERT_EQ(hvSaveMAPsOfCurrentFMR(path.c_str()), 1);

  ASSERT_EQ(hvLoadMAPsToCurrentFMR(path.c_str()), 1);
  EXPECT_EQ(hostState().document->shownMapFiles(), std::vector<std::string>{path});
  ASSERT_EQ(hostState().document->maps().size(), 2u);
  const daxo::host::HostMap& loaded = *hostState().document->maps().back();
  EXPECT_EQ(loaded.values(), hostState().document->maps().front()->values());
  EXPECT_EQ(loaded.kind, 1);
  EXPECT_EQ(loaded.firstValue, 1.0f);
  EXPECT_EQ(loaded.secondValue, 5.0f);
}

TEST_F(HostMaps, FailedSavesAreReportedNotSilent) {
  hostState().openDocument("run1.fmr", {3, 2, 2});
  EXPECT_EQ(hvSaveMAPsOfCurrentFMR(dir.file("nothing.map").c_str()), 0);  // no map yet
  addMap(firstPattern, 1.0f, 5.0f);
  EXPECT_EQ(hvSaveMAPsOfCurrentFMR("/dev/full"), 0);
  EXPECT_EQ(hvSaveMAPsOfCurrentFMR(dir.file("missing/folder/run1_vdm.map").c_str()), 0);

  ASSERT_EQ(observed.size(), 3u);
  EXPECT_EQ(observed, hostState().errors.reported());
  EXPECT_NE(observed[0].find("has no map"), std::string::npos) << observed[0];
  EXPECT_NE(observed[1].find("/dev/full"), std::string::npos) << observed[1];
  // A device at the name is refused, not written to.
  EXPECT_NE(observed[1].find("it is a device"), std::string::npos) << observed[1];
  EXPECT_NE(observed[2].find("missing/folder/run1_vdm.map"), std::string::npos) << observed[2];
}

TEST_F(HostMaps, ExtentsBeyond16BitsAreRefusedBeforeWriting) {
  hostState().openDocument("wide.fmr", {70000, 1, 1});
  addMap(firstPattern, 1.0f, 5.0f);
  const std::string path = dir.file("wide_vdm.map");
  EXPECT_EQ(hvSaveMAPsOfCurrentFMR(path.c_str()), 0);
  ASSERT_EQ(observed.size(), 1u);
  EXPECT_NE(observed[0].find("65535"), std::string::npos) << observed[0];
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(HostMaps, MapFunctionsWithoutDocumentAreReported) {
  MapHeaderRecord header{};
  EXPECT_EQ(hvCreateMAPForCurrentFMR(), 0);
  EXPECT_EQ(hvSetMAPParametersOfCurrentFMR(&header), 0);
  EXPECT_EQ(hvSaveMAPsOfCurrentFMR(dir.file("x.map").c_str()), 0);
  EXPECT_EQ(hvLoadMAPsToCurrentFMR(dir.file("x.map").c_str()), 0);
  EXPECT_EQ(observed.size(), 4u);
}

TEST_F(HostMaps, DamagedMapFilesAreRefusedOnLoad) {
  hostState().openDocument("run1.fmr", {3, 2, 2});
  addMap(firstPattern, 1.0f, 5.0f);
  const std::vector<unsigned char> good = daxo::host::encodeMapFile(*hostState().document->newestMap(), "run1.fmr");

  std::vector<unsigned char> truncated(good.begin(), good.end() - 1);
  std::vector<unsigned char> headerOnly(good.begin(), good.begin() + 12);
  std::vector<unsigned char> emptyName = good;
  emptyName[30] = 0;  // the name starts right after the 30 header bytes
  emptyName.erase(emptyName.begin() + 31, emptyName.begin() + 30 + 9);
  std::vector<unsigned char> hugeExtents = good;
  hugeExtents[2] = hugeExtents[3] = hugeExtents[4] = hugeExtents[5] = hugeExtents[6] = hugeExtents[7] = 0xFF;

  const std::vector<std::pair<std::string, std::vector<unsigned char>>> cases = {
      {"truncated.map", truncated}, {"header.map", headerOnly}, {"noname.map", emptyName}, {"huge.map", hugeExtents}};
  for (const auto& [name, bytes] : cases) {
    writeFile(dir.file(name), std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(hvLoadMAPsToCurrentFMR(dir.file(name).c_str()), 0) << name;
    ASSERT_FALSE(observed.empty());
    EXPECT_NE(observed.back().find(name), std::string::npos) << observed.back();
  }
  EXPECT_EQ(hvLoadMAPsToCurrentFMR(dir.file("absent.map").c_str()), 0);
  EXPECT_EQ(observed.size(), 5u);
  EXPECT_TRUE(hostState().document->shownMapFiles().empty());
  EXPECT_EQ(hostState().document->maps().size(), 1u);
}

TEST(MapFileFormat, ReadsTheVariantsOfTheLayout) {
  // typeCode 20003 with word 2 = 0: three slices from the type code, a
  // type-2 word, format level 2 without extra integers.
  std::vector<unsigned char> b = {0x23, 0x4E, 0, 0, 1, 0, 2, 0, 1, 0};
  for (int i = 0; i < 8; ++i) b.push_back(0);     // two floats
  b.insert(b.end(), {7, 0, 0, 0, 2, 0, 'r', 0});  // type-2 word, word 6, level 2, name
  for (int z = 0; z < 3; ++z) {
    b.push_back(static_cast<unsigned char>(z));
    b.push_back(0);
    for (int x = 0; x < 2; ++x) {
      const float v = static_cast<float>(z * 2 + x);
      unsigned char raw[4];
      std::memcpy(raw, &v, 4);
      b.insert(b.end(), raw, raw + 4);
    }
  }
  TempFolder dir;
  writeFile(dir.file("variant.map"), std::string(b.begin(), b.end()));
  const daxo::host::HostMap map = daxo::host::loadMapFile(dir.file("variant.map"));
  EXPECT_EQ(map.extents(), (daxo::Dimensions{2, 1, 3}));
  EXPECT_EQ(map.kind, 2);
  EXPECT_EQ(map.values(), (std::vector<float>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
