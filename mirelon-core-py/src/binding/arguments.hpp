#pragma once
// Argument binding and conversion, shared by every function of the module.
// A function names its parameters once, in a Signature; `Arguments` binds the
// call's positional and keyword arguments to them and converts each by rule.
// A TypeError raised while converting parameter NAME is re-raised as
// "argument 'NAME': <message>"; other errors pass unchanged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "binding/numpy.hpp"
#include "binding/pyref.hpp"
#include "binding/python.hpp"
#include "mirelon/bytes.hpp"

namespace mirelon::py {

inline constexpr std::size_t kMaxParameters = 6;

// A function's name and parameter names; the count follows from the names.
struct Signature {
  const char* name;
  std::array<const char*, kMaxParameters> parameters{};
  std::size_t count = 0;  // named parameters; 0 with `varargs` gathers all positionals
  bool varargs = false;

  template <class... Names>
  constexpr Signature(const char* function_name, Names... names)
      : name(function_name), parameters{names...}, count(sizeof...(Names)) {
    static_assert(sizeof...(Names) <= kMaxParameters);
  }
  // A function taking any number of positional arguments and no keywords.
  static constexpr Signature any_positional(const char* function_name) {
    Signature s(function_name);
    s.varargs = true;
    return s;
  }
};

// A text argument: its UTF-8 encoding, owned for the call.
struct Text {
  PyRef encoded;
  ByteView view() const;
};

// A bytes argument, read in place.
struct BytesObject {
  ByteView bytes;
};

// The elements of a byte-array list, each held for the call.
struct ByteArrayList {
  std::vector<PyRef> holds;
  std::vector<ByteArray> arrays;
};

class Arguments {
 public:
  // Binds; raises the binding TypeErrors.
  Arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

  ByteArray byte_array(std::size_t i);
  std::uint64_t unsigned_integer(std::size_t i);
  float single_precision(std::size_t i);
  Text text(std::size_t i);
  ByteArrayList byte_array_list(std::size_t i);
  BytesObject bytes_object(std::size_t i);
  // The positional arguments of a varargs function.
  PyObject* positional() const { return args_; }

 private:
  template <class Rule>
  auto convert(std::size_t i, Rule rule);

  const Signature& signature_;
  PyObject* args_;
  std::array<PyRef, kMaxParameters> slots_;
};

// A sequence's claimed length, used only to reserve room: 0 when it has
// none, and capped, since a length is only a claim and must not decide how
// much memory a call takes before a single element has been seen.
std::size_t reservation_hint(PyObject* sequence);

// Conversion rules on a single object (no argument prefix).
std::uint64_t to_unsigned_integer(PyObject* object);
float to_single_precision(PyObject* object);

// Views of the elements of a byte-array list, read in place (the list holds
// them for the call and no Python code runs while the core reads them); an
// element that is not contiguous raises the panic exception.
std::vector<ByteView> element_views(const ByteArrayList& list);

}  // namespace mirelon::py
