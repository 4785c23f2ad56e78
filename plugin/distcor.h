#pragma once

#include <memory>
#include <ostream>

#include "protocol/pluginexport.h"
#include "protocol/tshvplugininterface.h"

class TSHVLog;

// The plugin: binds the host at start and runs one task per dialog step.
// Created by createPlugin and owned by the host, which destroys it through the
// virtual destructor. Not copyable: it owns its log stream.
class DAXO_PLUGIN_API distcor : public TSHVPluginInterface {
 public:
  // No log stream until initPlugin.
  distcor();
  // Deletes the log stream, which forwards any pending text to the host log.
#if defined(_WIN32)
  ~distcor();
  // Table slot 0 on Windows (see TSHVPluginInterface); defined in msvcabi_windows.cpp.
  void* deletingDestructor(unsigned int flags) override;
#else
  ~distcor() override;
#endif

  distcor(const distcor&) = delete;
  distcor& operator=(const distcor&) = delete;

  // Reads the dialog parameter "task" and runs the task of that exact name
  // ("estimate" and "apply" under the host's busy cursor). A standard
  // exception is shown as "Error: " + what() in a host message box. Always
  // returns true.
  bool execute() override;

  // Binds the host function table, creates the log stream (replacing an
  // earlier one), refuses a host older than 3.0.0 and binds the FFT functions.
  // False when the host cannot be used; the log stream stays in place after
  // the version or FFT checks fail.
  bool initPlugin() override;

 protected:
  // The current log stream; null before initPlugin has created one.
  std::ostream* logStream() const;

 private:
  std::unique_ptr<TSHVLog> log;
};
