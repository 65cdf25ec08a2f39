#include "mapping_blocks.hpp"

#include <string>
#include <vector>

#include "kernel_choice.hpp"
#include "mirelon/failure.hpp"

#include "mapping_vbmi.hpp"

namespace mirelon::blocks {

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
namespace {

using LookupFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t);

void lookup_scalar(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
                   std::size_t m) {
  for (std::size_t i = 0; i < m; ++i) out[i] = table[index[i]];
}

bool has_vbmi() {
#ifdef MIRELON_HAVE_VBMI_KERNELS
  if (portable_kernels_requested()) return false;
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi");
#else
  return false;
#endif
}

bool use_vbmi() {
  static const bool yes = has_vbmi();
  return yes;
}

LookupFn choose_lookup() {
#ifdef MIRELON_HAVE_VBMI_KERNELS
  if (use_vbmi()) return vbmi::lookup;
#endif
  return lookup_scalar;
}

}  // namespace

bool map_positions_fused(const std::uint8_t* a, const std::uint8_t* b, std::uint64_t p,
                         std::span<const ByteView> d, std::size_t begin, std::size_t end,
                         std::uint8_t* out) {
#ifdef MIRELON_HAVE_VBMI_KERNELS
  if (use_vbmi()) {
    vbmi::map_positions(a, b, p, d, begin, end, out);
    return true;
  }
#endif
  (void)a, (void)b, (void)p, (void)d, (void)begin, (void)end, (void)out;
  return false;
}

bool inv_positions_fused(const std::uint8_t* a, std::span<const Bytes> tables,
                         std::span<const ByteView> mapped, std::size_t begin, std::size_t end,
                         std::span<const std::span<std::uint8_t>> out) {
#ifdef MIRELON_HAVE_VBMI_KERNELS
  if (use_vbmi()) {
    vbmi::inv_positions(a, tables, mapped, begin, end, out);
    return true;
  }
#endif
  (void)a, (void)tables, (void)mapped, (void)begin, (void)end, (void)out;
  return false;
}

void lookup(const std::uint8_t* table, const std::uint8_t* index, std::uint8_t* out,
            std::size_t m) {
  static const LookupFn fn = choose_lookup();
  fn(table, index, out, m);
}

}  // namespace mirelon::blocks
