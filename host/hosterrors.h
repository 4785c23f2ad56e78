#pragma once

#include <functional>
#include <string>
#include <vector>

namespace daxo::host {

// Failures inside the host that the plugin cannot learn about (a map file that
// could not be saved, say). They are recorded here and reported through the
// observer, so that the program driving the plugin can make them visible and
// fail.
class HostErrors {
 public:
  void report(const std::string& message);
  const std::vector<std::string>& reported() const { return reported_; }
  void setObserver(std::function<void(const std::string&)> observer) { observer_ = std::move(observer); }

 private:
  std::vector<std::string> reported_;
  std::function<void(const std::string&)> observer_;
};

}  // namespace daxo::host
