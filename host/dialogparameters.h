#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace daxo::host {

// One parameter set by the plugin, in the order of the calls.
struct ParameterChange {
  std::string name;
  bool isString = false;
  std::string value;  // an int value in decimal
};

// The dialog's named parameters: one store for strings and one for integers
// (a name may exist in both). Unknown names read as "" and 0.
class DialogParameters {
 public:
  void setString(const std::string& name, const std::string& value) { strings_[name] = value; }
  void setInt(const std::string& name, int32_t value) { ints_[name] = value; }
  std::string getString(const std::string& name) const;
  int32_t getInt(const std::string& name) const;
  bool hasString(const std::string& name) const { return strings_.count(name) != 0; }
  bool hasInt(const std::string& name) const { return ints_.count(name) != 0; }

  // Records a change the plugin made through the host functions.
  void recordChange(ParameterChange change) { changes_.push_back(std::move(change)); }
  const std::vector<ParameterChange>& changes() const { return changes_; }

 private:
  std::map<std::string, std::string> strings_;
  std::map<std::string, int32_t> ints_;
  std::vector<ParameterChange> changes_;
};

}  // namespace daxo::host
