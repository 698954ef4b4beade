#include "tests/support/workbook.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kestrel::testing {

namespace fs = std::filesystem;

namespace {

// The reader script: beside the test program in a run as an unprivileged
// user (scripts/unprivileged.sh copies it there), else in the source tree.
std::string ReaderScript() {
  const char* scratch = std::getenv("KESTREL_UNPRIVILEGED_DIR");
  if (scratch != nullptr && *scratch != '\0') {
    const fs::path copy = fs::path(scratch) / "read_workbook.py";
    if (fs::exists(copy)) return copy.string();
  }
  return KESTREL_WORKBOOK_READER;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

bool Workbook::Has(const std::string& sheet, const std::string& cell) const {
  return Cells.count(sheet + "!" + cell) != 0;
}

std::string Workbook::Text(const std::string& sheet, const std::string& cell) const {
  const auto it = Cells.find(sheet + "!" + cell);
  return it == Cells.end() ? std::string() : it->second.Value;
}

double Workbook::Number(const std::string& sheet, const std::string& cell) const {
  const auto it = Cells.find(sheet + "!" + cell);
  if (it == Cells.end() || it->second.Type != 'n') return std::nan("");
  return std::strtod(it->second.Value.c_str(), nullptr);
}

Workbook ReadWorkbook(const fs::path& file) {
  Workbook book;
  const std::string command =
      "/usr/bin/python3 '" + ReaderScript() + "' '" + file.string() + "' 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    book.Error = "cannot run " + command;
    return book;
  }
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int status = ::pclose(pipe);
  if (status != 0) {
    book.Error = out.empty() ? "the reader failed" : out;
    return book;
  }
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = Fields(line);
    if (f[0] == "sheet" && f.size() == 3) {
      book.Sheets.push_back(f[1]);
      book.Frozen[f[1]] = f[2];
    } else if (f[0] == "cell" && f.size() == 6) {
      book.Cells[f[1] + "!" + f[2]] = {f[3].empty() ? '?' : f[3][0], f[4], f[5]};
    } else if (f[0] == "chart" && f.size() == 6) {
      book.Series.push_back({f[1], f[2], f[3], f[4], f[5]});
    }
  }
  return book;
}

std::string CellName(int row, int column) {
  std::string letters;
  for (int c = column; c > 0; c = (c - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
  }
  return letters + std::to_string(row);
}

}  // namespace kestrel::testing
