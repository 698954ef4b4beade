#include "config/catalogue.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "config/text_file.h"

namespace kestrel {

using namespace cp1251_literals;

DtcTextTable DtcTexts;

namespace {

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Name order of a Windows folder listing: letter case does not count.
bool NameLess(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    const auto ca = static_cast<unsigned char>(UpperCp1251(a[i]));
    const auto cb = static_cast<unsigned char>(UpperCp1251(b[i]));
    if (ca != cb) return ca < cb;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool HasIniSuffix(const std::string& name) {
  if (name.size() < 4) return false;
  const std::string tail = name.substr(name.size() - 4);
  return tail[0] == '.' && UpperCp1251(tail[1]) == 'I' && UpperCp1251(tail[2]) == 'N' &&
         UpperCp1251(tail[3]) == 'I';
}

std::string Utf8(std::string_view cp) {
  return cp1251::ToUtf8(cp);
}

ConfigOutcome QuitWith(std::string line) {
  ConfigOutcome out;
  out.Quit = true;
  out.StderrLine = "kestrel: " + std::move(line);
  return out;
}

// The trouble-code texts and the PID name lists after a successful load.
ConfigOutcome LoadFolderTexts() {
  const LoadOutcome dtc = LoadDtcTexts();
  if (dtc.Result == LoadResult::Missing) return QuitWith(Utf8(dtc.File) + ": file not found");
  ConfigOutcome out;
  out.Loaded = true;
  if (!dtc.Ok()) out.Error = dtc.Error;
  const LoadOutcome names = PidNamePass(EcuFilePath("VORTA.ini"));
  if (!names.Ok() && out.Error.empty()) out.Error = names.Error;
  return out;
}

}  // namespace

std::uint16_t HexToWord(std::string_view text) {
  if (text.empty()) return 0;
  if (text.size() == 1) {
    const int d = DigitValue(text[0]);
    return d < 0 ? 65535 : static_cast<std::uint16_t>(d);
  }
  int v = 0;
  for (std::size_t i = 0; i < 4; ++i) v = v * 16 + (i < text.size() ? DigitValue(text[i]) : -1);
  return static_cast<std::uint16_t>(((v % 65536) + 65536) % 65536);
}

const std::string* DtcTextTable::Find(std::uint16_t code) const {
  for (int i = 0; i < Count && i < kMaxDtcTexts; ++i) {
    if (Entries[i].Code == code) return &Entries[i].Text;
  }
  return nullptr;
}

LoadOutcome LoadDtcTextsFrom(const std::string& path) {
  LoadOutcome out;
  std::string content;
  if (!ReadExistingFile(path, content)) return MissingOutcome(path);
  for (int i = 0; i < DtcTexts.Count && i < kMaxDtcTexts; ++i) DtcTexts.Entries[i] = DtcText{};
  DtcTexts.Count = 0;
  LineReader in(content);
  int count = 0;
  while (!in.Eof()) {
    const std::string_view code = in.Next();
    if (count >= kMaxDtcTexts) {
      // Refused whole: a partial list would show codes without their texts
      // as if the file had none.
      for (int i = 0; i < count; ++i) DtcTexts.Entries[i] = DtcText{};
      out.Result = LoadResult::Failed;
      out.File = path;
      out.Line = in.LineNumber();
      out.Error = "Файл "_cp + path + ", строка "_cp + std::to_string(out.Line) +
                  ": больше 1001 текстов ошибок"_cp;
      return out;
    }
    DtcText& entry = DtcTexts.Entries[count++];
    entry.Code = HexToWord(code);
    entry.Text = std::string(in.Next());
  }
  DtcTexts.Count = static_cast<std::uint16_t>(count);
  return out;
}

LoadOutcome LoadDtcTexts() {
  return LoadDtcTextsFrom(EcuFilePath("dtc.ini"));
}

std::vector<CatalogueRow> ListCatalogue(const std::string& folder) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(ToDiskPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    // Names on disk are UTF-8; the grid, the choice and LoadInit take them in
    // code page 1251, and every open converts them back.
    const std::string name = FromDiskPath(it->path().filename().string());
    std::error_code ignored;
    if (!HasIniSuffix(name) || !it->is_regular_file(ignored)) continue;
    // Only a file that its row's name leads back to: a name holding a
    // backslash (read as a separator), or one whose characters the code page
    // lacks and that another file's name becomes too, would load another
    // file or none when chosen.
    if (!fs::equivalent(ToDiskPath(NativePath(folder) + "/" + name), it->path(), ignored)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NameLess);

  std::vector<CatalogueRow> rows;
  rows.reserve(names.size());
  for (const std::string& name : names) {
    CatalogueRow row;
    char number[16];
    std::snprintf(number, sizeof number, "%04zu", (rows.size() + 1) % 10000);
    row.Cells[kCatNumber] = number;
    std::string content;
    ReadWholeFile(NativePath(folder) + "/" + name, content);
    LineReader in(content);
    row.Cells[kCatCar] = std::string(in.Next());
    row.Cells[kCatEcu] = std::string(in.Next());
    row.Cells[kCatShort] = name.substr(0, name.size() - 4);
    row.Cells[kCatFile] = name;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::array<int, kCatalogueColumns> CatalogueColumnWidths(int gridWidth) {
  constexpr int kParts[kCatalogueColumns] = {34, 444, 230, 45, 0};
  std::array<int, kCatalogueColumns> widths{};
  for (int i = 0; i < kCatalogueColumns; ++i) {
    widths[i] = static_cast<int>(std::lround(gridWidth * static_cast<double>(kParts[i]) / 777.0));
  }
  return widths;
}

const char* CatalogueCaption() {
  return "Выбор ECU"_cp;
}
const char* CatalogueChooseText() {
  return "Выбрать авто и начать работу"_cp;
}
const char* CatalogueQuitText() {
  return "Выход"_cp;
}

ConfigOutcome LoadChosenConfiguration(bool chosen, const std::string& fileName,
                                      const std::string& folder) {
  if (!chosen) return QuitWith("no configuration chosen in the catalogue");
  if (fileName.empty()) return QuitWith("the chosen catalogue row names no file");
  const std::string path = NativePath(folder) + "/" + fileName;
  const LoadOutcome load = LoadInitOrKeep(path);
  if (load.Result == LoadResult::Missing) return QuitWith(Utf8(path) + ": file not found");
  if (!load.Ok()) {
    ConfigOutcome out;
    out.Error = load.Error;
    return out;
  }
  ConfigFileName = path;
  return LoadFolderTexts();
}

ConfigOutcome StartupLoad() {
  const LoadOutcome load = LoadInit("ecu.ini");
  ConfigMissing = load.Result == LoadResult::Missing ? 1 : 0;
  ConfigFileName = "ecu.ini";
  if (ConfigMissing) return {};
  if (!load.Ok()) {
    ConfigOutcome out;
    out.Error = load.Error;
    return out;
  }
  return LoadFolderTexts();
}

ConfigOutcome EmptyCatalogueOutcome(const std::string& folder) {
  return QuitWith(Utf8(NativePath(folder)) + "/*.ini: no configuration files in the catalogue");
}

}  // namespace kestrel
