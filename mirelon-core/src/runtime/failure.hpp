#pragma once
// The texts of internal failures that several units raise alike; each throws
// InternalFailure.

#include <cstdint>
#include <string_view>

#include "mirelon/failure.hpp"

namespace mirelon::runtime {

// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void fail_index_out_of_bounds(std::uint64_t len, std::uint64_t index);

// "assertion `left == right` failed: {message}\n  left: {left}\n right: {right}"
[[noreturn]] void fail_assert_eq(std::string_view message, std::string_view left,
                                 std::string_view right);
[[noreturn]] void fail_assert_eq(std::string_view message, std::uint64_t left,
                                 std::uint64_t right);

}  // namespace mirelon::runtime
