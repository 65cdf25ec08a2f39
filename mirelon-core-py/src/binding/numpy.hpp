#pragma once
// NumPy arrays without NumPy headers: the C API table is fetched at run time
// from the `_ARRAY_API` capsule, and an array's fields are read through a
// mirror of NumPy's (stable) object layout.

#include <cstddef>
#include <cstdint>

#include "binding/python.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::py {

// A one-dimensional uint8 array, held for reading for the duration of a call.
struct ByteArray {
  PyObject* object = nullptr;  // borrowed; the caller keeps it alive
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  bool contiguous = false;

  ByteView view() const { return ByteView(data, size); }
};

// Fills `out` and returns true when `object` is a 1-D array of a dtype
// equivalent to uint8. Sets no Python error when it is not one. A NumPy that
// cannot be loaded raises the panic exception (PythonError).
bool as_byte_array(PyObject* object, ByteArray& out);

// Like as_byte_array, but a mismatch raises TypeError
// "'<type>' object cannot be converted to 'PyArray<T, D>'".
ByteArray byte_array(PyObject* object);

// Raises TypeError "The given array is not contiguous" for the first array
// that is not.
template <class... Arrays>
void require_contiguous(const Arrays&... arrays);

[[noreturn]] void raise_not_contiguous(PyObject* type, const char* prefix);

template <class... Arrays>
void require_contiguous(const Arrays&... arrays) {
  ((arrays.contiguous ? void() : raise_not_contiguous(PyExc_TypeError, "")), ...);
}

// "'<qualified type name>' object cannot be converted to '<target>'".
[[noreturn]] void raise_cannot_convert(PyObject* object, const char* target);

}  // namespace mirelon::py
