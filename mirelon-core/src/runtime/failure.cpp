#include "runtime/failure.hpp"

#include <string>

namespace mirelon::runtime {

void fail_index_out_of_bounds(std::uint64_t len, std::uint64_t index) {
  throw InternalFailure("index out of bounds: the len is " + std::to_string(len) +
                        " but the index is " + std::to_string(index));
}

void fail_assert_eq(std::string_view message, std::string_view left, std::string_view right) {
  std::string text = "assertion `left == right` failed: ";
  text.append(message).append("\n  left: ").append(left).append("\n right: ").append(right);
  throw InternalFailure(text);
}

void fail_assert_eq(std::string_view message, std::uint64_t left, std::uint64_t right) {
  fail_assert_eq(message, std::to_string(left), std::to_string(right));
}

}  // namespace mirelon::runtime
