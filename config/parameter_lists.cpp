#include "config/parameter_lists.h"

#include <cstdio>

#include "common/cp1251.h"
#include "config/text_file.h"
#include "link/link_globals.h"

namespace kestrel {

using namespace cp1251_literals;

ParameterTable LiveRows;
ParameterTable FreezeRows;
std::array<TestEntry, kMaxTestPositions> TestList;
std::array<std::string, kMaxTestPositions> TestSelectorItems = {"Нет"_cp};
int TestSelectorCount = 1;
std::array<GraphChannelList, kGraphChannels> GraphChannels;
PidNameLists PidNames;

namespace {

// Code positions 1-2, 3-4 and 5-6 (1-based) through HexToByte.
std::uint8_t CodeByte(const std::string& code, std::size_t position) {
  if (code.size() < position) return HexToByte({});
  return HexToByte(std::string_view(code).substr(position - 1, 2));
}

std::string TwoChars(const std::string& code) {
  return code.substr(0, 2);
}

void ResetTable(ParameterTable& table) {
  for (int r = 0; r < table.RowCount; ++r) {
    for (std::string& cell : table.Rows[r].Cells) cell.clear();
  }
  table.RowCount = 1;
}

std::string RowNumber(int row) {
  // A space and the last three digits of "000" followed by the number.
  char text[8];
  std::snprintf(text, sizeof text, " %03d", row % 1000);
  return text;
}

// Fills row `row` (0-based) from a definition with the code text shown.
void FillRow(ParameterRow& r, int row, const std::string& code, const ParameterDefinition& d) {
  r.Cells[kColNumber] = RowNumber(row + 1);
  r.Cells[kColCode] = " " + code;
  r.Cells[kColName] = d.Name;
  r.Cells[kColValue].clear();
  r.Cells[kColUnit] = d.Unit;
  r.Cells[kColSelector] = d.Selector;
}

std::string Refused(const std::string& file, int line, std::string_view what) {
  std::string text = "Файл "_cp;
  text += file;
  text += ", строка "_cp;
  text += std::to_string(line);
  text += ": ";
  text += what;
  return text;
}

LoadOutcome Failure(const std::string& file, int line, std::string_view what) {
  LoadOutcome out;
  out.Result = LoadResult::Failed;
  out.Error = Refused(file, line, what);
  out.File = file;
  out.Line = line;
  return out;
}

void ResetChannels() {
  for (GraphChannelList& channel : GraphChannels) {
    for (int i = 0; i < channel.Count; ++i) channel.Items[i].clear();
    channel.Items[0] = "Нет"_cp;
    channel.Count = 1;
    channel.Selected = 0;
  }
}

void ResetTests() {
  for (int i = 1; i < TestSelectorCount; ++i) TestSelectorItems[i].clear();
  TestSelectorItems[0] = "Нет"_cp;
  TestSelectorCount = 1;
}

}  // namespace

LoadOutcome ReadDefinitions(const std::string& path, std::vector<ParameterDefinition>& out) {
  out.clear();
  std::string content;
  if (!ReadExistingFile(path, content)) {
    LoadOutcome missing;
    missing.Result = LoadResult::Failed;
    missing.Error = kFileNotFound;
    missing.File = path;
    return missing;
  }
  LineReader in(content);
  while (!in.Eof()) {
    ParameterDefinition d;
    d.Code = std::string(in.Next());
    d.Line = in.LineNumber();
    d.Name = std::string(in.Next());
    d.Unit = std::string(in.Next());
    d.Selector = std::string(in.Next());
    out.push_back(std::move(d));
  }
  return {};
}

RowIds RowIdsOf(const ParameterRow& row) {
  const std::string& c = row.Cells[kColCode];
  return {CodeByte(c, 2), CodeByte(c, 4), CodeByte(c, 6)};
}

std::uint8_t LiveFormatOf(const ParameterRow& row) {
  const std::string& s = row.Cells[kColSelector];
  return HexToByte(s.size() > 2 ? std::string_view(s).substr(s.size() - 2) : std::string_view(s));
}

std::uint8_t FreezeFormatOf(const ParameterRow& row) {
  return HexToByte(row.Cells[kColSelector]);
}

LoadOutcome LivePassOn(const std::vector<ParameterDefinition>& defs,
                       const vorta::RequestTable& live, const std::string& file) {
  ResetTable(LiveRows);
  ResetTests();
  ResetChannels();
  const int count = live.Count <= vorta::kMaxRequests ? live.Count : vorta::kMaxRequests;
  int rows = 0;
  for (const ParameterDefinition& d : defs) {
    const std::uint8_t s = CodeByte(d.Code, 1);
    const std::uint8_t i = CodeByte(d.Code, 3);
    const std::uint8_t j = CodeByte(d.Code, 5);
    const bool test = TwoChars(d.Code) == "30";
    for (int e = 0; e < count; ++e) {
      const std::uint8_t* data = live.Entries[e].Data;
      if (s != data[3] || i != data[4]) continue;
      if (test) {
        if (TestSelectorCount >= kMaxTestPositions) {
          return Failure(file, d.Line, "больше 1000 тестов"_cp);
        }
        const int k = TestSelectorCount++;
        TestSelectorItems[k] = d.Name;
        TestEntry& t = TestList[k];
        t.Service = data[3];
        t.Id1 = data[4];
        if (d.Code.size() > 4) t.Id2 = j;
        t.Flags = HexToByte(d.Selector);
        continue;  // a test adds one entry for every request it matches
      }
      if (d.Code.size() > 4 && j != data[5]) continue;
      if (rows >= kMaxRows) return Failure(file, d.Line, "больше 1001 строк параметров"_cp);
      FillRow(LiveRows.Rows[rows], rows, d.Code, d);
      for (GraphChannelList& channel : GraphChannels) channel.Items[channel.Count++] = d.Name;
      ++rows;
      break;  // one row per definition
    }
  }
  LiveRows.RowCount = rows > 0 ? rows : 1;
  return {};
}

LoadOutcome FreezePassOn(const std::vector<ParameterDefinition>& defs,
                         const vorta::RequestTable& freeze, const std::string& file) {
  ResetTable(FreezeRows);
  const int count = freeze.Count <= vorta::kMaxRequests ? freeze.Count : vorta::kMaxRequests;
  int rows = 0;
  for (const ParameterDefinition& d : defs) {
    const std::string service = TwoChars(d.Code);
    if (service != "01" && service != "02") continue;
    const std::uint8_t pid = CodeByte(d.Code, 3);
    for (int e = 0; e < count; ++e) {
      const std::uint8_t* data = freeze.Entries[e].Data;
      if (data[3] != 0x02 || data[4] != pid) continue;
      if (rows >= kMaxRows) return Failure(file, d.Line, "больше 1001 строк стоп-кадра"_cp);
      FillRow(FreezeRows.Rows[rows], rows, "02" + d.Code.substr(2), d);
      ++rows;
      break;
    }
  }
  FreezeRows.RowCount = rows > 0 ? rows : 1;
  return {};
}

void PidNamePassOn(const std::vector<ParameterDefinition>& defs) {
  // One reading: the last name per service and PID wins.
  std::array<const std::string*, 256> sid01{}, sid02{}, sid21{}, sid30{}, sid09{};
  for (const ParameterDefinition& d : defs) {
    const std::uint8_t pid = CodeByte(d.Code, 3);
    switch (CodeByte(d.Code, 1)) {
      case 0x01:
        sid01[pid] = &d.Name;
        sid02[pid] = &d.Name;
        break;
      case 0x02:
        sid02[pid] = &d.Name;
        break;
      case 0x21:
        sid21[pid] = &d.Name;
        break;
      case 0x30:
        sid30[pid] = &d.Name;
        break;
      case 0x09:
        sid09[pid] = &d.Name;
        break;
      default:
        break;
    }
  }
  auto item = [](int pid, const std::string* name) {
    char head[8];
    std::snprintf(head, sizeof head, "PID=%02X ", pid);
    return name ? head + *name : std::string(head);
  };
  for (int p = 0; p < 256; ++p) {
    PidNames.Sid01[p] = item(p, sid01[p]);
    PidNames.Sid02[p] = item(p, sid02[p]);
    PidNames.Sid21[p] = item(p, sid21[p]);
    PidNames.Sid30[p] = item(p, sid30[p]);
    if (p < static_cast<int>(PidNames.Sid09.size())) PidNames.Sid09[p] = item(p, sid09[p]);
  }
}

LoadOutcome LivePass(const std::string& vortaIni, const vorta::RequestTable& live) {
  std::vector<ParameterDefinition> defs;
  LoadOutcome read = ReadDefinitions(vortaIni, defs);
  if (!read.Ok()) {
    ResetTable(LiveRows);
    ResetTests();
    ResetChannels();
    return read;
  }
  return LivePassOn(defs, live, vortaIni);
}

LoadOutcome FreezePass(const std::string& vortaIni, const vorta::RequestTable& freeze) {
  std::vector<ParameterDefinition> defs;
  LoadOutcome read = ReadDefinitions(vortaIni, defs);
  if (!read.Ok()) {
    ResetTable(FreezeRows);
    return read;
  }
  return FreezePassOn(defs, freeze, vortaIni);
}

LoadOutcome PidNamePass(const std::string& vortaIni) {
  std::vector<ParameterDefinition> defs;
  LoadOutcome read = ReadDefinitions(vortaIni, defs);
  if (!read.Ok()) return read;
  PidNamePassOn(defs);
  return {};
}

int FindPID(const vorta::RequestTable& table, std::uint8_t service, std::uint8_t id1,
            std::uint8_t id2) {
  const int count = table.Count <= vorta::kMaxRequests ? table.Count : vorta::kMaxRequests;
  for (int e = 0; e < count; ++e) {
    const std::uint8_t* data = table.Entries[e].Data;
    if (data[3] != service || data[4] != id1) continue;
    if (service == 0x22 && data[5] != id2) continue;
    return e;
  }
  return -1;
}

int FindLivePID(std::uint8_t service, std::uint8_t id1, std::uint8_t id2) {
  return FindPID(RequestTables[kLiveTable], service, id1, id2);
}

int FindFreezePID(std::uint8_t service, std::uint8_t id1, std::uint8_t id2) {
  return FindPID(RequestTables[kFreezeTable], service, id1, id2);
}

}  // namespace kestrel
