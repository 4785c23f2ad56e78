#pragma once

#include <string>

namespace daxo::testing {

// The what() text of the `Exception` that `call` throws, or "no exception"
// when it returns; exceptions of other types pass through (and fail the
// test). For checking a failure's exact message.
template <typename Exception, typename Call>
std::string thrownMessage(Call&& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.what();
  }
  return "no exception";
}

}  // namespace daxo::testing
