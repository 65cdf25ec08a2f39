#include "binding/arguments.hpp"

#include <algorithm>
#include <string>

#include "binding/errors.hpp"

namespace mirelon::py {
namespace {

std::string callee(const Signature& s) { return std::string(s.name) + "()"; }

[[noreturn]] void raise_missing(const Signature& s, const std::vector<const char*>& missing) {
  std::string text = callee(s) + " missing " + std::to_string(missing.size()) +
                     " required positional argument" + (missing.size() == 1 ? "" : "s") + ": ";
  for (std::size_t i = 0; i < missing.size(); ++i) {
    if (i > 0 && missing.size() > 2) text += ",";
    if (i > 0 && i + 1 == missing.size()) text += " and";
    if (i > 0) text += " ";
    text += std::string("'") + missing[i] + "'";
  }
  raise(PyExc_TypeError, text);
}

}  // namespace

ByteView Text::view() const {
  char* data = nullptr;
  Py_ssize_t size = 0;
  PyBytes_AsStringAndSize(encoded.get(), &data, &size);
  return ByteView(reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size));
}

Arguments::Arguments(const Signature& signature, PyObject* args, PyObject* kwargs)
    : signature_(signature), args_(args) {
  const Py_ssize_t given = PyTuple_Size(args);
  if (!signature.varargs) {
    if (static_cast<std::size_t>(given) > signature.count) {
      raise(PyExc_TypeError, callee(signature) + " takes " + std::to_string(signature.count) +
                                 " positional arguments but " + std::to_string(given) + " " +
                                 (given == 1 ? "was" : "were") + " given");
    }
    for (Py_ssize_t i = 0; i < given; ++i) slots_[i] = PyRef::borrow(PyTuple_GetItem(args, i));
  }
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject *key = nullptr, *value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      std::size_t match = signature.count;
      for (std::size_t i = 0; i < signature.count; ++i) {
        if (PyUnicode_Check(key) &&
            PyUnicode_CompareWithASCIIString(key, signature.parameters[i]) == 0) {
          match = i;
          break;
        }
      }
      if (match == signature.count) {
        PyRef text(check(PyObject_Str(key)));
        raise(PyExc_TypeError, PyUnicode_FromFormat("%s() got an unexpected keyword argument '%U'",
                                                    signature.name, text.get()));
      }
      if (slots_[match]) {
        raise(PyExc_TypeError, callee(signature) + " got multiple values for argument '" +
                                   signature.parameters[match] + "'");
      }
      slots_[match] = PyRef::borrow(value);
    }
  }
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < signature.count; ++i)
    if (!slots_[i]) missing.push_back(signature.parameters[i]);
  if (!missing.empty()) raise_missing(signature, missing);
}

template <class Rule>
auto Arguments::convert(std::size_t i, Rule rule) {
  try {
    return rule(slots_[i].get());
  } catch (const PythonError&) {
    prefix_type_error(signature_.parameters[i]);
    throw;
  }
}

ByteArray Arguments::byte_array(std::size_t i) {
  return convert(i, [](PyObject* o) { return py::byte_array(o); });
}

std::uint64_t Arguments::unsigned_integer(std::size_t i) { return convert(i, to_unsigned_integer); }

float Arguments::single_precision(std::size_t i) { return convert(i, to_single_precision); }

Text Arguments::text(std::size_t i) {
  return convert(i, [](PyObject* o) {
    if (!PyUnicode_Check(o)) raise_cannot_convert(o, "PyString");
    return Text{PyRef(check(PyUnicode_AsUTF8String(o)))};
  });
}

ByteArrayList Arguments::byte_array_list(std::size_t i) {
  return convert(i, [](PyObject* o) {
    if (PyUnicode_Check(o)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(o)) raise_cannot_convert(o, "Sequence");
    ByteArrayList list;
    const std::size_t hint = reservation_hint(o);
    list.holds.reserve(hint);
    list.arrays.reserve(hint);
    PyRef iterator(check(PyObject_GetIter(o)));
    while (PyRef item{PyIter_Next(iterator.get())}) {
      list.arrays.push_back(py::byte_array(item.get()));
      list.holds.push_back(std::move(item));
    }
    if (PyErr_Occurred()) throw PythonError{};
    return list;
  });
}

BytesObject Arguments::bytes_object(std::size_t i) {
  return convert(i, [](PyObject* o) {
    if (!PyBytes_Check(o)) raise_cannot_convert(o, "PyBytes");
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(o, &data, &size) < 0) throw PythonError{};
    return BytesObject{ByteView(reinterpret_cast<const std::uint8_t*>(data),
                                static_cast<std::size_t>(size))};
  });
}

std::size_t reservation_hint(PyObject* sequence) {
  constexpr Py_ssize_t kMostReserved = Py_ssize_t{1} << 16;
  const Py_ssize_t size = PySequence_Size(sequence);
  if (size < 0) {
    PyErr_Clear();
    return 0;
  }
  return static_cast<std::size_t>(std::min(size, kMostReserved));
}

std::uint64_t to_unsigned_integer(PyObject* object) {
  unsigned long long value;
  if (PyLong_Check(object)) {
    value = PyLong_AsUnsignedLongLong(object);
  } else {
    PyRef index(check(PyNumber_Index(object)));
    value = PyLong_AsUnsignedLongLong(index.get());
  }
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
  return value;
}

float to_single_precision(PyObject* object) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
  // One rounding to the nearest float (ties to even); out-of-range values
  // become infinities and NaN payloads keep their top bits (the hardware
  // conversion).
  return static_cast<float>(value);
}

std::vector<ByteView> element_views(const ByteArrayList& list) {
  std::vector<ByteView> views;
  views.reserve(list.arrays.size());
  for (const ByteArray& array : list.arrays) {
    if (!array.contiguous)
      raise_panic("called `Result::unwrap()` on an `Err` value: NotContiguousError");
    views.push_back(array.view());
  }
  return views;
}

}  // namespace mirelon::py
