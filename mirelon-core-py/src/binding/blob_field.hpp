#pragma once
// The blob-field rule: what `package_blob` makes of each argument.

#include <deque>
#include <vector>

#include "binding/pyref.hpp"
#include "mirelon/utils/blob.hpp"

namespace mirelon::py {

// Owns whatever the fields' bytes need beyond the arguments themselves.
struct BlobFields {
  std::vector<BlobField> fields;
  std::vector<PyRef> encoded_texts;
  std::deque<Bytes> gathered;
};

// Decides one field per positional argument, in order. Raises ValueError for
// a non-contiguous uint8 array, UnicodeEncodeError for unencodable text and
// TypeError for anything else that fits no rule.
BlobFields blob_fields(PyObject* arguments);

}  // namespace mirelon::py
