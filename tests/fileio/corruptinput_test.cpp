#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <type_traits>

#include "fileio/dmrheader.h"
#include "fileio/fileerrors.h"
#include "fileio/fmrheader.h"
#include "fileio/mapfile.h"
#include "tests/fileio/fileimages.h"

namespace daxo {
namespace {

using testing::TempFolder;
using testing::writeFile;

// Random bytes, seeded with the header keys mixed in so that the header
// readers also meet known keys followed by garbage.
std::string garbage(std::mt19937& random, size_t size) {
  static const char* const pieces[] = {"NrOfVolumes: ",
                                       "GradientInformationAvailable: ",
                                       "PositionInformationFromImageHeaders",
                                       "SliceTimingTableSize: ",
                                       "Prefix: \"",
                                       "\r\n"};
  std::string bytes;
  while (bytes.size() < size) {
    if (random() % 8 == 0) {
      bytes += pieces[random() % 6];
    } else {
      bytes.push_back(static_cast<char>(random() & 0xff));
    }
  }
  return bytes;
}

// All a record holds, as text: the header as the writer writes it, the file
// name and the voxels' bytes.
template <typename Header>
std::string stateOf(const Header& header) {
  std::ostringstream text;
  header.writeHeader(text);
  text << header.fileName << '\n';
  for (const Volume& v : header.volumes) text.write(reinterpret_cast<const char*>(v.data()), v.voxelCount() * 4);
  return text.str();
}

std::string stateOf(const MapFile& map) {
  std::ostringstream text;
  text << map.fileName << ' ' << map.typeCode << ' ' << map.mapType << ' ' << map.nrOfSlices << ' ' << map.nrOfRows
       << ' ' << map.nrOfColumns << ' ' << map.word5 << ' ' << map.firstFloat << ' ' << map.secondFloat << ' '
       << map.type2Word << ' ' << map.word6 << ' ' << map.formatLevel << ' ' << map.firstExtraInt << ' '
       << map.secondExtraInt << ' ' << map.referenceName << '\n';
  text.write(reinterpret_cast<const char*>(map.volume.data()), map.volume.voxelCount() * 4);
  return text.str();
}

// A record that already holds something, as one read earlier would.
template <typename Record>
Record earlier() {
  Record record;
  record.fileName = "earlier";
  if constexpr (std::is_same_v<Record, MapFile>) {
    record.nrOfColumns = record.nrOfRows = record.nrOfSlices = 1;
    record.referenceName = "earlier";
    record.volume = Volume(1, 1, 1, 2.5f);
  } else {
    record.nrOfVolumes.value = 1;
    record.prefix.value = "earlier";
    record.volumes = {Volume(1, 1, 1, 2.5f)};
  }
  return record;
}

// Runs `read` on `record`; when it throws an error of type `Error`, the
// record must be as it was.
template <typename Error, typename Record, typename Read>
void expectUnchangedOnFailure(Record& record, Read read, const std::string& what) {
  const std::string before = stateOf(record);
  try {
    read();
  } catch (const Error&) {
    EXPECT_EQ(stateOf(record), before) << what;
  }
}

// Every reader either reads corrupted input or throws a file error that
// leaves its record as it was; none crashes, hangs or reads out of bounds
// (the sanitizer build checks that).
TEST(CorruptInput, ReadersFailCleanly) {
  TempFolder folder;
  std::mt19937 random(20240517);
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    const std::string bytes = garbage(random, 1 + random() % 600);
    writeFile(folder.file("x.fmr"), bytes);
    writeFile(folder.file("x.dmr"), bytes);
    writeFile(folder.file("x.map"), bytes);
    writeFile(folder.file("x.stc"), bytes);
    writeFile(folder.file("x.dwi"), bytes);
    FMRHeader fmr = earlier<FMRHeader>();
    DMRHeader dmr = earlier<DMRHeader>();
    MapFile map = earlier<MapFile>();
    const std::string round_ = " in round " + std::to_string(round);
    // A malformed value of a known key is refused; anything else is read.
    expectUnchangedOnFailure<ReadFileError>(
        fmr, [&] { fmr.loadHeader(folder.file("x.fmr")); }, "FMR header" + round_);
    expectUnchangedOnFailure<ReadFileError>(
        dmr, [&] { dmr.loadHeader(folder.file("x.dmr")); }, "DMR header" + round_);
    expectUnchangedOnFailure<IOError>(
        map, [&] { map.loadWithData(folder.file("x.map")); }, "map" + round_);
    fmr.prefix.value = "x";
    dmr.prefix.value = "x";
    const std::string fmrBefore = stateOf(fmr);
    expectUnchangedOnFailure<IOError>(
        fmr, [&] { fmr.loadData(); }, "STC data" + round_);
    expectUnchangedOnFailure<IOError>(
        dmr, [&] { dmr.loadData(); }, "DWI data" + round_);
    if (stateOf(fmr) == fmrBefore) ++failures;
  }
  // The garbage does make the readers fail (else nothing was checked).
  EXPECT_GT(failures, 50);
}

}  // namespace
}  // namespace daxo
