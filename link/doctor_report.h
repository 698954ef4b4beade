// One step of the adapter and link check (kestrel-cli doctor): what was
// checked, how it came out, what was found and, when it failed, what to do.
// Texts are code page 1251, as every text the core keeps; lines end with
// "\n" only between lines.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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
