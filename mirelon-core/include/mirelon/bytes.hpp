#pragma once
// Byte strings, keys and seeds.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mirelon {

using ByteView = std::span<const std::uint8_t>;
using Bytes = std::vector<std::uint8_t>;

inline constexpr std::size_t kKeySize = 256;
using Key = std::array<std::uint8_t, kKeySize>;

inline constexpr std::size_t kSeedSize = 32;
using SeedView = std::span<const std::uint8_t, kSeedSize>;

}  // namespace mirelon
