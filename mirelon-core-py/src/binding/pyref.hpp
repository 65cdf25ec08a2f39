#pragma once
// An owning reference: released on every path, so no error path leaks.

#include <utility>

#include "binding/python.hpp"

namespace mirelon::py {

class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (which may be null).
  explicit PyRef(PyObject* owned) : ptr_(owned) {}
  static PyRef borrow(PyObject* borrowed) {
    Py_XINCREF(borrowed);
    return PyRef(borrowed);
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(ptr_);
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(ptr_); }

  PyObject* get() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(ptr_, nullptr); }

 private:
  PyObject* ptr_ = nullptr;
};

}  // namespace mirelon::py
