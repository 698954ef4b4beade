// How kestrel-cli prints: one UTF-8 line per value, its fields separated by
// tabs. What the lines hold comes from the windows' logic (screenlogic/);
// this only converts from code page 1251 and lays out.
#pragma once

#include <string>

#include "config/parameter_lists.h"

namespace kestrel::cli {

// A code page 1251 text (as the core keeps it) for printing.
std::string Utf8(const std::string& cp1251);

// One row: code<TAB>name<TAB>value<TAB>unit, the code without its leading
// space. `value` and the row's texts are code page 1251; the line is UTF-8.
std::string RowLine(const ParameterRow& row, const std::string& value);

// A line of the same shape from UTF-8 parts.
std::string Line(const std::string& code, const std::string& name, const std::string& value,
                 const std::string& unit);

// A number with `decimals` decimals and '.' as separator whatever the locale:
// the tool's own figures.
std::string Fixed(double value, int decimals);

// A grid cell without the leading blank the windows put in front.
std::string WithoutLeadingBlank(const std::string& cell);

}  // namespace kestrel::cli
