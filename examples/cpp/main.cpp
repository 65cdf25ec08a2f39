// A C++ program using the installed core: choose a chunk size, involute a
// packet twice, and frame it in a blob.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include <mirelon/mirelon.hpp>

int main() {
  std::string_view text = "sixteen byte msg, thirty-two byte";
  mirelon::ByteView packet(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  const std::uint8_t salt_bytes[] = {1, 2, 3, 4};
  mirelon::ByteView salt(salt_bytes);

  std::uint64_t chunk = mirelon::get_chunk_size(packet);
  auto once = mirelon::involute_packet(packet, salt, chunk);
  if (!once) return std::printf("involute: %s\n", mirelon::message(once.error()).c_str()), 1;
  auto twice = mirelon::involute_packet(*once, salt, chunk);
  bool restored = twice && std::equal(twice->begin(), twice->end(), packet.begin(), packet.end());

  mirelon::BlobField fields[] = {packet, std::uint64_t{7}};
  mirelon::Bytes blob = mirelon::write_blob(fields);
  std::printf("chunk size %llu, restored: %s, blob of %zu bytes\n",
              static_cast<unsigned long long>(chunk), restored ? "yes" : "no", blob.size());
  return restored ? 0 : 1;
}
