// Times of the simulated adapter and ECU: microseconds on the caller's
// monotonic clock.
#pragma once

#include <cstdint>

namespace kestrel::ecusim {

using Micros = std::int64_t;
inline constexpr Micros Ms(double ms) {
  return static_cast<Micros>(ms * 1000 + (ms >= 0 ? 0.5 : -0.5));
}

}  // namespace kestrel::ecusim
