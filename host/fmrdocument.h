#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/volume.h"

namespace daxo::host {

// One map of an FMR document: DimX * DimY * DimZ floats, x fastest, slice z
// starting at z * DimX * DimY, plus the display settings the plugin sets.
// The slice pointers stay valid for the map's whole life (also after a move).
class HostMap {
 public:
  // All values zero. Extents must be at least 1.
  explicit HostMap(const Dimensions& extents);
  HostMap(HostMap&&) = default;
  HostMap& operator=(HostMap&&) = default;
  HostMap(const HostMap&) = delete;
  HostMap& operator=(const HostMap&) = delete;

  const Dimensions& extents() const { return extents_; }
  std::vector<float>& values() { return values_; }
  const std::vector<float>& values() const { return values_; }
  // DimZ pointers, one per slice.
  float** slices() { return slices_.data(); }

  int32_t kind = 0;
  float firstValue = 0.0f;
  float secondValue = 0.0f;
  int32_t word28 = 0;

 private:
  Dimensions extents_;
  std::vector<float> values_;
  std::vector<float*> slices_;
};

// A map holding the voxels of `volume` (same layout), display settings 0.
// Throws std::invalid_argument when an extent is below 1.
HostMap hostMapOf(const Volume& volume);

// The host's current functional document: a name, its extents and its maps.
class FmrDocument {
 public:
  // `name` is what map files record as their reference; an empty name becomes
  // "untitled" because map files require a non-empty one. Throws
  // std::invalid_argument when an extent is below 1.
  FmrDocument(const std::string& name, const Dimensions& extents);

  const std::string& name() const { return name_; }
  const Dimensions& extents() const { return extents_; }

  // Adds a zero map of the document's extents and returns it.
  HostMap& createMap();
  // Adds a map read from a file (its own extents).
  HostMap& addMap(HostMap map);
  // The most recently added map; null when there is none.
  HostMap* newestMap();
  const std::vector<std::unique_ptr<HostMap>>& maps() const { return maps_; }

  // Map files loaded for display, in order.
  void recordShown(const std::string& path) { shownMapFiles_.push_back(path); }
  const std::vector<std::string>& shownMapFiles() const { return shownMapFiles_; }

 private:
  std::string name_;
  Dimensions extents_;
  std::vector<std::unique_ptr<HostMap>> maps_;
  std::vector<std::string> shownMapFiles_;
};

}  // namespace daxo::host
