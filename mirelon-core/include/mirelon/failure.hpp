#pragma once
// Internal failures: broken preconditions that a well-formed caller never
// produces. They are thrown (from any thread, workers included), never caught
// by the core, and reach Python as the panic exception with `what()` as text.

#include <stdexcept>
#include <string>

namespace mirelon {

class InternalFailure : public std::runtime_error {
 public:
  explicit InternalFailure(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace mirelon
