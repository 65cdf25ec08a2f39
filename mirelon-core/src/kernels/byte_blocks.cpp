#include "kernels/byte_blocks.hpp"

#include <string>
#include <vector>

#include "mirelon/failure.hpp"

namespace mirelon::kernels {

std::size_t common_length(std::span<const ByteView> sequences) {
  const std::size_t len = sequences[0].size();
  for (std::size_t j = 0; j < sequences.size(); ++j) {
    if (sequences[j].size() != len) {
      throw InternalFailure("all inner vectors must have equal length; data_sequences[0].len() = " +
                            std::to_string(len) + ", but data_sequences[" + std::to_string(j) +
                            "].len() = " + std::to_string(sequences[j].size()));
    }
  }
  return len;
}
void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m) {
  if (lookup_wide(table, index, out, m)) return;
  for (std::size_t i = 0; i < m; ++i) out[i] = table[index[i]];
}

}  // namespace mirelon::kernels
