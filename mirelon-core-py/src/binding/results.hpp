#pragma once
// Result objects. Each returns a new reference; a host failure to create one
// prints the pending error and raises the panic exception "Python API call
// failed".

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "binding/pyref.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::py {

PyRef new_int(std::uint64_t value);
PyRef new_bytes(ByteView bytes);
// A bytes object of `size` bytes left for the caller to fill through
// `storage` (the core's *_into functions ready its pages). It is the work's
// output buffer, so a failure to make it raises MemoryError.
PyRef new_bytes_to_fill(std::size_t size, std::span<std::uint8_t>& storage);
// A list of `count` such bytes objects of `size` bytes each.
PyRef new_bytes_list_to_fill(std::size_t count, std::size_t size,
                             std::vector<std::span<std::uint8_t>>& storage);
PyRef new_str(std::string_view utf8);
// A tuple of the given items, in order (their references are taken over).
PyRef new_tuple(std::span<PyRef> items);

// The Python form of a core value: bytes, str or int.
inline PyRef new_object(ByteView bytes) { return new_bytes(bytes); }
inline PyRef new_object(std::string_view utf8) { return new_str(utf8); }
inline PyRef new_object(std::uint64_t value) { return new_int(value); }

// A tuple of the values' Python forms, made in order.
template <class... Values>
PyRef new_tuple_of(const Values&... values) {
  PyRef items[] = {new_object(values)...};
  return new_tuple(items);
}

}  // namespace mirelon::py
