#include "host/crosscheck/scenario.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "fileio/fmrheader.h"
#include "fileio/paths.h"
#include "host/hoststate.h"

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
      {"check", {{"files", first + "\n" + second + "\n" + diffusion + "\n" + folder + "missing.fmr"}}, {}, {}},
      {"select_fmr_or_dmr", {}, {}, {diffusion}},
      {"select_vdm", {}, {}, {map}},
      {"apply", {{"vdm", map}, {"files", diffusion}}, {{"rllr", 0}}, {}},
      {"apply", {{"vdm", map}, {"files", folder + kFirstScanCopy}}, {{"rllr", 1}}, {}},
      {"estimate",
       {{"file0", first}, {"file1", second}},
       {{"volume0", 0},
        {"volume1", 1},
        {"rllr", 0},
        {"use_ic", 1},
        {"use_ssd", 0},
        {"apply_to_input", 1},
        {"save_derivative", 1},
        {"fast_algorithm", 0},
        {"order", 1}},
       {}},
      {"estimate",
       {{"file0", folder + kFirstScanAlongX}, {"file1", folder + kSecondScanAlongX}},
       {{"volume0", 1},
        {"volume1", 0},
        {"rllr", 1},
        {"use_ic", 0},
        {"use_ssd", 1},
        {"apply_to_input", 1},
        {"save_derivative", 0},
        {"fast_algorithm", 0},
        {"order", 2}},
       {}},
      {"estimate",
       {{"file0", folder + kFirstScanCopy}, {"file1", folder + kSecondScanCopy}},
       {{"volume0", 1},
        {"volume1", 1},
        {"rllr", 0},
        {"use_ic", 1},
        {"use_ssd", 1},
        {"apply_to_input", 0},
        {"save_derivative", 1},
        {"fast_algorithm", 1},
        {"order", 0}},
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
  first.load(folder + kFirstScan, false);
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
    host.parameters.setString("task", step.task);
    const bool result = plugin.execute();
    transcript << "task " << step.task << ": execute " << (result ? "true" : "false") << "\n";
    // The check step names a missing file on purpose; its box is no error.
    const bool stepClean = reportNew(seen, folder, transcript);
    if (step.task != "check") clean = clean && stepClean && result;
  }
  return clean;
}

}  // namespace daxo::crosscheck
