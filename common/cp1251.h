// Code page 1251 (Windows Cyrillic) conversions.
//
// Every text the program keeps, writes to a file or passes to the vehicle
// module is a single-byte string in code page 1251. Sources are written in
// UTF-8, so Russian literals are converted at compile time with the _cp
// literal:
//
//   using namespace kestrel::cp1251_literals;
//   const char* idle = "Простой"_cp;          // zero-terminated 1251 bytes
//   std::string_view sv = "Ошибка "_cpsv;       // the same, with its length
//
// Only the windows and the command-line tool convert back to Unicode.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::cp1251 {

// Unicode code points of the bytes 0x80..0xFF; 0 marks the one unassigned byte (0x98).
inline constexpr char16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,  // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,  // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,  // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,  // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,  // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,  // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,  // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,  // F8
};

// The code point a 1251 byte stands for (U+FFFD for the unassigned 0x98).
constexpr char32_t ToUnicode(std::uint8_t b) {
  if (b < 0x80) return b;
  const char16_t u = kHigh[b - 0x80];
  return u == 0 ? char32_t{0xFFFD} : char32_t{u};
}

// The 1251 byte of a code point, or '?' when the code page has none.
constexpr char FromUnicode(char32_t u) {
  if (u < 0x80) return static_cast<char>(u);
  if (u >= 0x0410 && u <= 0x044F) return static_cast<char>(0xC0 + (u - 0x0410));
  for (int i = 0; i < 64; ++i) {  // 0x80..0xBF: the irregular half
    if (kHigh[i] == u) return static_cast<char>(0x80 + i);
  }
  return '?';
}

// Decodes one UTF-8 sequence at s[i], advancing i. Malformed input yields U+FFFD
// and consumes one byte, so the loop always ends.
constexpr char32_t NextUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  int extra = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    cp = b0 & 0x1F;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    cp = b0 & 0x0F;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    cp = b0 & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (i + extra >= s.size()) {  // sequence cut short
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<std::uint8_t>(s[i + k]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

// UTF-8 text to 1251 bytes; characters outside the code page become '?'.
constexpr std::string FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) out.push_back(FromUnicode(NextUtf8(utf8, i)));
  return out;
}

// 1251 bytes to UTF-8 text.
inline std::string ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char c : text) {
    const char32_t u = ToUnicode(static_cast<std::uint8_t>(c));
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

// A string literal captured as a template argument.
template <std::size_t N>
struct Utf8Literal {
  char text[N]{};
  constexpr Utf8Literal(const char (&s)[N]) {  // NOLINT: implicit on purpose
    for (std::size_t i = 0; i < N; ++i) text[i] = s[i];
  }
};

// The converted bytes of a literal, zero-terminated, plus their length.
template <Utf8Literal S>
struct Converted {
  static constexpr auto Make() {
    std::array<char, sizeof(S.text)> out{};
    std::size_t n = 0;
    const std::string_view in(S.text, sizeof(S.text) - 1);
    for (std::size_t i = 0; i < in.size();) out[n++] = FromUnicode(NextUtf8(in, i));
    return std::pair{out, n};
  }
  static constexpr auto kPair = Make();
  static constexpr auto& kBytes = kPair.first;
  static constexpr std::size_t kLength = kPair.second;
};

}  // namespace kestrel::cp1251

namespace kestrel::cp1251_literals {

// "текст"_cp: zero-terminated code page 1251 bytes with static storage.
template <kestrel::cp1251::Utf8Literal S>
constexpr const char* operator""_cp() {
  return kestrel::cp1251::Converted<S>::kBytes.data();
}

// "текст"_cpsv: the same bytes as a string_view.
template <kestrel::cp1251::Utf8Literal S>
constexpr std::string_view operator""_cpsv() {
  return {kestrel::cp1251::Converted<S>::kBytes.data(), kestrel::cp1251::Converted<S>::kLength};
}

}  // namespace kestrel::cp1251_literals
