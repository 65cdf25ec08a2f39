#pragma once
// The data mapping's kernels for processors with AVX-512 VBMI. Call them only
// where the processor has it; all tables hold 256 entries.

#include <cstddef>
#include <cstdint>
#include <span>

#include "mirelon/bytes.hpp"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MIRELON_HAVE_VBMI_KERNELS 1

namespace mirelon::blocks::vbmi {

// out[i] = table[index[i]] for i < m.
void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m);

// map_data's positions [begin, end) for party p of d.size() >= 2 parties;
// out receives position begin first.
void map_positions(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t p,
                   std::span<const ByteView> d, std::size_t begin, std::size_t end,
                   std::uint8_t* out);

// inv_data's positions [begin, end) of mapped.size() >= 2 parties: out[j]
// receives party j's bytes at the same positions.
void inv_positions(const std::uint8_t* a, std::span<const Bytes> tables,
                   std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                   std::span<const std::span<std::uint8_t>> out);

}  // namespace mirelon::blocks::vbmi

#endif
