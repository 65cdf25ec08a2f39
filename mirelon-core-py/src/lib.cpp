// The extension module mirelon_core_py: its function table and one short
// function per Python function. Each converts its bound arguments, checks
// what the core needs beyond their types, calls the core and builds the result.

#include <array>
#include <atomic>
#include <string>
#include <type_traits>
#include <utility>

#include "binding/arguments.hpp"
#include "binding/blob_field.hpp"
#include "binding/errors.hpp"
#include "binding/results.hpp"
#include "mirelon/mirelon.hpp"

namespace mirelon::py {
namespace {

template <class T>
T framing_result(tl::expected<T, FramingError> result) {
  if (!result) raise(PyExc_ValueError, message(result.error()));
  return std::move(*result);
}

// A bytes object of `size` bytes that `fill(storage)` writes in place. When
// `fill` returns an involution failure, it becomes ValueError with
// `error_prefix` before its text.
template <class Fill>
PyObject* filled_bytes(std::size_t size, Fill fill, const char* error_prefix = "") {
  std::span<std::uint8_t> storage;
  PyRef out = new_bytes_to_fill(size, storage);
  if constexpr (std::is_void_v<decltype(fill(storage))>) {
    fill(storage);
  } else {
    auto done = fill(storage);
    if (!done) raise(PyExc_ValueError, error_prefix + message(done.error()));
  }
  return out.release();
}

PyObject* involute_packet(Arguments& a) {
  ByteArray packet = a.byte_array(0);
  ByteArray salt = a.byte_array(1);
  std::uint64_t chunk_size = a.unsigned_integer(2);
  require_contiguous(packet, salt);
  return filled_bytes(
      packet.size,
      [&](auto out) {
        return mirelon::involute_packet_into(packet.view(), salt.view(), chunk_size, out);
      },
      "Involute error: ");
}

PyObject* cycle_packet(Arguments& a) {
  ByteArray packet = a.byte_array(0);
  ByteArray old_salt = a.byte_array(1);
  ByteArray new_salt = a.byte_array(2);
  ByteArray old_key = a.byte_array(3);
  ByteArray new_key = a.byte_array(4);
  std::uint64_t chunk_size = a.unsigned_integer(5);
  require_contiguous(packet, old_salt, new_salt, old_key, new_key);
  return filled_bytes(
      packet.size,
      [&](auto out) {
        return mirelon::cycle_packet_into(packet.view(), old_salt.view(), new_salt.view(),
                                          old_key.view(), new_key.view(), chunk_size, out);
      },
      "Cycle error: ");
}

PyObject* get_chunk_size(Arguments& a) {
  ByteArray packet = a.byte_array(0);
  require_contiguous(packet);
  return new_int(mirelon::get_chunk_size(packet.view())).release();
}

PyObject* get_chunk_size_min(Arguments& a) {
  ByteArray packet = a.byte_array(0);
  std::uint64_t min_size = a.unsigned_integer(1);
  require_contiguous(packet);
  return new_int(mirelon::get_chunk_size_min(packet.view(), min_size)).release();
}

PyObject* cond_involute_packet(Arguments& a) {
  ByteArray packet = a.byte_array(0);
  ByteArray salt = a.byte_array(1);
  std::uint64_t chunk_size = a.unsigned_integer(2);
  std::uint64_t low_bound = a.unsigned_integer(3);
  std::uint64_t high_bound = a.unsigned_integer(4);
  float test_value = a.single_precision(5);
  require_contiguous(packet, salt);
  return filled_bytes(
      packet.size,
      [&](auto out) {
        return mirelon::cond_involute_packet_into(packet.view(), salt.view(), chunk_size,
                                                  low_bound, high_bound, test_value, out);
      },
      "Involute error: ");
}

PyObject* gen_key(Arguments& a) {
  Text party_id = a.text(0);
  Text purpose = a.text(1);
  ByteArray master_seed = a.byte_array(2);
  if (!master_seed.contiguous)
    raise_not_contiguous(PyExc_ValueError, "Seed array not contiguous: ");
  if (master_seed.size != kSeedSize)
    raise(PyExc_ValueError, "master_seed must be exactly 32 bytes long");
  Key key =
      mirelon::gen_key(party_id.view(), purpose.view(), SeedView(master_seed.data, kSeedSize));
  return new_bytes(key).release();
}

PyObject* prep_condition(Arguments& a) {
  float low_bound = a.single_precision(0);
  float high_bound = a.single_precision(1);
  ByteArray salt = a.byte_array(2);
  require_contiguous(salt);
  PreparedBounds bounds = mirelon::prep_condition(low_bound, high_bound, salt.view());
  return new_tuple_of(bounds.low, bounds.high).release();
}

PyObject* cond_hash_branch(Arguments& a) {
  std::uint64_t low_bound = a.unsigned_integer(0);
  std::uint64_t high_bound = a.unsigned_integer(1);
  float test_value = a.single_precision(2);
  ByteArray salt = a.byte_array(3);
  require_contiguous(salt);
  return new_int(mirelon::cond_hash_branch(low_bound, high_bound, test_value, salt.view()))
      .release();
}

PyObject* map_data(Arguments& a) {
  ByteArray pub_key = a.byte_array(0);
  ByteArray priv_key = a.byte_array(1);
  std::uint64_t identity = a.unsigned_integer(2);
  ByteArrayList data_sequences = a.byte_array_list(3);
  require_contiguous(pub_key, priv_key);
  std::vector<ByteView> sequences = element_views(data_sequences);
  return filled_bytes(mirelon::map_data_length(identity, sequences), [&](auto out) {
    mirelon::map_data_into(pub_key.view(), priv_key.view(), identity, sequences, out);
  });
}

PyObject* inv_data(Arguments& a) {
  ByteArray pub_key = a.byte_array(0);
  ByteArrayList priv_keys = a.byte_array_list(1);
  ByteArrayList data_sequences = a.byte_array_list(2);
  require_contiguous(pub_key);
  std::vector<ByteView> keys = element_views(priv_keys);
  std::vector<ByteView> sequences = element_views(data_sequences);
  const std::size_t len = mirelon::inv_data_length(pub_key.view(), keys, sequences);
  std::vector<std::span<std::uint8_t>> storage;
  PyRef out = new_bytes_list_to_fill(sequences.size(), len, storage);
  mirelon::inv_data_into(pub_key.view(), keys, sequences, storage);
  return out.release();
}

PyObject* package_blob(Arguments& a) {
  BlobFields fields = blob_fields(a.positional());
  return filled_bytes(blob_size(fields.fields),
                      [&](auto out) { write_blob_into(fields.fields, out); });
}

PyObject* unpack_setup_packet(Arguments& a) {
  BytesObject data = a.bytes_object(0);
  SetupPacket p = framing_result(mirelon::unpack_setup_packet(data.bytes));
  return new_tuple_of(p.public_key, p.packet, p.mode, p.identity).release();
}

PyObject* unpack_encrypted_packet(Arguments& a) {
  BytesObject data = a.bytes_object(0);
  EncryptedPacket p = framing_result(mirelon::unpack_encrypted_packet(data.bytes));
  return new_tuple_of(p.public_key, p.private_key, p.packet, p.mode, p.identity).release();
}

using Body = PyObject* (*)(Arguments&);

// One row per Python function: its name, its parameter names and the function
// that serves it. The order of this table is the order of `__all__`.
struct Row {
  Signature signature;
  Body body;
};
constexpr Row kFunctions[] = {
    {{"involute_packet", "packet", "salt", "chunk_size"}, involute_packet},
    {{"cycle_packet", "packet", "old_salt", "new_salt", "old_key", "new_key", "chunk_size"},
     cycle_packet},
    {{"get_chunk_size", "packet"}, get_chunk_size},
    {{"get_chunk_size_min", "packet", "min_size"}, get_chunk_size_min},
    {{"cond_involute_packet", "packet", "involute_salt", "chunk_size", "low_bound", "high_bound",
      "test_value"},
     cond_involute_packet},
    {{"gen_key", "party_id", "purpose", "master_seed"}, gen_key},
    {{"prep_condition", "low_bound", "high_bound", "salt"}, prep_condition},
    {{"cond_hash_branch", "low_bound", "high_bound", "test_value", "salt"}, cond_hash_branch},
    {{"map_data", "pub_key", "priv_key", "identity", "data_sequences"}, map_data},
    {{"inv_data", "pub_key", "priv_keys", "data_sequences"}, inv_data},
    {Signature::any_positional("package_blob"), package_blob},
    {{"unpack_setup_packet", "data"}, unpack_setup_packet},
    {{"unpack_encrypted_packet", "data"}, unpack_encrypted_packet},
};
constexpr std::size_t kFunctionCount = std::size(kFunctions);

// The host's entry point for row I: binds the arguments to the row's
// signature and runs its function, every failure turned into a Python error.
template <std::size_t I>
PyObject* call(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    Arguments a(kFunctions[I].signature, args, kwargs);
    return kFunctions[I].body(a);
  });
}

