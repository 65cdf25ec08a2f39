#include "binding/numpy.hpp"

#include <string>

#include "binding/errors.hpp"
#include "binding/pyref.hpp"

namespace mirelon::py {
namespace {

// NumPy's array object layout (unchanged from NumPy 1.7 through 2.x).
struct ArrayFields {
  PyObject ob_base;
  char* data;
  int nd;
  Py_ssize_t* dimensions;
  Py_ssize_t* strides;
  PyObject* base;
  PyObject* descr;
  int flags;
};

constexpr int kCContiguous = 0x0001;
constexpr int kFContiguous = 0x0002;
constexpr int kUByte = 2;

// Slots of the C API table.
constexpr int kArrayTypeSlot = 2;
constexpr int kDescrFromTypeSlot = 45;
constexpr int kEquivTypesSlot = 182;

using DescrFromType = PyObject* (*)(int);
using EquivTypes = unsigned char (*)(PyObject*, PyObject*);

struct NumpyApi {
  PyTypeObject* array_type;
  EquivTypes equiv_types;
  PyObject* ubyte_descr;  // kept for the life of the process
};

// "<ExceptionType>: <message>" of the pending error, which is cleared.
std::string describe_pending_error() {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyRef t(type), v(value), tb(traceback);
  std::string text = "unknown error";
  if (t) {
    PyRef name(PyObject_GetAttrString(t.get(), "__name__"));
    PyRef message(v ? PyObject_Str(v.get()) : nullptr);
    text = (name ? utf8_of(name.get()) : std::string("Error")) + ": " +
           (message ? utf8_of(message.get()) : std::string());
  }
  PyErr_Clear();
  return text;
}

void* fetch_api_table() {
  PyRef numpy(PyImport_ImportModule("numpy"));
  if (!numpy) return nullptr;
  PyRef version(PyObject_GetAttrString(numpy.get(), "__version__"));
  if (!version) return nullptr;
  PyRef lib(PyImport_ImportModule("numpy.lib"));
  if (!lib) return nullptr;
  PyRef parsed(PyObject_CallMethod(lib.get(), "NumpyVersion", "O", version.get()));
  if (!parsed) return nullptr;
  PyRef major(PyObject_GetAttrString(parsed.get(), "major"));
  if (!major) return nullptr;
  long major_value = PyLong_AsLong(major.get());
  if (major_value == -1 && PyErr_Occurred()) return nullptr;
  PyRef multiarray(PyImport_ImportModule(major_value >= 2 ? "numpy._core.multiarray"
                                                          : "numpy.core.multiarray"));
  if (!multiarray) return nullptr;
  PyRef capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
  if (!capsule) return nullptr;
  const char* name = PyCapsule_GetName(capsule.get());
  if (name == nullptr && PyErr_Occurred()) return nullptr;
  return PyCapsule_GetPointer(capsule.get(), name);
}

const NumpyApi& api() {
  static NumpyApi cached{};
  if (cached.array_type != nullptr) return cached;
  void** table = static_cast<void**>(fetch_api_table());
  if (table == nullptr) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, "the capsule is empty");
    raise_panic("Failed to access NumPy array API capsule: " + describe_pending_error());
  }
  auto descr_from_type = reinterpret_cast<DescrFromType>(table[kDescrFromTypeSlot]);
  PyObject* ubyte = check(descr_from_type(kUByte));
  cached = {static_cast<PyTypeObject*>(table[kArrayTypeSlot]),
            reinterpret_cast<EquivTypes>(table[kEquivTypesSlot]), ubyte};
  return cached;
}

}  // namespace

bool as_byte_array(PyObject* object, ByteArray& out) {
  const NumpyApi& numpy = api();
  PyTypeObject* type = Py_TYPE(object);
  if (type != numpy.array_type && !PyType_IsSubtype(type, numpy.array_type)) return false;
  const auto* fields = reinterpret_cast<const ArrayFields*>(object);
  if (fields->nd != 1 || !numpy.equiv_types(fields->descr, numpy.ubyte_descr)) return false;
  out.object = object;
  out.data = reinterpret_cast<const std::uint8_t*>(fields->data);
  out.size = static_cast<std::size_t>(fields->dimensions[0]);
  out.contiguous = (fields->flags & (kCContiguous | kFContiguous)) != 0 && fields->data != nullptr;
  return true;
}

ByteArray byte_array(PyObject* object) {
  ByteArray out;
  if (!as_byte_array(object, out)) raise_cannot_convert(object, "PyArray<T, D>");
  return out;
}

void raise_not_contiguous(PyObject* type, const char* prefix) {
  raise(type, std::string(prefix) + "The given array is not contiguous");
}

void raise_cannot_convert(PyObject* object, const char* target) {
  PyRef name(check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)),
                                          "__qualname__")));
  raise(PyExc_TypeError,
        PyUnicode_FromFormat("'%U' object cannot be converted to '%s'", name.get(), target));
}

}  // namespace mirelon::py
