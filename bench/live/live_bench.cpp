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

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "link/session.h"
#include "screens/live_table.h"
#include "screens/param_grid.h"

namespace {

using namespace kestrel;
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

struct Stats {
  double mean = 0, median = 0, p95 = 0, max = 0;
};

Stats Summarise(std::vector<double> ms) {
  Stats s;
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  for (double v : ms) s.mean += v;
  s.mean /= static_cast<double>(ms.size());
  s.median = ms[ms.size() / 2];
  s.p95 = ms[ms.size() * 95 / 100];
  s.max = ms.back();
  return s;
}

double TimeTick(TForm3& form) {
  const auto start = Clock::now();
  form.Timer1Timer();
  QApplication::processEvents();  // the repaint of the changed cells
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU ticks (user + system) of every thread of this process, by name/thread id.
std::map<std::string, long> ThreadTicks() {
  std::map<std::string, long> out;
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return out;
  while (dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto open = stat.find('('), close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    const std::string name = stat.substr(open + 1, close - open - 1);
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) utime = std::atol(field.c_str());
      if (i == 15) stime = std::atol(field.c_str());
    }
    out[name + "/" + e->d_name] += utime + stime;
  }
  closedir(dir);
  return out;
}

// Runs the event loop (sleeping while there is nothing to do) for `ms`
// milliseconds, or until `done` holds; looks at `done` every 10 ms.
template <typename F>
bool RunFor(int ms, F done) {
  if (done()) return true;
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) loop.quit();
  });
  check.start(10);
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
  return done();
}

// kestrel-ecusim on a pseudo-terminal: its pid and the slave path it prints.
struct Simulator {
  pid_t pid = -1;
  std::string device;

  bool Start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      execl(ECUSIM_PROGRAM, ECUSIM_PROGRAM, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    FILE* out = fdopen(fds[0], "r");
    char line[256] = {};
    const bool ok = out != nullptr && std::fgets(line, sizeof line, out) != nullptr;
    device = line;
    while (!device.empty() && (device.back() == '\n' || device.back() == '\r')) device.pop_back();
    // The rest of its output is not read; the pipe stays open until it ends.
    return ok && !device.empty();
  }

  ~Simulator() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
  }
};

// Polls the simulated Camry with the shipped configuration for `seconds`.
int MeasureCpu(int seconds, const char* png) {
  if (chdir(KESTREL_RUNTIME_DIR) != 0) {
    std::fprintf(stderr, "cannot enter %s\n", KESTREL_RUNTIME_DIR);
    return 1;
  }
  Simulator sim;
  if (!sim.Start()) {
    std::fprintf(stderr, "cannot start %s\n", ECUSIM_PROGRAM);
    return 1;
  }
  const LoadOutcome load = LoadInit("ECU/CAMRY_2AZ.ini");
  if (!load.Ok()) {
    std::fprintf(stderr, "cannot load ECU/CAMRY_2AZ.ini: %s\n", load.Error.c_str());
    return 1;
  }
  SetPortDeviceOverride(LinkSettings.PortName, sim.device);

  TForm3 form;
  form.show();
  int ticks = 0;
  QObject::connect(form.Timer1, &QTimer::timeout, [&ticks] { ++ticks; });
  form.SpeedButton1->click();
  if (!RunFor(15000, [] { return LinkStatus.load() == lsExchange; })) {
    std::fprintf(stderr, "no exchange with the simulated ECU: %s\n",
                 CurrentLinkStatusText().c_str());
    return 1;
  }
  const std::uint32_t passes0 = PassCount.load();
  ticks = 0;
  const auto threads0 = ThreadTicks();
  const double cpu0 = CpuSeconds();
  const auto wall0 = Clock::now();
  RunFor(seconds * 1000, [] { return false; });
  const double cpu = CpuSeconds() - cpu0;
  const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
  const std::uint32_t passes = PassCount.load() - passes0;
  const auto threads1 = ThreadTicks();
  const bool stillExchanging = LinkStatus.load() == lsExchange;

  if (png != nullptr) {
    form.grab().save(QString::fromLocal8Bit(png));
    std::printf("window picture: %s\n", png);
  }
  form.SpeedButton1->click();  // stop
  WaitLinkIdle(5000);
  StopSession();

  std::printf("polling the simulated ECU (%d live requests, %d rows) for %.1f s:\n",
              RequestTables[kLiveTable].Count, LiveRows.RowCount, wall);
  std::printf("  %u passes, %d ticks, link %s\n", passes, ticks,
              stillExchanging ? "exchanging throughout" : "NOT exchanging at the end");
  std::printf("  process CPU %.3f s = %.2f %% of one core (target <= 5 %%)\n", cpu,
              100.0 * cpu / wall);
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf("  by thread (CPU ms):");
  for (const auto& [name, t1] : threads1) {
    const auto before = threads0.find(name);
    const long used = t1 - (before == threads0.end() ? 0 : before->second);
    if (used > 0) std::printf(" %s %.0f", name.c_str(), 1000.0 * used / tick);
  }
  std::printf("\n");
  return stillExchanging ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const char* png = nullptr;
  int seconds = 10;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--png") == 0) png = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) seconds = std::max(1, std::atoi(argv[i + 1]));
  }
  QApplication app(argc, argv);

  const BindOutcome bound = BindFrom(VORTA_MODULE_PATH);
  if (!bound.Ok) {
    std::fprintf(stderr, "%s\n", bound.StderrLine.c_str());
    return 1;
  }
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

  const int rc = MeasureCpu(seconds, png);
  Unbind();
  return rc;
}