using EntryPoint = PyObject* (*)(PyObject*, PyObject*, PyObject*);

template <std::size_t... I>
constexpr std::array<EntryPoint, sizeof...(I)> entry_points(std::index_sequence<I...>) {
  return {call<I>...};
}
constexpr auto kEntryPoints = entry_points(std::make_index_sequence<kFunctionCount>());

// "name(a, b)\n--\n\n": the host derives __text_signature__ from it and, as
// nothing follows, leaves __doc__ None.
std::string signature_doc(const Signature& s) {
  std::string doc = std::string(s.name) + "(";
  if (s.varargs) doc += "*args";
  for (std::size_t i = 0; i < s.count; ++i) doc += (i ? ", " : "") + std::string(s.parameters[i]);
  return doc + ")\n--\n\n";
}

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "mirelon_core_py", "Create the Python module", 0, nullptr,
    nullptr,               nullptr,           nullptr,                    nullptr,
};

std::atomic<std::int64_t> first_interpreter{-1};
PyObject* the_module = nullptr;

// Adds one function: its object, its attribute and its entry in `all`.
bool add_function(PyObject* module, PyObject* module_name, PyObject* all, PyMethodDef* method) {
  PyRef function(PyCMethod_New(method, module, module_name, nullptr));
  if (!function) return false;
  PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return false;
  if (!PyUnicode_Check(name.get())) {
    PyErr_SetString(PyExc_TypeError, "function __name__ must be a str");
    return false;
  }
  if (PyList_Append(all, name.get()) < 0) return false;
  return PyObject_SetAttr(module, name.get(), function.get()) == 0;
}

