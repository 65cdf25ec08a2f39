#include "binding/blob_field.hpp"

#include "binding/arguments.hpp"
#include "binding/errors.hpp"
#include "binding/numpy.hpp"

namespace mirelon::py {
namespace {

ByteView bytes_of(PyObject* bytes) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes, &data, &size) < 0) throw PythonError{};
  return ByteView(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
}

// Iterates a sequence whose every element is an integer 0..255. Returns false
// (with no pending error) when it is not one.
bool gather_small_integers(PyObject* object, Bytes& out) {
  out.reserve(reservation_hint(object));
  PyRef iterator(PyObject_GetIter(object));
  if (!iterator) {
    PyErr_Clear();
    return false;
  }
  while (PyRef item{PyIter_Next(iterator.get())}) {
    try {
      std::uint64_t value = to_unsigned_integer(item.get());
      if (value > 255) return false;
      out.push_back(static_cast<std::uint8_t>(value));
    } catch (const PythonError&) {
      PyErr_Clear();
      return false;
    }
  }
  if (PyErr_Occurred()) {
    PyErr_Clear();
    return false;
  }
  return true;
}

void add_field(PyObject* argument, BlobFields& out) {
  ByteArray array;
  if (as_byte_array(argument, array)) {
    if (!array.contiguous) raise_not_contiguous(PyExc_ValueError, "numpy array not contiguous: ");
    out.fields.emplace_back(array.view());
    return;
  }
  if (PyBytes_Check(argument)) {
    out.fields.emplace_back(bytes_of(argument));
    return;
  }
  if (PyUnicode_Check(argument)) {
    PyRef encoded(check(PyUnicode_AsUTF8String(argument)));
    out.fields.emplace_back(bytes_of(encoded.get()));
    out.encoded_texts.push_back(std::move(encoded));
    return;
  }
  try {
    out.fields.emplace_back(to_unsigned_integer(argument));
    return;
  } catch (const PythonError&) {
    PyErr_Clear();
  }
  if (PySequence_Check(argument)) {
    Bytes& gathered = out.gathered.emplace_back();
    if (gather_small_integers(argument, gathered)) {
      out.fields.emplace_back(ByteView(gathered));
      return;
    }
  }
  raise(PyExc_TypeError,
        "Unsupported field type; expected bytes-like, numpy.uint8 array, str, or non-negative int");
}

}  // namespace

BlobFields blob_fields(PyObject* arguments) {
  BlobFields out;
  const Py_ssize_t count = PyTuple_Size(arguments);
  out.fields.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) add_field(PyTuple_GetItem(arguments, i), out);
  return out;
}

}  // namespace mirelon::py
