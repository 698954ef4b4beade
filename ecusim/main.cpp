// kestrel-ecusim: a K-Line adapter with one simulated ECU behind it, served
// on a pseudo-terminal (its slave path is the first line of standard output)
// or on a real serial device wired to the tester's adapter.
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ecusim/engine.h"
#include "ecusim/faults.h"
#include "ecusim/replay.h"
#include "ecusim/scenario.h"
#include "ecusim/serve.h"
#include "ecusim/sim_port.h"

namespace {

std::atomic<bool> g_stop{false};
extern "C" void OnSignal(int) {
  g_stop.store(true);
}

constexpr const char* kUsage =
    "usage: kestrel-ecusim [--scenario FILE | --replay FILE.rtd] [--fault NAME[:VALUE] ...]\n"
    "                      [--device PATH] [--verbose] [--seed N] [--p1 MS] [--p2 MS]\n"
    "                      [--list-scenarios]\n"
    "\n"
    "Without --device a pseudo-terminal is opened and its slave path printed as the\n"
    "first line of standard output; map a COM port to it in ports.ini. --scenario takes\n"
    "a file or the name of a built-in scenario (default camry_2az_fast); --scenario auto\n"
    "answers as the built-in scenario the tester's initialisation asks for (fast init:\n"
    "camry_2az_fast, 5-baud address 10: corolla_3zz_5baud, 33: carina_7afe_9141).\n"
    "--replay plays a recording's 0x41/0x61/0x62 frames back as the live data.\n"
    "Faults: no-echo, silent, crc[:RATE], noise[:RATE], split[:MS], slow[:MS],\n"
    "        stop-after:N, negative[:RATE], vanish[:N], wrong-keys\n";

int Usage(const std::string& problem) {
  std::cerr << "kestrel-ecusim: " << problem << "\n\n" << kUsage;
  return 2;
}

bool ParseDouble(std::string_view t, double& v) {
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  return ec == std::errc() && p == t.data() + t.size();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrel::ecusim;
  std::string scenario_path, replay_path, device;
  Faults faults;
  bool verbose = false;
  std::uint32_t seed = 1;
  double p1 = -1, p2 = -1;

  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (a == "--list-scenarios") {
      for (const auto& b : BuiltinScenarios()) std::cout << b.name << "\n";
      return 0;
    } else if (a == "--scenario") {
      if (!value(scenario_path)) return Usage("--scenario needs a file");
    } else if (a == "--replay") {
      if (!value(replay_path)) return Usage("--replay needs a file");
    } else if (a == "--device") {
      if (!value(device)) return Usage("--device needs a path");
    } else if (a == "--fault") {
      if (!value(v)) return Usage("--fault needs a name");
      if (auto err = AddFault(faults, v); !err.empty()) return Usage(err);
    } else if (a == "--verbose" || a == "-v") {
      verbose = true;
    } else if (a == "--seed") {
      double d = 0;
      if (!value(v) || !ParseDouble(v, d) || d < 0 || d > 4294967295.0) {
        return Usage("--seed needs a number");
      }
      seed = static_cast<std::uint32_t>(d);
    } else if (a == "--p1" || a == "--p2") {
      double d = 0;
      if (!value(v) || !ParseDouble(v, d) || d < 0 || d > 5000) {
        return Usage(std::string(a) + " needs 0..5000 ms");
      }
      (a == "--p1" ? p1 : p2) = d;
    } else {
      return Usage("unknown argument '" + std::string(a) + "'");
    }
  }

  std::vector<Scenario> choices;
  if (scenario_path == kAutoScenario) {
    choices = BuiltinScenarioList();
  } else {
    ScenarioResult loaded =
        LoadScenario(scenario_path.empty() ? std::string(kDefaultScenario) : scenario_path);
    if (!loaded.scenario) {
      std::cerr << "kestrel-ecusim: " << loaded.error << "\n";
      return 1;
    }
    choices.push_back(std::move(*loaded.scenario));
  }
  for (Scenario& s : choices) {
    if (p1 >= 0) s.p1 = p1;
    if (p2 >= 0) s.p2 = p2;
  }
  const bool automatic = scenario_path == kAutoScenario;

  EngineOptions options;
  options.faults = faults;
  options.seed = seed;
  options.breaks_visible = false;
  options.echo = device.empty();  // on a real wire the tester's adapter echoes
  if (!replay_path.empty()) {
    std::string error;
    auto replay = Replay::Load(replay_path, error);
    if (!replay) {
      std::cerr << "kestrel-ecusim: " << error << "\n";
      return 1;
    }
    options.replay = std::make_shared<const Replay>(std::move(*replay));
  }
  auto log = [](const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  };
  if (verbose) options.log = log;

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGHUP, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);

  std::string error, slave;
  const int fd =
      device.empty() ? OpenPty(slave, error) : OpenDevice(device, choices.front().baud, error);
  if (fd < 0) {
    std::cerr << "kestrel-ecusim: " << error << "\n";
    return 1;
  }
  if (device.empty()) {
    std::printf("%s\n", slave.c_str());
    std::fflush(stdout);
  }
  if (verbose) {
    for (const Scenario& s : choices) {
      std::fprintf(stderr,
                   "kestrel-ecusim: %s%s (%s), ECU %02X, tester %02X, %u baud, faults: %s\n",
                   automatic ? "auto: " : "", s.name.c_str(), s.source.c_str(), s.ecu_address,
                   s.tester_address, s.baud, faults.Describe().c_str());
    }
  }

  Engine engine = automatic ? Engine(std::move(choices), options, SteadyMicros())
                            : Engine(std::move(choices.front()), options, SteadyMicros());
  ServeConfig config;
  config.pty = device.empty();
  config.strip_own_echo = !device.empty();
  config.stop = &g_stop;
  config.log = log;
  const ServeEnd end = Serve(fd, engine, config);
  close(fd);
  if (end == ServeEnd::DeviceFailed) return 1;
  return 0;
}
