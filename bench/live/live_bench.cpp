// The live table's tick with 1,001 rows, and the program's CPU use while the
// table polls the simulated ECU ten times a second.
//
// Tick: the window's Timer1Timer (a PIDVAL call per row through the built
// module, the cache compare, the changed cells marked) followed by the
// repaint of what changed, timed with every row changing and with none
// changing. Target: 3 ms per tick.
//
// CPU: the shipped Camry configuration is loaded, the simulated ECU runs as a
// separate process (kestrel-ecusim on a pseudo-terminal, so its work is not
// counted), the window polls it and the process CPU time
// (CLOCK_PROCESS_CPUTIME_ID) is taken over the polling seconds. Target: at
// most 5 % of one core.

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/window_bench.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screens/live_table.h"
#include "screens/param_grid.h"

namespace {

using namespace kestrel;
using namespace kestrel::bench;
using Clock = std::chrono::steady_clock;

// Identifiers the module decodes by formula for service 0x21.
constexpr std::uint8_t kIds[] = {0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B,
                                 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x14, 0x15, 0x16, 0x17};

void FillRows() {
  LiveRows.RowCount = kMaxRows;
  for (int r = 0; r < kMaxRows; ++r) {
    auto& c = LiveRows.Rows[r].Cells;
    char text[16];
    std::snprintf(text, sizeof text, " %03d", (r + 1) % 1000);
    c[kColNumber] = text;
    const std::uint8_t id = kIds[r % std::size(kIds)];
    std::snprintf(text, sizeof text, " 21%02X", id);
    c[kColCode] = text;
    c[kColName] = "Parameter " + std::to_string(r + 1);
    c[kColValue].clear();
    c[kColUnit] = "unit";
    c[kColSelector] = r % 3 == 0 ? "00" : (r % 3 == 1 ? "10" : "21");
    LiveRows.RowInactive[r] = r % 7 == 3 ? 1 : 0;
  }
}

// Writes new bytes into the Local 21 slots the rows read.
void FillSlots(int round) {
  for (std::uint8_t id : kIds) {
    std::uint8_t* slot = ResponseStore + vorta::kLocal21Offset + id * vorta::kSlotSize;
    for (int k = 0; k < 8; ++k) slot[k] = static_cast<std::uint8_t>(id * 7 + k * 31 + round * 13);
    slot[vorta::kSlotCountByte] = 8;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const BenchArgs args = ParseBenchArgs(argc, argv);
  QApplication app(argc, argv);
  if (!BindBuiltModule(VORTA_MODULE_PATH)) return 1;
  FillRows();
  ValueQuery.Cylinders = 4;
  ValueQuery.InjectorFlow = 250.0;
  ValueQuery.Displacement = 2000;
  ValueQuery.FuelFactor = 14;
  ValueQuery.MapCorrection = 100;

  constexpr int kRounds = 300;
  std::vector<double> changing, still;
  {
    TForm3 form;
    form.show();
    form.Timer1->stop();  // ticks are driven here
    QApplication::processEvents();
    int round = 0;
    for (int i = 0; i < kRounds; ++i) {
      FillSlots(++round);
      changing.push_back(TimeTick(form));
    }
    for (int i = 0; i < kRounds; ++i) still.push_back(TimeTick(form));
    form.close();
  }

  const Stats a = Summarise(changing);
  const Stats b = Summarise(still);
  std::printf("live table tick, %d rows, %d ticks each (target <= 3 ms):\n", kMaxRows, kRounds);
  std::printf("  every row changing: mean %.3f ms, median %.3f ms, p95 %.3f ms, max %.3f ms\n",
              a.mean, a.median, a.p95, a.max);
  std::printf("  nothing changing:   mean %.3f ms, median %.3f ms, p95 %.3f ms, max %.3f ms\n",
              b.mean, b.median, b.p95, b.max);

  const int rc =
      MeasurePollingCpu<TForm3>(KESTREL_RUNTIME_DIR, ECUSIM_PROGRAM, args.seconds, args.png, [] {
        return std::to_string(RequestTables[kLiveTable].Count) + " live requests, " +
               std::to_string(LiveRows.RowCount) + " rows";
      });
  Unbind();
  return rc;
}
