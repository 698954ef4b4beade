#include "ecusim/kline.h"

#include <algorithm>
#include <cctype>

namespace kestrel::ecusim {

std::uint8_t Checksum(const std::uint8_t* data, std::size_t count) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += data[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

Bytes Frame14230(std::uint8_t target, std::uint8_t source, const Bytes& payload) {
  const std::size_t n = std::min(payload.size(), kMaxPayload14230);
  Bytes f;
  f.reserve(n + 4);
  f.push_back(static_cast<std::uint8_t>(0x80 | n));
  f.push_back(target);
  f.push_back(source);
  f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
  f.push_back(Checksum(f));
  return f;
}

Bytes Frame9141(std::uint8_t source, const Bytes& payload) {
  Bytes f{0x48, 0x6B, source};
  f.insert(f.end(), payload.begin(), payload.end());
  f.push_back(Checksum(f));
  return f;
}

namespace {
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::optional<std::uint16_t> ParseDtc(std::string_view text) {
  unsigned top = 0;
  const bool letter = text.size() == 5;
  if (letter) {
    switch (std::toupper(static_cast<unsigned char>(text[0]))) {
      case 'P':
        top = 0;
        break;
      case 'C':
        top = 1;
        break;
      case 'B':
        top = 2;
        break;
      case 'U':
        top = 3;
        break;
      default:
        return std::nullopt;
    }
    text.remove_prefix(1);
  } else if (text.size() != 4) {
    return std::nullopt;
  }
  unsigned v = 0;
  for (char c : text) {
    const int d = HexDigit(c);
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<unsigned>(d);
  }
  if (!letter) return static_cast<std::uint16_t>(v);
  // After a letter the first digit holds only two bits (0..3).
  if (v > 0x3FFF) return std::nullopt;
  return static_cast<std::uint16_t>((top << 14) | v);
}

std::string DtcText(std::uint16_t code) {
  static constexpr char kLetters[] = {'P', 'C', 'B', 'U'};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(1, kLetters[code >> 14]);
  const unsigned v = code & 0x3FFF;
  for (int shift = 12; shift >= 0; shift -= 4) s.push_back(kDigits[(v >> shift) & 0xF]);
  return s;
}

std::string Hex(const std::uint8_t* data, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(count * 3);
  for (std::size_t i = 0; i < count; ++i) {
    if (i) s.push_back(' ');
    s.push_back(kDigits[data[i] >> 4]);
    s.push_back(kDigits[data[i] & 0xF]);
  }
  return s;
}

}  // namespace kestrel::ecusim
