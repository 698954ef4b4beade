#include "ecusim/faults.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace kestrel::ecusim {

namespace {

bool ToNumber(std::string_view t, double& v) {
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size() && std::isfinite(v);
}

}  // namespace

bool Faults::Any() const {
  return no_echo || silent || crc_rate > 0 || noise_rate > 0 || split_ms > 0 || slow_ms > 0 ||
         stop_after >= 0 || negative_rate > 0 || vanish_after >= 0 || wrong_keys;
}

std::string Faults::Describe() const {
  std::ostringstream os;
  if (no_echo) os << " no-echo";
  if (silent) os << " silent";
  if (crc_rate > 0) os << " crc:" << crc_rate;
  if (noise_rate > 0) os << " noise:" << noise_rate;
  if (split_ms > 0) os << " split:" << split_ms;
  if (slow_ms > 0) os << " slow:" << slow_ms;
  if (stop_after >= 0) os << " stop-after:" << stop_after;
  if (negative_rate > 0) os << " negative:" << negative_rate;
  if (vanish_after >= 0) os << " vanish:" << vanish_after;
  if (wrong_keys) os << " wrong-keys";
  const std::string s = os.str();
  return s.empty() ? "none" : s.substr(1);
}

std::string AddFault(Faults& f, std::string_view given) {
  std::string_view name = given;
  std::string_view value;
  const bool has_value = given.find(':') != std::string_view::npos;
  if (has_value) {
    name = given.substr(0, given.find(':'));
    value = given.substr(given.find(':') + 1);
  }
  double v = 0;
  if (has_value && !ToNumber(value, v)) {
    return "fault '" + std::string(given) + "': '" + std::string(value) + "' is not a number";
  }
  auto rate = [&](double& field) -> std::string {
    if (!has_value) v = 1.0;
    if (v <= 0 || v > 1) return "fault '" + std::string(given) + "': the rate lies in (0, 1]";
    field = v;
    return {};
  };
  auto millis = [&](double& field, double deflt) -> std::string {
    if (!has_value) v = deflt;
    if (v <= 0 || v > 10000) return "fault '" + std::string(given) + "': give 1..10000 ms";
    field = v;
    return {};
  };
  auto count = [&](int& field, bool required, int deflt) -> std::string {
    if (!has_value) {
      if (required)
        return "fault '" + std::string(given) + "' needs a count, e.g. " + std::string(name) + ":5";
      v = deflt;
    }
    if (v < 0 || v > 1e9 || v != std::floor(v)) {
      return "fault '" + std::string(given) + "': the count is a whole number >= 0";
    }
    field = static_cast<int>(v);
    return {};
  };

  if (name == "no-echo" || name == "silent" || name == "wrong-keys") {
    if (has_value) return "fault '" + std::string(name) + "' takes no value";
    (name == "silent" ? f.silent : name == "no-echo" ? f.no_echo : f.wrong_keys) = true;
    return {};
  }
  if (name == "crc") return rate(f.crc_rate);
  if (name == "noise") return rate(f.noise_rate);
  if (name == "negative") return rate(f.negative_rate);
  if (name == "split") return millis(f.split_ms, 10);
  if (name == "slow") return millis(f.slow_ms, 120);
  if (name == "stop-after") return count(f.stop_after, true, 0);
  if (name == "vanish") return count(f.vanish_after, false, 1);
  return "unknown fault '" + std::string(name) +
         "' (no-echo, silent, crc, noise, split, slow, stop-after, negative, vanish, wrong-keys)";
}

}  // namespace kestrel::ecusim