PyObject* create_module() {
  static std::string docs[kFunctionCount];
  static PyMethodDef methods[kFunctionCount];
  for (std::size_t i = 0; i < kFunctionCount; ++i) {
    docs[i] = signature_doc(kFunctions[i].signature);
    methods[i] = {kFunctions[i].signature.name,
                  reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kEntryPoints[i])),
                  METH_VARARGS | METH_KEYWORDS, docs[i].c_str()};
  }
  PyRef module(PyModule_Create2(&module_definition, 3));
  if (!module) return nullptr;
  PyRef name(PyModule_GetNameObject(module.get()));
  if (!name) return nullptr;
  // `__all__` is made once, ahead of the functions, and filled as they are added.
  PyRef all(PyList_New(0));
  if (!all || PyObject_SetAttrString(module.get(), "__all__", all.get()) < 0) return nullptr;
  for (PyMethodDef& method : methods)
    if (!add_function(module.get(), name.get(), all.get(), &method)) return nullptr;
  return module.release();
}

}  // namespace
}  // namespace mirelon::py

PyMODINIT_FUNC PyInit_mirelon_core_py() {
  using namespace mirelon::py;
  PyInterpreterState* state = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(state);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!first_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "mirelon_core_py does not yet support sub-interpreters, see "
                    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support");
    return nullptr;
  }
  if (the_module == nullptr) {
    the_module = create_module();
    if (the_module == nullptr) return nullptr;
  }
  Py_INCREF(the_module);
  return the_module;
}
