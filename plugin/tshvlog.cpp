#include "plugin/tshvlog.h"

#include <string>

#if defined(_WIN32)
#include "plugin/signednan.h"
#endif

TSHVLog::TSHVBuf::TSHVBuf(Callback callback)
    : std::stringbuf(std::ios_base::in | std::ios_base::out), callback_(callback) {}

TSHVLog::TSHVBuf::~TSHVBuf() { sync(); }

int TSHVLog::TSHVBuf::sync() {
  const std::string text = str();
  if (callback_ != nullptr) callback_(text.c_str());
  str(std::string());
  return 0;
}

// The base stream starts without a buffer; installing ours clears its state.
TSHVLog::TSHVLog(Callback callback) : std::ostream(nullptr), buffer_(std::make_unique<TSHVBuf>(callback)) {
  rdbuf(buffer_.get());
#if defined(_WIN32)
  imbue(daxo::withSignedNan(getloc()));
#endif
}

TSHVLog::~TSHVLog() {
  // Detach first so the base stream never sees a destroyed buffer.
  rdbuf(nullptr);
  buffer_.reset();
}
