#include "fileio/fmrheader.h"

#include <fstream>
#include <utility>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/projectfiles.h"
#include "fileio/volumereader.h"
#include "fileio/voxeldata.h"

namespace daxo {

namespace {

const char* const kDataCreateMessage = "Failed opening STC for writing: ";

// A table that ends early is completed with zeros, but an announced size is
// not trusted with memory: padding stops at this many entries.
const size_t kMaxPaddedTableEntries = 65536;

void readSliceTimingTable(std::istream& in, int32_t size, std::vector<float>& table) {
  int32_t read = 0;
  for (float value = 0; read < size && in >> value; ++read) table.push_back(value);
  const size_t padded = std::min(static_cast<size_t>(size), kMaxPaddedTableEntries);
  for (size_t i = static_cast<size_t>(read); i < padded; ++i) table.push_back(0.0f);
}

}  // namespace

HeaderKeys FMRHeader::keys() const {
  // The table only hands out pointers into this record; writing reads
  // through them and never changes a field.
  FMRHeader& self = const_cast<FMRHeader&>(*this);
  HeaderKeys keys = self.sharedKeys({"NrOfLinkedProtocols:", &self.nrOfLinkedProtocols, 1, KeyPlace::Outer});
  keys.push_back({"MultibandSequence:", &self.multibandSequence, 2, KeyPlace::Outer});
  keys.push_back({"SliceTimingTableSize:", &self.sliceTimingTableSize, 1, KeyPlace::Outer});
  return keys;
}

void FMRHeader::load(const std::string& path, ProjectParts parts) {
  FMRHeader fresh;
  fresh.fileName = path;
  const FieldRef tableSize = &fresh.sliceTimingTableSize;
  readProjectHeader(path, fresh.keys(), [&](const HeaderKey& key, std::istream& s) {
    if (key.field != tableSize) return;
    // The size was not read when its extraction failed; the stream is then
    // failed and reading ends.
    if (s.fail()) return;
    if (fresh.sliceTimingTableSize.value > 0) {
      readSliceTimingTable(s, fresh.sliceTimingTableSize.value, fresh.sliceTimingTable);
    }
    discardToken(s);
  });
  if (parts == ProjectParts::HeaderAndData) fresh.loadData();
  *this = std::move(fresh);
}

void FMRHeader::loadData() {
  std::ifstream in;
  const DataLayout layout = openData(in);
  volumes = readVoxelData(in, layout, dataFileName());
}

VolumeReader FMRHeader::openVolumes() const {
  std::ifstream in;
  const DataLayout layout = openData(in);
  return VolumeReader(std::move(in), layout, dataFileName());
}

DataLayout FMRHeader::openData(std::ifstream& in) const {
  const DataLayout layout = layoutOf(*this, VoxelOrder::SliceMajor);
  checkLayout(layout, fileName);
  const std::string dataPath = dataFileName();
  if (!openInputFile(in, dataPath)) throw OpenFileError("Failed opening STC for reading: " + dataPath);
  return layout;
}

void FMRHeader::writeHeader(std::ostream& out) const {
  writeKeyedHeader(out, keys(), [&](const HeaderKey& key, std::ostream& s) {
    if (key.field != FieldRef(const_cast<IntField*>(&sliceTimingTableSize))) return;
    if (sliceTimingTableSize.value <= 0) return;
    for (float value : sliceTimingTable) {
      s << formatFloat(value);
      writeLineEnds(s, 1);
    }
  });
}

void FMRHeader::save() { saveProject(*this, VoxelOrder::SliceMajor, kDataCreateMessage); }

void FMRHeader::saveAs(const std::string& newPath) { saveProjectAs(*this, newPath); }

void FMRHeader::saveAs(const std::string& newPath, const VolumeRunSource& source) {
  saveProjectAs(*this, newPath, [&] { saveProject(*this, VoxelOrder::SliceMajor, kDataCreateMessage, source); });
}

std::string FMRHeader::dataFileName() const { return dataFileNameOf(fileName, prefix.value, "stc"); }

}  // namespace daxo
