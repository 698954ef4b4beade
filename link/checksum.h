// The K-Line frame checksum: the sum of the bytes modulo 256.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

inline std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count) {
  std::uint16_t sum = 0;  // 16-bit accumulation, the low byte is the checksum
  for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint16_t>(sum + bytes[i]);
  return static_cast<std::uint8_t>(sum & 0xFF);
}

}  // namespace kestrel
