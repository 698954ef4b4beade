// The two receiver targets share one harness: the input's bytes go through
// two receivers of the same protocol, once at a time and once in random
// pieces, and everything they leave behind must be the same.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::fuzz {

// Input: ECU address, tester address, request address, addressing (bit 0
// functional), four bytes that seed the cutting into pieces, then the bytes
// the port delivers.
int FuzzReceiver(std::uint8_t protocol, const std::uint8_t* data, std::size_t size);

}  // namespace kestrel::fuzz
