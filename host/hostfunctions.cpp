// The host's user-interface and dialog-parameter functions.
#include "host/hostfunctions.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <type_traits>

#include "host/hoststate.h"

using daxo::host::hostState;
using daxo::host::textOf;

static_assert(std::is_same_v<decltype(&hvGetVersionOfTesmarinHV), daxo::HvGetVersionFunction>);
static_assert(std::is_same_v<decltype(&hvLogText), daxo::HvLogTextFunction>);
static_assert(std::is_same_v<decltype(&hvMessageBox), daxo::HvMessageBoxFunction>);
static_assert(std::is_same_v<decltype(&hvYesNoMessageBox), daxo::HvYesNoMessageBoxFunction>);
static_assert(std::is_same_v<decltype(&hvGetOpenFileName), daxo::HvGetOpenFileNameFunction>);
static_assert(std::is_same_v<decltype(&hvShowBusyCursor), daxo::HvBusyCursorFunction>);
static_assert(std::is_same_v<decltype(&hvStopBusyCursor), daxo::HvBusyCursorFunction>);
static_assert(std::is_same_v<decltype(&hvGetStringParameter), daxo::HvGetStringParameterFunction>);
static_assert(std::is_same_v<decltype(&hvGetIntParameter), daxo::HvGetIntParameterFunction>);
static_assert(std::is_same_v<decltype(&hvSetStringParameter), daxo::HvSetStringParameterFunction>);
static_assert(std::is_same_v<decltype(&hvSetIntParameter), daxo::HvSetIntParameterFunction>);

namespace {

// Copies `value` into a host text buffer, cut to kHostTextBufferSize - 1
// characters and always terminated, as the host does for every answer.
void copyToTextBuffer(const std::string& value, char* buffer) {
  if (buffer == nullptr) return;
  const size_t length = std::min(value.size(), daxo::kHostTextBufferSize - 1);
  std::memcpy(buffer, value.data(), length);
  buffer[length] = '\0';
}

}  // namespace

extern "C" {

void hvGetVersionOfTesmarinHV(int32_t* first, int32_t* second, int32_t* third) {
  const daxo::host::HostVersion& version = hostState().version;
  if (first != nullptr) *first = version.first;
  if (second != nullptr) *second = version.second;
  if (third != nullptr) *third = version.third;
}

void hvLogText(const char* text) { hostState().log.append(textOf(text)); }

void hvMessageBox(const char* text) { hostState().messageBoxes.show(textOf(text), hostState().busyCursor.depth()); }

int32_t hvYesNoMessageBox(const char* question) { return hostState().yesNo.ask(textOf(question)) ? 1 : 0; }

int32_t hvGetOpenFileName(const char* title, const char* /*second*/, const char* filter, char* path) {
  const std::string chosen = hostState().fileChooser.choose({textOf(title), textOf(filter)});
  copyToTextBuffer(chosen, path);
  return chosen.empty() ? 0 : 1;
}

void hvShowBusyCursor() { hostState().busyCursor.show(); }

void hvStopBusyCursor() { hostState().busyCursor.stop(); }

int32_t hvGetStringParameter(const char* name, char* value) {
  const std::string key = textOf(name);
  copyToTextBuffer(hostState().parameters.getString(key), value);
  return hostState().parameters.hasString(key) ? 1 : 0;
}

int32_t hvGetIntParameter(const char* name) { return hostState().parameters.getInt(textOf(name)); }

int32_t hvSetStringParameter(const char* name, const char* value) {
  daxo::host::DialogParameters& parameters = hostState().parameters;
  parameters.setString(textOf(name), textOf(value));
  parameters.recordChange({textOf(name), true, textOf(value)});
  return 1;
}

int32_t hvSetIntParameter(const char* name, int32_t value) {
  daxo::host::DialogParameters& parameters = hostState().parameters;
  parameters.setInt(textOf(name), value);
  parameters.recordChange({textOf(name), false, std::to_string(value)});
  return 1;
}

}  // extern "C"
