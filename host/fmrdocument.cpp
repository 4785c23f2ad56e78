#include "host/fmrdocument.h"

#include <algorithm>
#include <stdexcept>

namespace daxo::host {

namespace {
void requirePositive(const Dimensions& extents) {
  if (extents.x < 1 || extents.y < 1 || extents.z < 1) {
    throw std::invalid_argument("map extents must be at least 1, not " + std::to_string(extents.x) + " x " +
                                std::to_string(extents.y) + " x " + std::to_string(extents.z));
  }
}
}  // namespace

HostMap::HostMap(const Dimensions& extents) : extents_(extents) {
  requirePositive(extents);
  const size_t sliceSize = static_cast<size_t>(extents.x) * static_cast<size_t>(extents.y);
  values_.assign(sliceSize * static_cast<size_t>(extents.z), 0.0f);
  slices_.resize(static_cast<size_t>(extents.z));
  for (size_t z = 0; z < slices_.size(); ++z) slices_[z] = values_.data() + z * sliceSize;
}

HostMap hostMapOf(const Volume& volume) {
  HostMap map(volume.dimensions());
  std::copy_n(volume.data(), volume.voxelCount(), map.values().data());
  return map;
}

FmrDocument::FmrDocument(const std::string& name, const Dimensions& extents)
    : name_(name.empty() ? "untitled" : name), extents_(extents) {
  requirePositive(extents);
}

HostMap& FmrDocument::createMap() { return addMap(HostMap(extents_)); }

HostMap& FmrDocument::addMap(HostMap map) {
  maps_.push_back(std::make_unique<HostMap>(std::move(map)));
  return *maps_.back();
}

HostMap* FmrDocument::newestMap() { return maps_.empty() ? nullptr : maps_.back().get(); }

}  // namespace daxo::host
