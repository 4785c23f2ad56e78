// The host's map functions: maps of the current FMR document, saved to and
// loaded from map files. Every failure is reported through the host's error
// record, because the plugin does not look at the results.
#include <exception>
#include <string>
#include <type_traits>

#include "host/hostfunctions.h"
#include "host/hoststate.h"
#include "host/mapfileformat.h"

using daxo::host::hostState;
using daxo::host::textOf;

static_assert(std::is_same_v<decltype(&hvCreateMAPForCurrentFMR), daxo::HvCreateMapFunction>);
static_assert(std::is_same_v<decltype(&hvGetMAPOfCurrentFMR), daxo::HvGetMapFunction>);
static_assert(std::is_same_v<decltype(&hvSetMAPParametersOfCurrentFMR), daxo::HvSetMapParametersFunction>);
static_assert(std::is_same_v<decltype(&hvSaveMAPsOfCurrentFMR), daxo::HvMapFileFunction>);
static_assert(std::is_same_v<decltype(&hvLoadMAPsToCurrentFMR), daxo::HvMapFileFunction>);

namespace {

int32_t fail(const std::string& message) {
  hostState().errors.report(message);
  return 0;
}

daxo::host::HostMap* newestMap() { return hostState().document ? hostState().document->newestMap() : nullptr; }

}  // namespace

extern "C" {

int32_t hvCreateMAPForCurrentFMR() {
  if (!hostState().document) return fail("cannot create a map: no FMR document is open");
  hostState().document->createMap();
  return 1;
}

float** hvGetMAPOfCurrentFMR(daxo::MapHeaderRecord* header) {
  daxo::host::HostMap* map = newestMap();
  if (map == nullptr || header == nullptr) return nullptr;
  header->DimX = map->extents().x;
  header->DimY = map->extents().y;
  header->DimZ = map->extents().z;
  header->mapKind = map->kind;
  header->firstValue = map->firstValue;
  header->secondValue = map->secondValue;
  header->word28 = map->word28;
  return map->slices();
}

int32_t hvSetMAPParametersOfCurrentFMR(const daxo::MapHeaderRecord* header) {
  daxo::host::HostMap* map = newestMap();
  if (map == nullptr) return fail("cannot set map parameters: the current FMR document has no map");
  if (header == nullptr) return fail("cannot set map parameters: no header record given");
  map->kind = header->mapKind;
  map->firstValue = header->firstValue;
  map->secondValue = header->secondValue;
  map->word28 = header->word28;
  return 1;
}

int32_t hvSaveMAPsOfCurrentFMR(const char* fileName) {
  const std::string path = textOf(fileName);
  daxo::host::HostMap* map = newestMap();
  if (map == nullptr) return fail("could not save map file " + path + ": the current FMR document has no map");
  try {
    daxo::host::saveMapFile(path, *map, hostState().document->name());
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return 1;
}

int32_t hvLoadMAPsToCurrentFMR(const char* fileName) {
  const std::string path = textOf(fileName);
  if (!hostState().document) return fail("cannot load map file " + path + ": no FMR document is open");
  try {
    hostState().document->addMap(daxo::host::loadMapFile(path));
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  hostState().document->recordShown(path);
  return 1;
}

}  // extern "C"
