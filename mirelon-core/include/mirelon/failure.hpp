#pragma once
// Internal failures: broken preconditions that a well-formed caller never
// produces. They are thrown (from any thread, workers included), never caught
// by the core, and reach Python as the panic exception with `what()` as text.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mirelon {

class InternalFailure : public std::runtime_error {
 public:
  explicit InternalFailure(const std::string& message) : std::runtime_error(message) {}
};

// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void fail_index_out_of_bounds(std::uint64_t len, std::uint64_t index);

// "assertion `left == right` failed: {message}\n  left: {left}\n right: {right}"
[[noreturn]] void fail_assert_eq(std::string_view message, std::string_view left,
                                 std::string_view right);
[[noreturn]] void fail_assert_eq(std::string_view message, std::uint64_t left,
                                 std::uint64_t right);

}  // namespace mirelon
