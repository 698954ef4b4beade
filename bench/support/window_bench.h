// What the window benchmarks share: tick statistics, the process's and its
// threads' CPU time, an event loop run for a while, and kestrel-ecusim on a
// pseudo-terminal as a separate process (so its work is not counted).
#pragma once

#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QObject>
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

#include "bench/support/simulator.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "link/session.h"

namespace kestrel::bench {

struct Stats {
  double mean = 0, median = 0, p95 = 0, max = 0;
};

inline Stats Summarise(std::vector<double> ms) {
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

inline double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// CPU ticks (user + system) of every thread of this process, by name/thread id.
inline std::map<std::string, long> ThreadTicks() {
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

// Prints the CPU ms each thread used between two ThreadTicks() readings.
inline void PrintThreadCpu(const std::map<std::string, long>& before,
                           const std::map<std::string, long>& after) {
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::printf("  by thread (CPU ms):");
  for (const auto& [name, t1] : after) {
    const auto was = before.find(name);
    const long used = t1 - (was == before.end() ? 0 : was->second);
    if (used > 0) std::printf(" %s %.0f", name.c_str(), 1000.0 * used / tick);
  }
  std::printf("\n");
}

// The command line of a window benchmark: [--png FILE] [--seconds N].
struct BenchArgs {
  const char* png = nullptr;  // a picture of the window after polling
  int seconds = 10;           // of polling
};

// Reads the command line and picks the offscreen platform unless one is set.
inline BenchArgs ParseBenchArgs(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  BenchArgs a;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--png") == 0) a.png = argv[i + 1];
    if (std::strcmp(argv[i], "--seconds") == 0) a.seconds = std::max(1, std::atoi(argv[i + 1]));
  }
  return a;
}

// Binds the built module as the program does; false (with the reason on
// stderr) when it cannot.
inline bool BindBuiltModule(const char* path) {
  const BindOutcome bound = BindFrom(path);
  if (!bound.Ok) std::fprintf(stderr, "%s\n", bound.StderrLine.c_str());
  return bound.Ok;
}

// Enters the runtime tree and loads the shipped Camry configuration; false
// (with the reason on stderr) when it cannot.
inline bool LoadShippedCamry(const char* runtimeDir) {
  if (chdir(runtimeDir) != 0) {
    std::fprintf(stderr, "cannot enter %s\n", runtimeDir);
    return false;
  }
  const LoadOutcome load = LoadInit("ECU/CAMRY_2AZ.ini");
  if (!load.Ok()) {
    std::fprintf(stderr, "cannot load ECU/CAMRY_2AZ.ini: %s\n", load.Error.c_str());
    return false;
  }
  return true;
}

// One tick of a window's timer and the repaint of what it changed, in ms.
template <typename Form>
double TimeTick(Form& form) {
  const auto start = std::chrono::steady_clock::now();
  form.Timer1Timer();
  QApplication::processEvents();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

// Polls the simulated Camry with the shipped configuration through a window
// for `seconds` and prints the passes, ticks and CPU figures (target: at most
// 5 % of one core). kestrel-ecusim runs as a separate process on a
// pseudo-terminal, so its work is not counted. The window (made after the
// configuration is loaded) has the timer Timer1 and the start/stop button
// SpeedButton1; `what` names its requests in the report, after the load.
template <typename Form, typename What>
int MeasurePollingCpu(const char* runtimeDir, const char* ecusim, int seconds, const char* png,
                      What what) {
  using Clock = std::chrono::steady_clock;
  if (!LoadShippedCamry(runtimeDir)) return 1;
  Simulator sim;
  if (!sim.Start(ecusim)) {
    std::fprintf(stderr, "cannot start %s\n", ecusim);
    return 1;
  }
  SetPortDeviceOverride(LinkSettings.PortName, sim.device);

  Form form;
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

  std::printf("polling the simulated ECU (%s) for %.1f s:\n", what().c_str(), wall);
  std::printf("  %u passes, %d ticks, link %s\n", passes, ticks,
              stillExchanging ? "exchanging throughout" : "NOT exchanging at the end");
  std::printf("  process CPU %.3f s = %.2f %% of one core (target <= 5 %%)\n", cpu,
              100.0 * cpu / wall);
  PrintThreadCpu(threads0, threads1);
  return stillExchanging ? 0 : 1;
}

}  // namespace kestrel::bench
