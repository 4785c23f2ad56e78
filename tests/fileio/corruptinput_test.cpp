#include <gtest/gtest.h>

#include <random>

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

// Every reader either reads corrupted input or throws a file error; none
// crashes, hangs or reads out of bounds (the sanitizer build checks that).
TEST(CorruptInput, ReadersFailCleanly) {
  TempFolder folder;
  std::mt19937 random(20240517);
  for (int round = 0; round < 200; ++round) {
    const std::string bytes = garbage(random, 1 + random() % 600);
    writeFile(folder.file("x.fmr"), bytes);
    writeFile(folder.file("x.dmr"), bytes);
    writeFile(folder.file("x.map"), bytes);
    writeFile(folder.file("x.stc"), bytes);
    writeFile(folder.file("x.dwi"), bytes);
    FMRHeader fmr;
    DMRHeader dmr;
    MapFile map;
    // A malformed value of a known key is refused; anything else is read.
    try {
      fmr.load(folder.file("x.fmr"), false);
    } catch (const ReadFileError&) {
    }
    try {
      dmr.load(folder.file("x.dmr"), false);
    } catch (const ReadFileError&) {
    }
    try {
      map.load(folder.file("x.map"), true);
    } catch (const IOError&) {
    }
    fmr.prefix.value = "x";
    dmr.prefix.value = "x";
    try {
      fmr.loadData();
    } catch (const IOError&) {
    }
    try {
      dmr.loadData();
    } catch (const IOError&) {
    }
  }
}

}  // namespace
}  // namespace daxo
