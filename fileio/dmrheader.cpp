#include "fileio/dmrheader.h"

#include <fstream>
#include <utility>

#include "fileio/fileerrors.h"
#include "fileio/inputfile.h"
#include "fileio/projectfiles.h"
#include "fileio/volumereader.h"
#include "fileio/voxeldata.h"

namespace daxo {

namespace {

const char* const kDataCreateMessage = "Failed opening for writing: ";

// Entries are read as a stream of numbers, not line by line: a line with more
// than four numbers shifts the entries after it. An entry cut short by the end
// of the table is dropped.
void readGradientTable(std::istream& in, int32_t entries, std::vector<GradientDirection>& directions,
                       std::vector<float>& bValues) {
  for (int32_t i = 0; i < entries; ++i) {
    GradientDirection d;
    float b = 0.0f;
    if (!(in >> d.x >> d.y >> d.z >> b)) return;
    directions.push_back(d);
    bValues.push_back(b);
    if (!in.good()) return;
  }
}

}  // namespace

HeaderKeys DMRHeader::keys() const {
  // The table only hands out pointers into this record; writing reads
  // through them and never changes a field.
  DMRHeader& self = const_cast<DMRHeader&>(*this);
  const KeyPlace out = KeyPlace::Outer;
  HeaderKeys keys = self.sharedKeys({"DisplayVolume:", &self.displayVolume, 1, out});
  keys.push_back({"GradientDirectionsVerified:", &self.gradientDirectionsVerified, 1, out});
  keys.push_back({"GradientXDirInterpretation:", &self.gradientXDirInterpretation, 1, out});
  keys.push_back({"GradientYDirInterpretation:", &self.gradientYDirInterpretation, 1, out});
  keys.push_back({"GradientZDirInterpretation:", &self.gradientZDirInterpretation, 1, out});
  keys.push_back({"GradientInformationAvailable:", &self.gradientInformationAvailable, 1, out});
  return keys;
}

void DMRHeader::load(const std::string& path, ProjectParts parts) {
  DMRHeader fresh;
  fresh.fileName = path;
  const FieldRef available = &fresh.gradientInformationAvailable;
  readProjectHeader(path, fresh.keys(), [&](const HeaderKey& key, std::istream& s) {
    if (key.field != available) return;
    // "NrOfVolumes:" must come before the table to be used here.
    if (fresh.gradientInformationAvailable.value && fresh.nrOfVolumes.present && fresh.nrOfVolumes.value > 0) {
      readGradientTable(s, fresh.nrOfVolumes.value, fresh.gradientDirections, fresh.bValues);
    }
    discardToken(s);
  });
  if (parts == ProjectParts::HeaderAndData) fresh.loadData();
  *this = std::move(fresh);
}

void DMRHeader::loadData() {
  std::ifstream in;
  const DataLayout layout = openData(in);
  volumes = readVoxelData(in, layout, dataFileName());
}

VolumeReader DMRHeader::openVolumes() const {
  std::ifstream in;
  const DataLayout layout = openData(in);
  return VolumeReader(std::move(in), layout, dataFileName());
}

DataLayout DMRHeader::openData(std::ifstream& in) const {
  const DataLayout layout = layoutOf(*this, VoxelOrder::VolumeMajor);
  checkLayout(layout, fileName);
  const std::string dataPath = dataFileName();
  if (!openInputFile(in, dataPath)) throw OpenFileError("Failed opening for reading: " + dataPath);
  if (dataStorageFormat.value != 3) {
    throw ReadFileError("Can only read DataStorageFormat 3, Not " + std::to_string(dataStorageFormat.value));
  }
  return layout;
}

void DMRHeader::writeHeader(std::ostream& out) const {
  const FieldRef available = const_cast<YesNoField*>(&gradientInformationAvailable);
  writeKeyedHeader(out, keys(), [&](const HeaderKey& key, std::ostream& s) {
    if (key.field != available || !gradientInformationAvailable.value) return;
    for (size_t i = 0; i < gradientDirections.size(); ++i) {
      const GradientDirection& d = gradientDirections[i];
      const float b = i < bValues.size() ? bValues[i] : 0.0f;
      s << formatFloat(d.x) << ' ' << formatFloat(d.y) << ' ' << formatFloat(d.z) << ' ' << formatFloat(b);
      writeLineEnds(s, 1);
    }
  });
}

void DMRHeader::save() { saveProject(*this, VoxelOrder::VolumeMajor, kDataCreateMessage); }

void DMRHeader::saveAs(const std::string& newPath) { saveProjectAs(*this, newPath); }

void DMRHeader::saveAs(const std::string& newPath, const VolumeRunSource& source) {
  saveProjectAs(*this, newPath, [&] { saveProject(*this, VoxelOrder::VolumeMajor, kDataCreateMessage, source); });
}

std::string DMRHeader::dataFileName() const { return dataFileNameOf(fileName, prefix.value, "dwi"); }

}  // namespace daxo
