#pragma once
// SipHash-1-3 under a key drawn once per process from the operating system:
// the hash of in-memory sets whose keys come from callers, so that no input
// can be crafted to make a set degrade into a list.

#include <cstddef>
#include <cstdint>

#include "mirelon/bytes.hpp"

namespace mirelon {

std::uint64_t process_keyed_hash(ByteView data);

}  // namespace mirelon
