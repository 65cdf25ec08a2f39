#include "binding/results.hpp"

#include <cstring>
#include <new>

#include "binding/errors.hpp"
#include "mirelon/output.hpp"

namespace mirelon::py {
namespace {

PyRef created(PyObject* object) {
  if (object == nullptr) {
    PyErr_Print();
    raise_panic("Python API call failed");
  }
  return PyRef(object);
}

// A bytes object of `size` bytes, uninitialised, or null with the host's
// error pending.
PyObject* bytes_of_size(std::size_t size) {
  if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) {
    PyErr_NoMemory();
    return nullptr;
  }
  return PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
}

std::span<std::uint8_t> output_storage(PyObject* bytes, std::size_t size) {
  return {reinterpret_cast<std::uint8_t*>(PyBytes_AsString(bytes)), size};
}

}  // namespace

PyRef new_int(std::uint64_t value) { return created(PyLong_FromUnsignedLongLong(value)); }

PyRef new_bytes(ByteView bytes) {
  PyRef object = created(bytes_of_size(bytes.size()));
  const std::span<std::uint8_t> storage = output_storage(object.get(), bytes.size());
  prepare_output(storage);  // a large field of a blob is copied into fresh pages
  if (!bytes.empty()) std::memcpy(storage.data(), bytes.data(), bytes.size());
  return object;
}

PyRef new_bytes_to_fill(std::size_t size, std::span<std::uint8_t>& storage) {
  // This buffer is the computation's own output: running out of memory for
  // it is a MemoryError, as for any other buffer of the work.
  PyRef object(check(bytes_of_size(size)));
  storage = output_storage(object.get(), size);
  return object;
}

PyRef new_bytes_list_to_fill(std::size_t count, std::size_t size,
                             std::vector<std::span<std::uint8_t>>& storage) {
  PyRef list = created(PyList_New(static_cast<Py_ssize_t>(count)));
  storage.assign(count, {});
  for (std::size_t i = 0; i < count; ++i)
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i),
                   new_bytes_to_fill(size, storage[i]).release());
  return list;
}

PyRef new_str(std::string_view utf8) {
  return created(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

PyRef new_tuple(std::span<PyRef> items) {
  PyRef tuple = created(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t position = 0;
  for (PyRef& item : items) PyTuple_SetItem(tuple.get(), position++, item.release());
  return tuple;
}

}  // namespace mirelon::py
