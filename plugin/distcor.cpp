#include "plugin/distcor.h"

#include <exception>
#include <string>

#include "protocol/dialogkeys.h"
#include "plugin/hostapi.h"
#include "plugin/tasks.h"
#include "plugin/tshvlog.h"

namespace {

// Shows the host's busy cursor for its lifetime, so the cursor is stopped
// however the guarded task ends.
class BusyCursorGuard {
 public:
  BusyCursorGuard() {
    if (daxo::hostApi().hvShowBusyCursor != nullptr) daxo::hostApi().hvShowBusyCursor();
  }
  ~BusyCursorGuard() {
    if (daxo::hostApi().hvStopBusyCursor != nullptr) daxo::hostApi().hvStopBusyCursor();
  }
  BusyCursorGuard(const BusyCursorGuard&) = delete;
  BusyCursorGuard& operator=(const BusyCursorGuard&) = delete;
};

void showMessage(const std::string& text) {
  if (daxo::hostApi().hvMessageBox != nullptr) daxo::hostApi().hvMessageBox(text.c_str());
}

// The host version must be at least (3, 0, 0), compared lexicographically.
// The refusal message names version 20.0 while the triple compared is
// (3, 0, 0); both stay as they are, since hosts and users rely on them.
bool hostVersionAccepted(int32_t first, int32_t second, int32_t third) {
  if (first != 3) return first > 3;
  if (second != 0) return second > 0;
  return third >= 0;
}

// Runs the task named exactly `task` (letter case and blanks count); an
// unknown name runs nothing. The guard of the estimate tasks and "apply" is gone
// before an exception leaves this function.
void runTask(const std::string& task, std::ostream& log) {
  namespace dialogkeys = daxo::dialogkeys;
  if (task == dialogkeys::kTaskSelectFmrOrDmr) {
    daxo::runSelectFmrOrDmr(log);
  } else if (task == dialogkeys::kTaskSelectVdm) {
    daxo::runSelectVdm(log);
  } else if (task == dialogkeys::kTaskCheck) {
    daxo::runCheck(log);
  } else {
    BusyCursorGuard busyCursor;
    if (task == dialogkeys::kTaskEstimate) {
      daxo::runEstimate(log);
    } else if (task == dialogkeys::kTaskEstimateVariational) {
      daxo::runEstimateVariational(log);
    } else if (task == dialogkeys::kTaskApply) {
      daxo::runApply(log);
    }
  }
}

}  // namespace

distcor::distcor() = default;

distcor::~distcor() = default;

bool distcor::initPlugin() {
  // Without the host's functions nothing can be shown.
  if (!daxo::bindHostApi()) return false;

  log = std::make_unique<TSHVLog>(daxo::hostApi().hvLogText);

  int32_t first = 0;
  int32_t second = 0;
  int32_t third = 0;
  daxo::hostApi().hvGetVersionOfTesmarinHV(&first, &second, &third);
  if (!hostVersionAccepted(first, second, third)) {
    showMessage("Error: Tesmarin version 20.0 or higher required.");
    return false;
  }

  if (!daxo::bindHostFft()) {
    showMessage("Did not get access to MKL access functions!");
    return false;
  }
  return true;
}

bool distcor::execute() {
  // The host calls execute only after a successful initPlugin; should it not,
  // the tasks write to a stream that discards the text instead of crashing.
  TSHVLog noLog(nullptr);
  std::ostream& out = log ? static_cast<std::ostream&>(*log) : noLog;
  try {
    runTask(daxo::readStringParameter(daxo::dialogkeys::kTask), out);
  } catch (const std::exception& e) {
    showMessage(std::string("Error: ") + e.what());
  }
  return true;
}

std::ostream* distcor::logStream() const { return log.get(); }
