#include "screens/live_logic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/cp1251.h"
#include "link/link_globals.h"
#include "screens/export.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr std::uint8_t kServiceControl = 0x30;
constexpr std::uint8_t kServiceSession = 0x10;
constexpr std::uint16_t kNumericTest = 0x80;
// Longest value text taken from the module; a text without its terminator
// within this bound is cut rather than read past.
constexpr std::size_t kMaxValueText = 4096;

int RowCountOf(const ParameterTable& rows) {
  return std::clamp(rows.RowCount, 0, kMaxRows);
}

Enable On(bool on) {
  return on ? Enable::On : Enable::Off;
}

}  // namespace

void PrepareLiveSkips(vorta::RequestTable& table, const ParameterTable& rows) {
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  for (int i = 0; i < count; ++i) {
    vorta::RequestEntry& e = table.Entries[i];
    const std::uint8_t service = e.Data[3];
    const bool heldBack =
        service == kServiceControl || (service == kServiceSession && e.Data[4] == 0x01);
    SetSkip(e, heldBack ? 1 : 0);
  }
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    if (rows.RowInactive[r] == 0) continue;
    const RowIds ids = RowIdsOf(rows.Rows[r]);
    const int index = FindPID(table, ids.Service, ids.Id1, ids.Id2);
    if (index >= 0) SetSkip(table.Entries[index], 1);
  }
}

bool NoLink(std::uint16_t status) {
  return status == lsIdle || status == lsError;
}

TestInputs InputsForFlags(std::uint16_t flags) {
  const bool numeric = (flags & kNumericTest) != 0;
  return {!numeric, numeric};
}

LiveControls TickControls(std::uint16_t status, std::uint8_t runFlag, int selectorCount,
                          int selectorIndex, const vorta::TestRequest& test,
                          const vorta::RequestTable& table) {
  LiveControls c;
  if (status == lsIdle || status == lsExchange || status == lsError) {
    c.startStop = Enable::On;
    c.copy = Enable::On;
  }
  if (NoLink(status)) {
    c.exit = Enable::On;
    c.selector = c.switchOn = c.switchOff = c.valueBox = Enable::Off;
    c.modeOn = c.modeOff = Enable::Off;
  } else {
    c.modeOn = c.modeOff = Enable::On;
    if (selectorCount > 1) {
      if (selectorIndex <= 0) {
        c.selector = Enable::On;
        c.switchOn = c.switchOff = c.valueBox = Enable::Off;
      } else {
        const int index = FindPID(table, test.Service, test.Id1, test.Id2);
        const bool waiting = index >= 0 && GetSkip(table.Entries[index]) == 0;
        if (waiting) {
          c.selector = c.switchOn = c.switchOff = c.valueBox = Enable::Off;
        } else {
          const TestInputs inputs = InputsForFlags(test.Flags);
          c.selector = Enable::On;
          c.switchOn = c.switchOff = On(inputs.switches);
          c.valueBox = On(inputs.valueBox);
        }
      }
    }
  }
  c.stopPolling = status == lsError && runFlag != 0;
  return c;
}

std::string GeneralNumber(double value) {
  char text[64];
  const int n = std::snprintf(text, sizeof text, "%.15g", value);
  return std::string(text, n > 0 ? std::min<std::size_t>(n, sizeof text - 1) : 0);
}

std::string MinMaxHint(double min, double max) {
  return "Min=" + GeneralNumber(min) + "\r\nMax=" + GeneralNumber(max);
}

int RefreshLiveValues(ParameterTable& rows, vorta::ResponseMemory& memory, vorta::PidValProc pidval,
                      ValueCacheArray& cache, std::vector<int>& changed) {
  if (pidval == nullptr) return 0;
  int changes = 0;
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    ParameterRow& row = rows.Rows[r];
    const RowIds ids = RowIdsOf(row);
    vorta::ValueQuery& q = memory.Query;
    q.Service = ids.Service;
    q.Id1 = ids.Id1;
    q.Id2 = ids.Id2;
    q.Format = LiveFormatOf(row);
    q.Text = nullptr;
    pidval(memory.Store);
    const char* text = q.Text != nullptr ? q.Text : "";
    const std::string_view value(text, strnlen(text, kMaxValueText));
    if (cache[r] != value) {
      cache[r].assign(value);
      row.Cells[kColValue].assign(value);
      changed.push_back(r);
      ++changes;
    }
  }
  return changes;
}

bool ToggleRequestRows(ParameterTable& rows, int row) {
  const int rowCount = RowCountOf(rows);
  if (row < 0 || row >= rowCount) return false;
  const std::uint8_t state = rows.RowInactive[row] == 0 ? 1 : 0;
  const std::string code = rows.Rows[row].Cells[kColCode];
  for (int r = 0; r < rowCount; ++r) {
    if (rows.Rows[r].Cells[kColCode] == code) rows.RowInactive[r] = state;
  }
  return true;
}

void SetAllInactive(ParameterTable& rows, bool inactive) {
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) rows.RowInactive[r] = inactive ? 1 : 0;
}

std::string_view LiveExportTitle() {
  return "Кадр параметров реального времени"_cpsv;
}

std::vector<std::string> LiveExportBody(const ParameterTable& rows) {
  std::vector<std::string> lines;
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    if (rows.RowInactive[r] != 0) continue;
    const auto& c = rows.Rows[r].Cells;
    lines.push_back(KadrLine(c[kColNumber], c[kColCode], c[kColName], c[kColValue], c[kColUnit]));
  }
  return lines;
}

}  // namespace kestrel
