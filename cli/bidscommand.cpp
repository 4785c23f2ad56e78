// daxo bids: every subject of a BIDS dataset, the BIDS-App way.
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/consolelogstream.h"
#include "pipeline/bidsdataset.h"

namespace daxo::cli {

namespace fs = std::filesystem;

namespace {

struct BidsRequest {
  std::string bidsDir;
  std::string outDir;
  std::vector<std::string> labels;  // without "sub-"; empty: every subject
  int jobs = 1;
  std::string filterFile;    // --bids-filter-file, "" when none
  std::string metadataFile;  // --metadata, "" when none
  std::string commandText;   // for GeneratedBy
};

struct SubjectOutcome {
  std::string label;
  std::string failure;  // "" when done
};

BidsRequest parseRequest(const Arguments& arguments, const std::vector<std::string>& args) {
  BidsRequest request;
  // BIDS Apps spell the option --participant_label, which is taken too.
  const std::vector<std::string> labels = arguments.values("--participant-label");
  if (arguments.has("--participant-label") && labels.empty()) {
    throw UsageError("bids: option --participant-label needs labels");
  }
  for (const std::string& given : labels) {
    const std::string label = given.rfind("sub-", 0) == 0 ? given.substr(4) : given;
    if (label.empty() || label.find_first_of("/_-. ") != std::string::npos) {
      throw UsageError("bids: '" + label + "' is not a participant label (letters and digits, as in sub-01)");
    }
    request.labels.push_back(label);
  }
  request.bidsDir = arguments.positionals()[0];
  request.outDir = arguments.positionals()[1];
  if (arguments.positionals()[2] != "participant") {
    throw UsageError("bids: the analysis level must be 'participant' (there is no group level), not '" +
                     arguments.positionals()[2] + "'");
  }
  if (arguments.has("--bids-filter-file")) request.filterFile = arguments.value("--bids-filter-file");
  if (arguments.has("--metadata")) request.metadataFile = arguments.value("--metadata");
  request.jobs = arguments.intValue("--jobs", 1);
  if (request.jobs < 1) throw UsageError("bids: option --jobs needs a number of subjects from 1");
  request.commandText = "daxo bids";
  for (const std::string& arg : args) request.commandText += " " + arg;
  return request;
}

// One subject in this process, logging to its own log file as well.
SubjectOutcome runSubjectHere(const BidsRequest& request, const pipeline::BidsSelection& selection,
                              const std::string& label, const GlobalOptions& options, Console& console) {
  SubjectOutcome outcome{label, ""};
  GlobalOptions subjectOptions = options;
  subjectOptions.logFile = pipeline::subjectLogPath(request.outDir, label);
  try {
    Console subject(subjectOptions, console.out(), console.err());
    subject.logEntry(request.commandText + ": sub-" + label);
    try {
      ConsoleLogStream log(subject);
      const pipeline::SubjectWork work =
          pipeline::runBidsSubject(request.bidsDir, request.outDir, label, EstimationOptions{}, selection, log);
      subject.result("sub-" + label + ": done (" + pipeline::workText(work) + ")\n");
    } catch (const std::exception& e) {
      outcome.failure = e.what();
      subject.logEntry("sub-" + label + " FAILED: " + outcome.failure);
    }
  } catch (const std::exception& e) {  // the log file could not be opened
    outcome.failure = e.what();
  }
  return outcome;
}

// The cores this process may run on.
std::vector<int> usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cores;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    for (int c = 0; c < CPU_SETSIZE; ++c) {
      if (CPU_ISSET(c, &set)) cores.push_back(c);
    }
  }
  return cores;
}

// The share of `cores` of job slot `slot` out of `slots`: every slots-th core
// when there are enough, else one core shared with the slots that have it too.
cpu_set_t coresOfSlot(const std::vector<int>& cores, int slot, int slots) {
  cpu_set_t set;
  CPU_ZERO(&set);
  const int n = static_cast<int>(cores.size());
  for (int k = 0; k < n; ++k) {
    if (slots <= n ? k % slots == slot : k == slot % n) CPU_SET(cores[static_cast<size_t>(k)], &set);
  }
  return set;
}

