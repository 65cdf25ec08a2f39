#pragma once
// Result objects. Each returns a new reference; a host failure to create one
// prints the pending error and raises the panic exception "Python API call
// failed".

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

#include "binding/pyref.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::py {

PyRef new_int(std::uint64_t value);
PyRef new_bytes(ByteView bytes);
PyRef new_str(std::string_view utf8);
// A tuple of the given items, in order (their references are taken over).
PyRef new_tuple(std::initializer_list<PyRef*> items);
PyRef new_bytes_list(std::span<const Bytes> items);

}  // namespace mirelon::py
