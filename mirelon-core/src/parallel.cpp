#include "mirelon/parallel.hpp"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace mirelon::parallel {
namespace {

// A whole string of decimal digits, or nothing.
std::optional<std::size_t> parse_unsigned(const char* text) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  std::size_t value = 0;
  const char* end = text + std::strlen(text);
  auto [stop, error] = std::from_chars(text, end, value);
  if (error != std::errc() || stop != end) return std::nullopt;
  return value;
}

std::size_t logical_processors() {
  unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : n;
}

}  // namespace

std::size_t pool_size_from(const char* num_threads, const char* num_cpus,
                           std::size_t logical) {
  if (auto n = parse_unsigned(num_threads)) return *n == 0 ? logical : *n;
  if (auto n = parse_unsigned(num_cpus); n && *n > 0) return *n;
  return logical;
}

tbb::task_arena& arena() {
  static tbb::task_arena instance(static_cast<int>(pool_size_from(
      std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"), logical_processors())));
  return instance;
}

std::size_t worker_count() {
  static const std::size_t count = static_cast<std::size_t>(arena().max_concurrency());
  return count;
}

}  // namespace mirelon::parallel