std::string readAndRemove(const std::string& path) {
  std::string text;
  {
    std::ifstream in(path);
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  fs::remove(path);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Where a subject's child process writes its standard output ("out") or
// error ("err"): a hidden file in the log folder.
std::string capturedPath(const BidsRequest& request, const std::string& label, const char* stream) {
  return (fs::path(request.outDir) / "logs" / (".sub-" + label + "." + stream)).string();
}

// Starts `daxo --quiet bids ... --participant-label LABEL` bound to the cores
// of `share` (none: unbound), its output going to the captured files.
pid_t startSubject(const BidsRequest& request, const std::string& program, const std::string& label,
                   const cpu_set_t* share) {
  std::vector<std::string> args{
      program, "--quiet", "bids", request.bidsDir, request.outDir, "participant", "--participant-label", label};
  if (!request.filterFile.empty()) args.insert(args.end(), {"--bids-filter-file", request.filterFile});
  if (!request.metadataFile.empty()) args.insert(args.end(), {"--metadata", request.metadataFile});
  const std::string out = capturedPath(request, label, "out");
  const std::string err = capturedPath(request, label, "err");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start a process for sub-" + label);
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int outFile = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFile = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (outFile >= 0) dup2(outFile, 1);
    if (errFile >= 0) dup2(errFile, 2);
    if (share != nullptr) sched_setaffinity(0, sizeof *share, share);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The outcome of a subject's process that ended with `status`, from what it
// printed; logs one entry.
SubjectOutcome finishedSubject(const BidsRequest& request, const std::string& label, int status, Console& console) {
  const std::string out = readAndRemove(capturedPath(request, label, "out"));
  const std::string err = readAndRemove(capturedPath(request, label, "err"));
  SubjectOutcome outcome{label, ""};
  if (WIFEXITED(status) && WEXITSTATUS(status) == kExitSuccess) {
    console.logEntry(out.empty() ? "sub-" + label + ": done" : out);
    return outcome;
  }
  // The child's summary names the reason: "  sub-01: ...".
  const std::string marker = "  sub-" + label + ": ";
  const size_t at = err.find(marker);
  outcome.failure = at != std::string::npos ? err.substr(at + marker.size())
                    : WIFSIGNALED(status)   ? "stopped by signal " + std::to_string(WTERMSIG(status))
                    : err.empty()           ? "failed with exit status " + std::to_string(WEXITSTATUS(status))
                                            : err;
  console.logEntry("sub-" + label + ": FAILED (see " + pipeline::subjectLogPath(request.outDir, label) + ")");
  return outcome;
}

// Subjects as child processes, `jobs` at a time: `daxo --quiet bids ...
// --participant-label X`, the very call a Snakemake job makes. Processes
// rather than threads, because a subject that crashes or runs out of memory
// then takes only itself down, and each keeps its own console and log with
// nothing shared. Each running subject is bound to its share of the cores,
// so the estimation threads inside the subjects divide the machine between
// them instead of all competing for every core.
std::vector<SubjectOutcome> runSubjectsAsChildren(const BidsRequest& request, const std::vector<std::string>& labels,
                                                  Console& console) {
  const std::string program = fs::read_symlink("/proc/self/exe").string();
  const std::vector<int> cores = usableCores();
  const int slots = std::min<int>(request.jobs, static_cast<int>(labels.size()));
  std::map<pid_t, std::pair<size_t, int>> running;  // pid -> (subject index, slot)
  std::vector<bool> slotBusy(static_cast<size_t>(slots), false);
  std::vector<SubjectOutcome> outcomes(labels.size());
  size_t next = 0;
  while (next < labels.size() || !running.empty()) {
    while (next < labels.size() && static_cast<int>(running.size()) < slots) {
      const int slot = static_cast<int>(std::find(slotBusy.begin(), slotBusy.end(), false) - slotBusy.begin());
      const cpu_set_t share = coresOfSlot(cores, slot, slots);
      running[startSubject(request, program, labels[next], cores.empty() ? nullptr : &share)] = {next, slot};
      slotBusy[static_cast<size_t>(slot)] = true;
      ++next;
    }
    int status = 0;
    const pid_t pid = waitpid(-1, &status, 0);
    if (pid < 0) throw std::runtime_error("lost track of the subjects' processes");
    const auto found = running.find(pid);
    if (found == running.end()) continue;
    const auto [index, slot] = found->second;
    running.erase(found);
    slotBusy[static_cast<size_t>(slot)] = false;
    outcomes[index] = finishedSubject(request, labels[index], status, console);
  }
  return outcomes;
}

int runBids(CommandContext& context, const Arguments& arguments) {
  const BidsRequest request = parseRequest(arguments, context.args);
  Console& console = context.console;
  std::vector<SubjectOutcome> outcomes;
  try {
    // The two files are read once here, so that a bad one stops the run
    // before any subject starts.
    const pipeline::BidsSelection selection = pipeline::readBidsSelection(request.filterFile, request.metadataFile);
    const std::vector<std::string> labels =
        pipeline::prepareDerivatives(request.bidsDir, request.outDir, request.labels);
    pipeline::writeDatasetDescription(request.bidsDir, request.outDir, request.commandText);
    if (request.jobs > 1 && labels.size() > 1) {
      outcomes = runSubjectsAsChildren(request, labels, console);
    } else {
      for (const std::string& label : labels)
        outcomes.push_back(runSubjectHere(request, selection, label, context.options, console));
    }
  } catch (const UsageError&) {
    throw;
  } catch (const std::exception& e) {
    console.err() << "daxo: bids: " << e.what() << std::endl;
    return kExitFailure;
  }
  std::vector<const SubjectOutcome*> failed;
  for (const SubjectOutcome& outcome : outcomes) {
    if (!outcome.failure.empty()) failed.push_back(&outcome);
  }
  if (failed.empty()) {
    console.logEntry("All " + std::to_string(outcomes.size()) + " subject(s) done; derivatives in " + request.outDir);
    return kExitSuccess;
  }
  console.err() << "daxo: bids: " << failed.size() << " of " << outcomes.size() << " subject(s) failed:\n";
  for (const SubjectOutcome* outcome : failed)
    console.err() << "  sub-" << outcome->label << ": " << outcome->failure << "\n";
  console.err() << std::flush;
  return kExitFailure;
}

}  // namespace

extern const Command bidsCommand;
const Command bidsCommand{
    "bids",
    "correct every subject of a BIDS dataset into a derivatives folder",
    "Usage: daxo bids BIDS_DIR OUTPUT_DIR participant [--participant-label LABEL ...]\n"
    "                 [--bids-filter-file FILE] [--metadata FILE] [--jobs N]\n"
    "\n"
    "Runs the distortion correction on a BIDS dataset, as BIDS Apps are called.\n"
    "For each subject (and session) it finds the reverse phase-encoded pairs:\n"
    "fmap/*_epi images with opposite PhaseEncodingDirection, which correct the\n"
    "runs their IntendedFor lists (or whose B0FieldSource names their\n"
    "B0FieldIdentifier), and dwi/ or func/ runs that differ only in dir- and are\n"
    "encoded in opposite directions, which correct each other. Each field is\n"
    "estimated once and carried to the grid of every run it corrects, converted\n"
    "with that run's readout time and direction.\n"
    "\n"
    "OUTPUT_DIR becomes a BIDS-Derivatives dataset: dataset_description.json,\n"
    "the fields (..._desc-daxo_fieldmap.nii.gz, Hz, with sidecars), the\n"
    "corrected runs (..._desc-undistorted_<suffix>.nii.gz with sidecars, .bval\n"
    "and .bvec), a page per subject (sub-LABEL.html, with a quality page per\n"
    "field in sub-LABEL/figures/) and a log per subject (logs/sub-LABEL.log).\n"
    "\n"
    "--bids-filter-file takes the images a JSON file selects by their entities,\n"
    "as fMRIPrep's option of that name does ({\"dwi\": {\"acquisition\": \"mb\"}}).\n"
    "--metadata supplies PhaseEncodingDirection and TotalReadoutTime for the\n"
    "images a rule matches, where their sidecars lack them or are wrong:\n"
    "[{\"match\": {\"subject\": \"canon\", \"direction\": \"AP\"},\n"
    "  \"metadata\": {\"PhaseEncodingDirection\": \"j-\"}}]. Each supplied value is\n"
    "logged and recorded in the outputs' sidecars (MetadataSupplied).\n"
    "\n"
    "A rerun skips what is complete and newer than its inputs and redoes what an\n"
    "interrupted run left unfinished. A subject that fails is reported and the\n"
    "others go on; the exit status is then 1, with a summary of what failed.\n",
    {{"Options:",
      {{"--participant-label",
        "LABEL",
        "only these subjects (01 or sub-01); default: every sub-* folder",
        {},
        true,
        "--participant_label"},
       {"--bids-filter-file", "FILE",
        "only the images this JSON file's queries (fmap, dwi, bold, sbref) select by "
        "their entities"},
       {"--metadata", "FILE", "PhaseEncodingDirection and TotalReadoutTime for the images its rules match"},
       {"--jobs", "N",
        "run N subjects at a time, each in its own process on its share of the cores "
        "(default 1)"}}}},
    "Examples:\n"
    "  daxo bids /data/study /data/study/derivatives/daxo participant\n"
    "  daxo bids /data/study /scratch/daxo participant --participant-label 01 02 --jobs 2\n",
    3,
    3,
    runBids};

}  // namespace daxo::cli
