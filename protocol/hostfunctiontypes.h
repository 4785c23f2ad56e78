#pragma once

#include <cstddef>
#include <cstdint>

#include "volume/fft.h"

// The C signatures of the host functions the plugin calls, and the map header
// record it exchanges with the host. The stand-in host implements exactly
// these signatures (it checks them at compile time), so the two sides cannot
// drift apart. All texts are NUL-terminated 8-bit strings.

namespace daxo {

// Size of every text buffer the plugin hands to the host for an answer (dialog
// parameters, chosen file names). The host writes at most size - 1 characters
// and a terminating NUL.
constexpr size_t kHostTextBufferSize = 512;

// Map header record of hvGetMAPOfCurrentFMR and hvSetMAPParametersOfCurrentFMR:
// 64 bytes, little-endian, fields at fixed offsets. The plugin touches only
// the named fields; the rest belongs to the host.
struct MapHeaderRecord {
  int32_t DimX;           // x extent of the map
  int32_t DimY;           // y extent
  int32_t DimZ;           // z extent, also the number of slice pointers returned
  int32_t mapKind;        // set to 1 by the plugin before applying parameters
  float firstValue;       // first map value
  float secondValue;      // second map value
  uint8_t reserved24[4];  // left as the host filled it
  int32_t word28;         // set to 0 by the plugin
  uint8_t reserved32[32];
};
static_assert(sizeof(MapHeaderRecord) == 64, "the host exchanges a 64-byte map header record");
static_assert(offsetof(MapHeaderRecord, DimX) == 0, "DimX at byte 0");
static_assert(offsetof(MapHeaderRecord, DimY) == 4, "DimY at byte 4");
static_assert(offsetof(MapHeaderRecord, DimZ) == 8, "DimZ at byte 8");
static_assert(offsetof(MapHeaderRecord, mapKind) == 12, "map kind at byte 12");
static_assert(offsetof(MapHeaderRecord, firstValue) == 16, "first map value at byte 16");
static_assert(offsetof(MapHeaderRecord, secondValue) == 20, "second map value at byte 20");
static_assert(offsetof(MapHeaderRecord, reserved24) == 24, "host bytes at 24");
static_assert(offsetof(MapHeaderRecord, word28) == 28, "int32 at byte 28");

// Every looked-up name the plugin does not call is kept as this generic type.
using HostFunction = void (*)();

// Fills the three numbers of the host version.
using HvGetVersionFunction = void (*)(int32_t* first, int32_t* second, int32_t* third);
// Appends one entry to the host's log pane.
using HvLogTextFunction = void (*)(const char* text);
// Shows a modal message box; returns when it is closed.
using HvMessageBoxFunction = void (*)(const char* text);
// Asks a yes/no question: nonzero for yes, 0 for no.
using HvYesNoMessageBoxFunction = int32_t (*)(const char* question);
// File chooser: writes the chosen path (empty when cancelled) into `path`, a
// buffer of kHostTextBufferSize bytes, always terminated. `second` is always
// empty; `filter` holds patterns separated by blanks. The result is unused.
using HvGetOpenFileNameFunction = int32_t (*)(const char* title, const char* second, const char* filter, char* path);
using HvBusyCursorFunction = void (*)();
// Adds a new map (all zero) to the current FMR document; nonzero on success.
using HvCreateMapFunction = int32_t (*)();
// Fills `header` and returns DimZ pointers to DimX * DimY floats (x fastest)
// of the newest map; null when there is no document or no map.
using HvGetMapFunction = float** (*)(MapHeaderRecord* header);
// Applies the record's settings to the newest map; nonzero on success.
using HvSetMapParametersFunction = int32_t (*)(const MapHeaderRecord* header);
// Saves to / loads from a map file; nonzero on success. The plugin cannot act
// on the result, so the host must report failures itself.
using HvMapFileFunction = int32_t (*)(const char* fileName);
// Writes the value of a string parameter into `value`, a buffer of
// kHostTextBufferSize bytes, always terminated (at most 511 characters).
using HvGetStringParameterFunction = int32_t (*)(const char* name, char* value);
using HvGetIntParameterFunction = int32_t (*)(const char* name);
using HvSetStringParameterFunction = int32_t (*)(const char* name, const char* value);
using HvSetIntParameterFunction = int32_t (*)(const char* name, int32_t value);

// The six FFT functions have exactly the types of the core's FFT table, so the
// host's functions are handed to the core unchanged.
using HvFftMallocFunction = decltype(FftFunctions::allocate);
using HvFftFreeFunction = decltype(FftFunctions::release);
using HvFftPlanR2CFunction = decltype(FftFunctions::planRealToComplex3d);
using HvFftPlanC2RFunction = decltype(FftFunctions::planComplexToReal3d);
using HvFftExecuteFunction = decltype(FftFunctions::execute);
using HvFftDestroyPlanFunction = decltype(FftFunctions::destroyPlan);

}  // namespace daxo
