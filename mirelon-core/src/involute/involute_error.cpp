#include "mirelon/involute.hpp"

#include <string>
#include <variant>

namespace mirelon {

std::string message(const InvoluteError& error) {
  if (const auto* m = std::get_if<ChunkMismatch>(&error))
    return "Packet length (" + std::to_string(m->packet_len) +
           ") is not a multiple of chunk size (" + std::to_string(m->chunk_size) + ").";
  return "Duplicate crumbs detected after operations, cannot create a unique pattern";
}

}  // namespace mirelon
