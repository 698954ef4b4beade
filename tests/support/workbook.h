// A workbook as openpyxl reads it back: Debian's /usr/bin/python3 with
// python3-openpyxl runs tests/support/read_workbook.py on the file, so tests
// check the file an independent reader sees, not what the writer meant.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrel::testing {

struct WorkbookCell {
  char Type = 0;       // 'n' number, 's' text, 'd' date and time
  std::string Value;   // text as stored (UTF-8), a number as Python writes it
  std::string Format;  // the cell's number format
};

struct WorkbookSeries {
  std::string Sheet, Title, X, Y, Colour;  // X and Y: the ranges ("'Данные'!$B$14:$B$20")
};

struct Workbook {
  std::string Error;  // empty when the file was read
  std::vector<std::string> Sheets;
  std::map<std::string, std::string> Frozen;  // sheet -> first unfrozen cell ("A14"), "" for none
  std::map<std::string, WorkbookCell> Cells;  // "Sheet!A1" -> the cell, empty cells absent
  std::vector<WorkbookSeries> Series;

  // Whether the cell holds anything; its text; its number (NaN when it is
  // not a number).
  bool Has(const std::string& sheet, const std::string& cell) const;
  std::string Text(const std::string& sheet, const std::string& cell) const;
  double Number(const std::string& sheet, const std::string& cell) const;
};

Workbook ReadWorkbook(const std::filesystem::path& file);

// "A1"-style address of a 1-based row and column ("B3" for 3, 2).
std::string CellName(int row, int column);

}  // namespace kestrel::testing
