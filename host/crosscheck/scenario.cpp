#include "host/crosscheck/scenario.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "fileio/fmrheader.h"
#include "fileio/paths.h"
#include "host/hoststate.h"
#include "protocol/dialogkeys.h"

namespace daxo::crosscheck {

namespace {

struct Step {
  std::string task;
  std::vector<std::pair<std::string, std::string>> strings;
  std::vector<std::pair<std::string, int32_t>> ints;
  std::vector<std::string> chooserAnswers;
};

// `text` with every occurrence of `folder` written as "<folder>/".
std::string portable(std::string text, const std::string& folder) {
  for (size_t at = text.find(folder); at != std::string::npos; at = text.find(folder, at)) {
    text.replace(at, folder.size(), "<folder>/");
  }
  return text;
}

// The estimation logs its running time; that number differs from run to run.
std::string withoutTime(const std::string& entry) {
  const std::string marker = "Time taken: ";
  const size_t at = entry.find(marker);
  return at == std::string::npos ? entry : entry.substr(0, at + marker.size()) + "<time>";
}

std::vector<Step> steps(const std::string& folder) {
  const std::string first = folder + kFirstScan;
  const std::string second = folder + kSecondScan;
  const std::string diffusion = folder + kDiffusion;
  const std::string map = folder + kMap;
  return {
      {dialogkeys::kTaskCheck,
       {{dialogkeys::kFiles, first + "\n" + second + "\n" + diffusion + "\n" + folder + "missing.fmr"}},
       {},
       {}},
      {dialogkeys::kTaskSelectFmrOrDmr, {}, {}, {diffusion}},
      {dialogkeys::kTaskSelectVdm, {}, {}, {map}},
      {dialogkeys::kTaskApply,
       {{dialogkeys::kVdm, map}, {dialogkeys::kFiles, diffusion}},
       {{dialogkeys::kRllr, 0}},
       {}},
      {dialogkeys::kTaskApply,
       {{dialogkeys::kVdm, map}, {dialogkeys::kFiles, folder + kFirstScanCopy}},
       {{dialogkeys::kRllr, 1}},
       {}},
      {dialogkeys::kTaskEstimate,
       {{dialogkeys::kFile0, first}, {dialogkeys::kFile1, second}},
       {{dialogkeys::kVolume0, 0},
        {dialogkeys::kVolume1, 1},
        {dialogkeys::kRllr, 0},
        {dialogkeys::kUseIc, 1},
        {dialogkeys::kUseSsd, 0},
        {dialogkeys::kApplyToInput, 1},
        {dialogkeys::kSaveDerivative, 1},
        {dialogkeys::kFastAlgorithm, 0},
        {dialogkeys::kOrder, 1}},
       {}},
      {dialogkeys::kTaskEstimate,
       {{dialogkeys::kFile0, folder + kFirstScanAlongX}, {dialogkeys::kFile1, folder + kSecondScanAlongX}},
       {{dialogkeys::kVolume0, 1},
        {dialogkeys::kVolume1, 0},
        {dialogkeys::kRllr, 1},
        {dialogkeys::kUseIc, 0},
        {dialogkeys::kUseSsd, 1},
        {dialogkeys::kApplyToInput, 1},
        {dialogkeys::kSaveDerivative, 0},
        {dialogkeys::kFastAlgorithm, 0},
        {dialogkeys::kOrder, 2}},
       {}},
      {dialogkeys::kTaskEstimate,
       {{dialogkeys::kFile0, folder + kFirstScanCopy}, {dialogkeys::kFile1, folder + kSecondScanCopy}},
       {{dialogkeys::kVolume0, 1},
        {dialogkeys::kVolume1, 1},
        {dialogkeys::kRllr, 0},
        {dialogkeys::kUseIc, 1},
        {dialogkeys::kUseSsd, 1},
        {dialogkeys::kApplyToInput, 0},
        {dialogkeys::kSaveDerivative, 1},
        {dialogkeys::kFastAlgorithm, 1},
        {dialogkeys::kOrder, 0}},
       {}},
  };
}

// Writes what the host recorded since the counts in `seen` and advances them.
struct Seen {
  size_t log = 0, boxes = 0, changes = 0, errors = 0;
};

bool reportNew(Seen& seen, const std::string& folder, std::ostream& out) {
  host::HostState& host = host::hostState();
  bool errorShown = false;
  const auto& entries = host.log.entries();
  for (; seen.log < entries.size(); ++seen.log)
    out << "log: " << portable(withoutTime(entries[seen.log]), folder) << "\n";
  const auto& boxes = host.messageBoxes.shown();
  for (; seen.boxes < boxes.size(); ++seen.boxes) {
    out << "message box: " << portable(boxes[seen.boxes].text, folder) << "\n";
    if (boxes[seen.boxes].text.rfind("Error: ", 0) == 0) errorShown = true;
  }
  const auto& changes = host.parameters.changes();
  for (; seen.changes < changes.size(); ++seen.changes) {
    out << "parameter " << changes[seen.changes].name << " = " << portable(changes[seen.changes].value, folder) << "\n";
  }
  const auto& errors = host.errors.reported();
  for (; seen.errors < errors.size(); ++seen.errors) {
    out << "host error: " << portable(errors[seen.errors], folder) << "\n";
    errorShown = true;
  }
  return !errorShown;
}

}  // namespace

void writePluginTexts(const PluginTexts& texts, std::ostream& transcript) {
  transcript << "name: " << texts.name << "\nversion: " << texts.version << "\ndialog script: " << texts.guiScript
             << "\nhelp file: " << texts.helpFile << "\ndescription: " << texts.description
             << "\nauthor: " << texts.author << "\n";
}

bool runScenario(PluginDriver& plugin, const std::string& folder, std::ostream& transcript) {
  host::resetHostState();
  host::HostState& host = host::hostState();
  // The maps are saved from the host's current FMR document, which has the
  // first scan's extents.
  FMRHeader first;
  first.loadHeader(folder + kFirstScan);
  host.openDocument(stripExtension(kFirstScan),
                    {first.resolutionX.value, first.resolutionY.value, first.nrOfSlices.value});

  Seen seen;
  const bool started = plugin.initPlugin();
  transcript << "initPlugin: " << (started ? "true" : "false") << "\n";
  bool clean = reportNew(seen, folder, transcript) && started;
  if (!started) return false;

  for (const Step& step : steps(folder)) {
    for (const auto& [name, value] : step.strings) host.parameters.setString(name, value);
    for (const auto& [name, value] : step.ints) host.parameters.setInt(name, value);
    for (const std::string& answer : step.chooserAnswers) host.fileChooser.queueAnswer(answer);
    host.parameters.setString(dialogkeys::kTask, step.task);
    const bool result = plugin.execute();
    transcript << "task " << step.task << ": execute " << (result ? "true" : "false") << "\n";
    // The check step names a missing file on purpose; its box is no error.
    const bool stepClean = reportNew(seen, folder, transcript);
    if (step.task != dialogkeys::kTaskCheck) clean = clean && stepClean && result;
  }
  return clean;
}

}  // namespace daxo::crosscheck
