#include "screenlogic/live.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/cp1251.h"
#include "link/link_globals.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr std::uint8_t kServiceControl = 0x30;
constexpr std::uint8_t kServiceSession = 0x10;
constexpr std::uint16_t kNumericTest = 0x80;

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
  SkipInactiveRows(table, rows);
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

std::string_view LiveExportTitle() {
  return "Кадр параметров реального времени"_cpsv;
}

}  // namespace kestrel
