// One step of the adapter and link check (kestrel-cli doctor): what was
// checked, how it came out, what was found and, when it failed, what to do.
// Texts are code page 1251, as every text the core keeps; lines end with
// "\n" only between lines.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/cp1251.h"

namespace kestrel::doctor {

enum class Verdict : std::uint8_t {
  Passed,
  Failed,
  NotApplicable,  // nothing to check here (no latency timer on this device): counts as passed
  NotRun,         // an earlier step failed, so this one could not be checked
};

struct StepReport {
  std::string Title;
  Verdict Result = Verdict::NotRun;
  std::string Found;
  std::string Advice;
};

// The steps' titles, in the order the check runs them (after the
// configuration's); the initialisation's title adds its protocol.
namespace step_titles {
using namespace cp1251_literals;
inline constexpr const char* kDevice = "Устройство"_cp;
inline constexpr const char* kPermission = "Права доступа"_cp;
inline constexpr const char* kExclusive = "Монопольное открытие"_cp;
inline constexpr const char* kLine = "Настройки линии"_cp;
inline constexpr const char* kLatency = "Таймер задержки USB"_cp;
inline constexpr const char* kEcho = "Эхо адаптера"_cp;
inline constexpr const char* kInit = "Инициализация"_cp;
inline constexpr const char* kFirstRequest = "Первый запрос"_cp;
}  // namespace step_titles

inline StepReport Report(std::string title, Verdict verdict, std::string found,
                         std::string advice = {}) {
  return {std::move(title), verdict, std::move(found), std::move(advice)};
}

inline bool Passed(const StepReport& s) {
  return s.Result == Verdict::Passed || s.Result == Verdict::NotApplicable;
}

inline bool AllPassed(const std::vector<StepReport>& steps) {
  for (const StepReport& s : steps) {
    if (!Passed(s)) return false;
  }
  return true;
}

// "82 10 F1" for those bytes: two upper-case hexadecimal digits each.
std::string HexBytes(const std::uint8_t* bytes, std::size_t count);
inline std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  return HexBytes(bytes.data(), bytes.size());
}
std::string HexByte(std::uint8_t b);

// Milliseconds with one decimal and a decimal comma: "1,2".
std::string Millis(double ms);

}  // namespace kestrel::doctor
