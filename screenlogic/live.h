// The live data table's own logic: which requests a poll sends, which
// controls a tick enables, the actuator test inputs and the export title. The
// row logic it shares with the freeze-frame window is in table_rows.h.
// TForm3 (screens/live_table.h) wires these to its widgets; kestrel-cli's
// "live" command uses the same preparation.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/parameter_lists.h"
#include "module/vorta.h"
#include "screenlogic/table_rows.h"

namespace kestrel {

// ---------------------------------------------------------------- polling

// Prepares the Skip flags of the live-data table before a poll: every entry
// is sent, except the actuator requests (service 0x30) and the test-mode
// request 10 01, which only ACTTESTProc releases, and the requests of inactive
// rows (a request shared with an active row is left out as well).
void PrepareLiveSkips(vorta::RequestTable& table, const ParameterTable& rows);

// ---------------------------------------------------------------- controls

// What a tick does with one control: leave it, enable it or disable it.
enum class Enable : std::uint8_t { Keep, On, Off };

struct LiveControls {
  Enable startStop = Enable::Keep;
  Enable copy = Enable::Keep;
  Enable exit = Enable::Keep;
  Enable selector = Enable::Keep;
  Enable switchOn = Enable::Keep;
  Enable switchOff = Enable::Keep;
  Enable valueBox = Enable::Keep;
  Enable modeOn = Enable::Keep;
  Enable modeOff = Enable::Keep;
  bool stopPolling = false;  // a link error ended the session: clear RunFlag, show the start glyph
};

// The controls of one tick for the link status, RunFlag, the test selector
// (item count and current item; item 0 is "Нет") and the selected test as
// held in `test` (Service, Id1, Id2, Flags). A test whose request entry has
// Skip 0 is waiting for its answer: its controls stay disabled.
LiveControls TickControls(std::uint16_t status, std::uint8_t runFlag, int selectorCount,
                          int selectorIndex, const vorta::TestRequest& test,
                          const vorta::RequestTable& table);

// The switch and value box states for a test's Flags: bit 0x80 = numeric test.
struct TestInputs {
  bool switches = false;  // switch on and switch off
  bool valueBox = false;
};
TestInputs InputsForFlags(std::uint16_t flags);

// The value box hint after a test was described: "Min=<min>" CR LF "Max=<max>",
// both in the shortest general form with the locale's decimal separator.
std::string MinMaxHint(double min, double max);

// Formats a number as the shortest general form (up to 15 significant digits)
// with the decimal separator of LC_NUMERIC.
std::string GeneralNumber(double value);

// ---------------------------------------------------------------- export

// Title of the live export.
std::string_view LiveExportTitle();

}  // namespace kestrel
