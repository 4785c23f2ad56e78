#pragma once

#include <stdexcept>

namespace daxo::pipeline {

// A request that cannot be carried out as it was asked: a setting out of its
// range, a folder that holds files the step must not touch, an output name
// that would replace an input. Front ends report it as a bad command line
// (daxo: exit status 2); nothing has been written when it is thrown.
class RequestError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace daxo::pipeline
