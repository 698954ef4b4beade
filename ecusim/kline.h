// K-Line framing as the simulated ECU builds and reads it: checksums, ISO 14230
// and ISO 9141 frames, and trouble-code texts ("P0171" <-> 0x0171).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::ecusim {

using Bytes = std::vector<std::uint8_t>;

// Sum of the bytes modulo 256.
std::uint8_t Checksum(const std::uint8_t* data, std::size_t count);
inline std::uint8_t Checksum(const Bytes& b) {
  return Checksum(b.data(), b.size());
}

// The largest payload (service identifier and data) one ISO 14230 frame with
// the length in its format byte carries.
inline constexpr std::size_t kMaxPayload14230 = 63;

// ISO 14230 response: 0x80 | length, target, source, payload, checksum.
// The payload is cut to kMaxPayload14230 bytes.
Bytes Frame14230(std::uint8_t target, std::uint8_t source, const Bytes& payload);

// ISO 9141 response: 0x48 0x6B, source, payload, checksum.
Bytes Frame9141(std::uint8_t source, const Bytes& payload);

// "P0171" -> 0x0171, "C0123" -> 0x4123, or a bare four-digit hex code.
// nullopt when the text is not a code.
std::optional<std::uint16_t> ParseDtc(std::string_view text);
std::string DtcText(std::uint16_t code);

// Two upper-case hex digits and a space per byte, without the trailing space.
std::string Hex(const std::uint8_t* data, std::size_t count);
inline std::string Hex(const Bytes& b) {
  return Hex(b.data(), b.size());
}

}  // namespace kestrel::ecusim
