#pragma once

#include <ostream>
#include <string>

#include "protocol/pluginexports.h"

// The run that the Windows test host (Tesmarin.exe, driving DAXO.dll under
// Microsoft's binary interface) and its Linux twin (driving DAXO.so) make on
// the same input files, so that the two builds can be compared bit for bit:
// the files each writes, and a transcript of what the host saw.

namespace daxo::crosscheck {

// The plugin's two operations as a host calls them.
class PluginDriver {
 public:
  virtual ~PluginDriver() = default;
  virtual bool initPlugin() = 0;
  virtual bool execute() = 0;
};

// The input files in the run's folder: a functional pair with opposite phase
// encoding along y, the same pair transposed (phase encoding along x), a
// plain copy of the pair, a diffusion series of the first direction and a
// displacement map of the first scan's extents.
constexpr const char* kFirstScan = "func_ap.fmr";
constexpr const char* kSecondScan = "func_pa.fmr";
constexpr const char* kFirstScanAlongX = "func_lr.fmr";
constexpr const char* kSecondScanAlongX = "func_rl.fmr";
constexpr const char* kFirstScanCopy = "fast_ap.fmr";
constexpr const char* kSecondScanCopy = "fast_pa.fmr";
constexpr const char* kDiffusion = "dwi_ap.dmr";
constexpr const char* kMap = "true_vdm.map";

// The transcript's file name in the folder.
constexpr const char* kTranscript = "transcript.txt";

// Writes the texts to `transcript`, one line each.
void writePluginTexts(const PluginTexts& texts, std::ostream& transcript);

// Starts the plugin and runs the tasks check, select_fmr_or_dmr, select_vdm,
// apply (the map on the diffusion series, and transposed on the pair's copy)
// and estimate (the full estimation on the pair and on the transposed pair
// with other settings, correcting them; the fast estimate on the copy) on
// the inputs in `folder`,
// which ends in a directory separator; every path the plugin is given is
// `folder` followed by a file name. Writes to `transcript`, for each step,
// the task, execute's result and what the host saw meanwhile (log entries,
// message boxes, parameters set, host errors), with `folder` written as
// "<folder>/" and the elapsed-time entry's number left out. False when the
// plugin refused to start or a task showed an error.
bool runScenario(PluginDriver& plugin, const std::string& folder, std::ostream& transcript);

}  // namespace daxo::crosscheck
