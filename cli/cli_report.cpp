#include "cli/cli_report.h"

#include <cstdio>

#include "common/cp1251.h"

namespace kestrel::cli {

std::string Utf8(const std::string& cp1251) {
  return cp1251::ToUtf8(cp1251);
}

std::string Line(const std::string& code, const std::string& name, const std::string& value,
                 const std::string& unit) {
  return code + "\t" + name + "\t" + value + "\t" + unit;
}

std::string WithoutLeadingBlank(const std::string& cell) {
  return !cell.empty() && cell.front() == ' ' ? cell.substr(1) : cell;
}

std::string RowLine(const ParameterRow& row, const std::string& value) {
  return Line(Utf8(WithoutLeadingBlank(row.Cells[kColCode])), Utf8(row.Cells[kColName]),
              Utf8(value), Utf8(row.Cells[kColUnit]));
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  return s;
}

}  // namespace kestrel::cli
