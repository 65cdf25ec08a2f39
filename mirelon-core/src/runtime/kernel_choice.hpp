#pragma once
// Where the processor allows, SHA-256 batches and the data mapping run on
// wider kernels chosen at run time. MIRELON_PORTABLE_KERNELS=1 in the
// environment keeps the portable ones (OpenSSL one message at a time, 16-byte
// block kernels) so that they can be tested on any machine. Read once, at the
// first choice.

#include <cstdlib>
#include <cstring>

namespace mirelon::runtime {

inline bool portable_kernels_requested() {
  const char* value = std::getenv("MIRELON_PORTABLE_KERNELS");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace mirelon::runtime
