#include "fileio/volumereader.h"

#include <utility>

#include "volume/assertion.h"

namespace daxo {

namespace {
const char* const kModule = "volumereader";
}

VolumeReader::VolumeReader(std::ifstream in, const DataLayout& layout, std::string dataPath)
    : in_(std::move(in)), layout_(layout), dataPath_(std::move(dataPath)) {
  start_ = static_cast<std::streamoff>(in_.tellg());
  requireDataBytes(in_, layout_, dataPath_);
}

void VolumeReader::read(int32_t first, std::vector<Volume>& volumes) {
  check(first >= 0 && volumes.size() <= static_cast<size_t>(layout_.volumes) &&
            static_cast<size_t>(first) <= static_cast<size_t>(layout_.volumes) - volumes.size(),
        kModule, 1, "0 <= first && first + run length <= NrOfVolumes");
  readVolumeRun(in_, start_, layout_, first, volumes.data(), static_cast<int32_t>(volumes.size()), dataPath_);
}

}  // namespace daxo
