// Display text of numeric values and the small numeric helpers of the module.

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <string>

#include "common/cp1251.h"
#include "module/module_internal.h"

#if !defined(_WIN32)
#include <langinfo.h>
#endif

namespace vorta::detail {

namespace {

constexpr double kPow10[] = {1.0, 10.0, 100.0, 1000.0};

// Values whose rounded integer part reaches this are written in scientific notation.
constexpr double kFixedLimit = 1e6;

std::size_t Copy(const char* text, char* out, std::size_t size) {
  std::size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return n;
}

// Six significant digits, "d<sep>dddddE+XX".
std::size_t FormatScientific(double value, char separator, char* out, std::size_t size) {
  char buf[48];
  const auto res =
      std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::scientific, 5);
  *res.ptr = '\0';
  for (char* p = buf; p != res.ptr; ++p) {
    if (*p == '.') *p = separator;
    if (*p == 'e') *p = 'E';
  }
  return Copy(buf, out, size);
}

}  // namespace

char LocaleDecimalSeparator() {
#if defined(_WIN32)
  const std::lconv* conv = std::localeconv();
  const char* point = conv != nullptr ? conv->decimal_point : nullptr;
#else
  const char* point = nl_langinfo(RADIXCHAR);
#endif
  if (point == nullptr || point[0] == '\0') return '.';
  if (point[1] == '\0') return point[0];
  // A multi-byte separator of a UTF-8 locale: its code page 1251 byte if it has one.
  const std::string converted = kestrel::cp1251::FromUtf8(point);
  if (converted.size() == 1 && converted[0] != '?') return converted[0];
  return '.';
}

std::size_t FormatValue(double value, char separator, char* out, std::size_t size) {
  if (size == 0) return 0;
  if (std::isnan(value)) return Copy("NAN", out, size);
  if (std::isinf(value)) return Copy(value < 0 ? "-INF" : "INF", out, size);

  const double magnitude = std::fabs(value);
  const int decimals = magnitude >= 1000.0 ? 0 : magnitude >= 100.0 ? 1 : magnitude >= 10.0 ? 2 : 3;
  const double scale = kPow10[decimals];
  // Ties round away from zero, as a reader expects (1000.5 shows as 1001).
  const double scaled = std::round(magnitude * scale);
  if (scaled >= kFixedLimit * scale) return FormatScientific(value, separator, out, size);

  // Below 10^9 here, so the integer arithmetic is exact.
  const auto units = static_cast<std::uint64_t>(scaled);
  const auto divisor = static_cast<std::uint64_t>(scale);
  const std::uint64_t whole = units / divisor;
  std::uint64_t fraction = units % divisor;

  char buf[32];
  char* p = buf;
  if (value < 0 && units != 0) *p++ = '-';  // a value that rounds to zero shows no sign
  p = std::to_chars(p, buf + sizeof buf, whole).ptr;
  if (decimals > 0) {
    *p++ = separator;
    for (int i = decimals - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + fraction % 10);
      fraction /= 10;
    }
    p += decimals;
  }
  *p = '\0';
  return Copy(buf, out, size);
}

std::optional<std::uint8_t> TruncatedLowByte(double x) {
  if (!std::isfinite(x)) return std::nullopt;
  // fmod is exact, so this is the low byte of the integer for any magnitude.
  double low = std::fmod(std::trunc(x), 256.0);
  if (low < 0) low += 256.0;
  return static_cast<std::uint8_t>(low);
}

}  // namespace vorta::detail
