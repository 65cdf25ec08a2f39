#pragma once
// How failures travel through the binding. A Python error is set where it is
// detected and a PythonError unwinds to `guarded`, which returns NULL. Core
// failures (InternalFailure, std::bad_alloc) become Python exceptions only in
// `guarded`.

#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "binding/python.hpp"
#include "mirelon/failure.hpp"

namespace mirelon::py {

// A Python error is pending.
struct PythonError {};

// The UTF-8 text of a str (unencodable characters replaced); clears any error.
std::string utf8_of(PyObject* text);

// Sets `type` with `message` and throws PythonError.
[[noreturn]] void raise(PyObject* type, std::string_view message);
// Sets `type` with a str object as its message and throws PythonError.
[[noreturn]] void raise(PyObject* type, PyObject* message);
// Throws PythonError if `object` is null (the host has set the error).
PyObject* check(PyObject* object);

// Raises pyo3_runtime.PanicException(message), writing one report to stderr.
void set_panic(std::string_view message);
[[noreturn]] void raise_panic(std::string_view message);

// The exact TypeError pending is replaced by a TypeError whose message is
// "argument '<name>': " and the old message; its cause is kept. Other errors
// pass unchanged.
void prefix_type_error(const char* parameter);

// Runs `body` and turns every failure into a pending Python error and NULL.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const PythonError&) {
  } catch (const InternalFailure& failure) {
    set_panic(failure.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& failure) {
    set_panic(failure.what());
  }
  return nullptr;
}

}  // namespace mirelon::py
