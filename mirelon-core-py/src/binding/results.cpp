#include "binding/results.hpp"

#include "binding/errors.hpp"

namespace mirelon::py {
namespace {

PyRef created(PyObject* object) {
  if (object == nullptr) {
    PyErr_Print();
    raise_panic("Python API call failed");
  }
  return PyRef(object);
}

}  // namespace

PyRef new_int(std::uint64_t value) { return created(PyLong_FromUnsignedLongLong(value)); }

PyRef new_bytes(ByteView bytes) {
  return created(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                           static_cast<Py_ssize_t>(bytes.size())));
}

PyRef new_str(std::string_view utf8) {
  return created(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

PyRef new_tuple(std::initializer_list<PyRef*> items) {
  PyRef tuple = created(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t position = 0;
  for (PyRef* item : items) PyTuple_SetItem(tuple.get(), position++, item->release());
  return tuple;
}

PyRef new_bytes_list(std::span<const Bytes> items) {
  PyRef list = created(PyList_New(static_cast<Py_ssize_t>(items.size())));
  Py_ssize_t position = 0;
  for (const Bytes& item : items) PyList_SetItem(list.get(), position++, new_bytes(item).release());
  return list;
}

}  // namespace mirelon::py
