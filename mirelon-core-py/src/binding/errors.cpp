#include "binding/errors.hpp"

#include <cstdio>

#include "binding/pyref.hpp"

namespace mirelon::py {
namespace {

constexpr const char kPanicDoc[] =
    "Raised when the native code of mirelon_core_py fails with an internal error.\n\n"
    "Like SystemExit, this exception derives from BaseException, so it is not\n"
    "caught by `except Exception` and typically propagates through the whole\n"
    "stack and ends the interpreter.";

// Created on first need and kept for the life of the process.
PyObject* panic_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                     PyExc_BaseException, nullptr);
  }
  return type;
}

}  // namespace

std::string utf8_of(PyObject* text) {
  PyRef encoded(PyUnicode_AsEncodedString(text, "utf-8", "replace"));
  if (!encoded) {
    PyErr_Clear();
    return std::string();
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  PyBytes_AsStringAndSize(encoded.get(), &data, &size);
  return std::string(data, static_cast<std::size_t>(size));
}

void raise(PyObject* type, std::string_view message) {
  PyRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  throw PythonError{};
}

void raise(PyObject* type, PyObject* message) {
  PyRef owned(message);
  if (owned) PyErr_SetObject(type, owned.get());
  throw PythonError{};
}

PyObject* check(PyObject* object) {
  if (object == nullptr) throw PythonError{};
  return object;
}

void set_panic(std::string_view message) {
  std::fprintf(stderr, "mirelon_core_py: internal failure: %.*s\n",
               static_cast<int>(message.size()), message.data());
  PyObject* type = panic_type();
  if (type == nullptr) return;  // the host's error from creating the type stands
  PyRef text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()),
                                  "replace"));
  if (text) PyErr_SetObject(type, text.get());
}

void raise_panic(std::string_view message) {
  set_panic(message);
  throw PythonError{};
}

void prefix_type_error(const char* parameter) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef old_type(type), old_value(value), old_traceback(traceback);
  PyRef text(PyObject_Str(value));
  if (!text) return;
  PyRef message(PyUnicode_FromFormat("argument '%s': %U", parameter, text.get()));
  if (!message) return;
  PyRef replacement(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!replacement) return;
  PyException_SetCause(replacement.get(), PyException_GetCause(value));
  PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace mirelon::py
