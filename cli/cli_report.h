// What kestrel-cli prints: the same decoding the windows do, as UTF-8 text.
// Plain functions over the response store and the configuration's rows, so
// that they can be tested without a link.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/parameter_lists.h"

namespace kestrel::cli {

// One row: code<TAB>name<TAB>value<TAB>unit, the code without its leading
// space. `value` and the row's texts are code page 1251; the line is UTF-8.
std::string RowLine(const ParameterRow& row, const std::string& value);

// A line of the same shape from UTF-8 parts.
std::string Line(const std::string& code, const std::string& name, const std::string& value,
                 const std::string& unit);

// A trouble code as the trouble-code window shows it: the letter of the two
// top bits (P, C, B, U) and the remaining 14 bits as four hex digits.
std::string DtcCodeText(std::uint16_t code);

// The trouble codes of DTCError's text (four hex digits each).
std::vector<std::uint16_t> SplitCodes(const char* text, int count);

// ECU information as the information window decodes it.
struct InfoReport {
  std::string Ident;                          // five characters of slot D3, or empty
  std::string ObdType;                        // UTF-8 text, "Неизвестно" without data
  std::vector<std::string> Sensors;           // UTF-8 texts of the set sensor bits
  std::array<std::vector<int>, 5> Supported;  // SID01, SID02, SID21, SID30, SID09
  std::string Vin;                            // from service 09 type 02, empty without data
};
InfoReport DecodeInfo(const std::uint8_t* store);

// The names of the five support lists ("Mode01", ...), in InfoReport order.
extern const char* const kSupportListNames[5];

// Dashboard texts.
std::string GearText(std::uint8_t gear);           // "3+LockUp", "нет данных"
std::string SelectorText(std::uint16_t selector);  // "P", "D", "нет данных"
std::string Fixed(double value, int decimals);     // the C locale's separator

}  // namespace kestrel::cli
