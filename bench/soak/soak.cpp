// Soak: N minutes of cyclic polling of the live table against kestrel-ecusim
// (a separate process on a pseudo-terminal, through the termios port as with
// a real adapter) with noise bytes before and checksum errors in the ECU's
// frames. Every minute it prints the program's memory (VmRSS, and VmHWM, its
// peak), the processor time it used, the requests sent, the frames the
// simulated ECU sent, and the exchange log's lines of each kind. At the end
// it says whether anything was lost: every request written must be in the
// log as its echo, every frame the ECU sent as a response line, or as a
// checksum-error line when it was sent with a wrong checksum, each with
// exactly the bytes sent and in order.
//
//   soak [--minutes N] [--protocol fast|5baud|9141] [--noise RATE] [--crc RATE]
//
// Defaults: 20 minutes, fast initialisation (the Camry's configuration),
// noise before 20 % and wrong checksums in 5 % of the ECU's frames.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/simulator.h"
#include "common/cp1251.h"
#include "config/load_init.h"
#include "link/exchange_log.h"
#include "link/link_globals.h"
#include "link/port_map.h"
#include "link/serial_port.h"
#include "link/session.h"
#include "link/termios_port.h"
#include "screenlogic/sessions.h"

namespace {

using namespace kestrel;
using namespace cp1251_literals;
namespace fs = std::filesystem;

struct Options {
  double minutes = 20;
  std::string protocol = "fast";
  double noise = 0.2;
  double crc = 0.05;
};

// The frames expected in the exchange log, in order, and what was found.
class Ledger {
 public:
  void Expect(std::deque<std::string>& queue, std::string hex) {
    std::lock_guard lock(mutex_);
    queue.push_back(std::move(hex));
  }
  void Written(const std::uint8_t* data, std::size_t count) {
    ++requests_;
    // Single bytes (the 5-baud handshake) are no frames the receiver logs.
    if (count >= 4) Expect(echoes_, Trim(ExchangeLog::Hex(data, count)));
  }
  // One frame the simulator sent: "TX[ (what)] HEX".
  void Sent(const std::string& what, std::string hex) {
    ++answers_;
    if (what.find("noise") != std::string::npos) {
      // Noise bytes stay below 0x40; the frame starts at its header.
      while (hex.size() >= 3 && std::strtoul(hex.substr(0, 2).c_str(), nullptr, 16) < 0x40) {
        hex.erase(0, 3);
      }
    }
    Expect(what.find("bad checksum") != std::string::npos ? bad_ : good_, hex);
  }
  // One line of the exchange log.
  void Logged(std::deque<std::string>& queue, std::size_t& lines, const std::string& hex,
              const char* kind) {
    std::lock_guard lock(mutex_);
    ++lines;
    if (queue.empty()) {
      Mismatch(std::string(kind) + " not sent: " + hex);
      return;
    }
    if (queue.front() == hex) {
      queue.pop_front();
      return;
    }
    // A frame sent with a wrong checksum whose start happens to end in its
    // own checksum: the ISO 9141 rule for noise behind a frame takes that
    // start as the frame (and the rest as noise). Counted apart: nothing of
    // it is lost that a checksum error would have kept.
    if (&queue == &good_ && !bad_.empty() && bad_.front().rfind(hex + " ", 0) == 0) {
      ++cutShort_;
      if (cutExamples_.size() < 3) cutExamples_.push_back(hex + " of " + bad_.front());
      bad_.pop_front();
      return;
    }
    Mismatch(std::string(kind) + " " + hex + ", sent " + queue.front());
    queue.pop_front();
  }

  void Line(const std::string& line) {
    static const std::string echo = " TxD(Эхо):"_cp;
    static const std::string response = "      RxD:";
    static const std::string crc = " Packet CRC Error!!!";
    if (line.rfind(echo, 0) == 0) {
      Logged(echoes_, echoLines_, Trim(line.substr(echo.size())), "echo");
    } else if (line.rfind(response, 0) == 0) {
      Logged(good_, responseLines_, Trim(line.substr(response.size())), "response");
    } else if (line.size() > crc.size() &&
               line.compare(line.size() - crc.size(), crc.size(), crc) == 0) {
      Logged(bad_, crcLines_, Trim(line.substr(0, line.size() - crc.size())), "checksum error");
    } else if (!Trim(line).empty()) {
      Mismatch("unknown log line: " + line);
    }
  }

  std::size_t requests_ = 0, answers_ = 0;
  std::size_t echoLines_ = 0, responseLines_ = 0, crcLines_ = 0;
  std::size_t mismatches_ = 0;
  std::size_t cutShort_ = 0;
  std::vector<std::string> cutExamples_;
  std::vector<std::string> firstMismatches_;
  std::deque<std::string> echoes_, good_, bad_;
  std::mutex mutex_;

 private:
  static std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    const auto e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
  }
  void Mismatch(std::string what) {
    ++mismatches_;
    if (firstMismatches_.size() < 5) firstMismatches_.push_back(std::move(what));
  }
};

Ledger ledger;

// The termios port, noting every frame the session writes.
class CountingPort final : public SerialPort {
 public:
  std::uint16_t Open(const std::string& d, std::uint32_t b) override { return port_.Open(d, b); }
  void Close() override { port_.Close(); }
  bool IsOpen() const override { return port_.IsOpen(); }
  bool SetBreak(bool on) override { return port_.SetBreak(on); }
  WriteResult Write(const std::uint8_t* data, std::size_t count, int timeoutMs) override {
    ledger.Written(data, count);
    return port_.Write(data, count, timeoutMs);
  }
  WaitResult WaitInput(int ms) override { return port_.WaitInput(ms); }
  int Queued() override { return port_.Queued(); }
  int Read(std::uint8_t* b, std::size_t n) override { return port_.Read(b, n); }
  std::string LastErrorText() const override { return port_.LastErrorText(); }
  void CancelWait() override { port_.CancelWait(); }

 private:
  TermiosPort port_;
};

// Reads what a growing file has gained since the last call, line by line.
class Tail {
 public:
  explicit Tail(fs::path path) : path_(std::move(path)) {}
  template <class F>
  void NewLines(F&& f) {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t start = 0;
    for (std::size_t eol; (eol = chunk.find('\n', start)) != std::string::npos; start = eol + 1) {
      std::string line = chunk.substr(start, eol - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      f(line);
    }
    offset_ += start;  // an unfinished last line is read next time
  }

 private:
  fs::path path_;
  std::size_t offset_ = 0;
};

// The simulator's --verbose lines of frames sent: "[  12.345] TX (after noise) 05 48 6B ...".
void SimulatorLine(const std::string& line) {
  const auto at = line.find("] TX");
  if (at == std::string::npos) return;
  std::string rest = line.substr(at + 2);
  std::string what = "TX";
  if (rest.size() > 3 && rest[2] == ' ' && rest[3] == '(') {
    const auto close = rest.find(')');
    what = rest.substr(0, close + 1);
    rest = rest.substr(close + 2);
  } else {
    rest = rest.substr(3);
  }
  ledger.Sent(what, rest);
}

long MemoryKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0)
      return std::strtol(line.c_str() + std::strlen(field), nullptr, 10);
  }
  return -1;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const std::string v = argv[++i];
    if (a == "--minutes") {
      o.minutes = std::atof(v.c_str());
    } else if (a == "--protocol" && (v == "fast" || v == "5baud" || v == "9141")) {
      o.protocol = v;
    } else if (a == "--noise") {
      o.noise = std::atof(v.c_str());
    } else if (a == "--crc") {
      o.crc = std::atof(v.c_str());
    } else {
      return false;
    }
  }
  return o.minutes > 0 && o.noise >= 0 && o.noise <= 1 && o.crc >= 0 && o.crc <= 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: soak [--minutes N] [--protocol fast|5baud|9141] [--noise RATE] "
                 "[--crc RATE]\n");
    return 2;
  }
  const std::map<std::string, std::pair<std::string, std::string>> kCars = {
      {"fast", {"CAMRY_2AZ.ini", "camry_2az_fast"}},
      {"5baud", {"COROLLA_3ZZ.ini", "corolla_3zz_5baud"}},
      {"9141", {"CARINA_7AFE.ini", "carina_7afe_9141"}},
  };
  const auto& [config, scenario] = kCars.at(o.protocol);

  char pattern[] = "/tmp/kestrel-soak-XXXXXX";
  if (mkdtemp(pattern) == nullptr || chdir(pattern) != 0) return 1;
  const fs::path dir = pattern;
  fs::create_directory_symlink(fs::path(KESTREL_DATA_DIR) / "ECU", "ECU");
  fs::create_directory("Kadr");

  char noise[32], crc[32];
  std::snprintf(noise, sizeof noise, "noise:%g", o.noise);
  std::snprintf(crc, sizeof crc, "crc:%g", o.crc);
  std::vector<std::string> simArgs = {"--scenario", scenario, "--verbose"};
  if (o.noise > 0) simArgs.insert(simArgs.end(), {"--fault", noise});
  if (o.crc > 0) simArgs.insert(simArgs.end(), {"--fault", crc});
  bench::Simulator sim;
  if (!sim.Start(ECUSIM_PROGRAM, simArgs, (dir / "sim.err").c_str())) {
    std::fprintf(stderr, "soak: the simulator did not start\n");
    return 1;
  }
  const std::string& pty = sim.device;

  const LoadOutcome load = LoadInit("ECU/" + config);
  if (!load.Ok()) {
    std::fprintf(stderr, "soak: %s: %s\n", config.c_str(), cp1251::ToUtf8(load.Error).c_str());
    return 1;
  }
  SetPortDeviceOverride(LinkSettings.PortName, pty);
  SetPortFactory([] { return std::make_unique<CountingPort>(); });
  LogEnabled.store(1);

  std::printf("soak: %s (%s) on %s for %g min, faults %s %s, working in %s\n", config.c_str(),
              o.protocol.c_str(), pty.c_str(), o.minutes, noise, crc, pattern);
  std::printf("%6s %9s %9s %8s %9s %9s %8s %9s %8s %7s\n", "minute", "rss_kb", "peak_kb", "cpu_s",
              "requests", "answered", "echoes", "responses", "crc_err", "errors");
  std::fflush(stdout);

  Tail simLog(dir / "sim.err");
  std::map<fs::path, std::unique_ptr<Tail>> logs;
  auto readLogs = [&] {
    simLog.NewLines(SimulatorLine);
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator("Kadr")) files.push_back(e.path());
    std::sort(files.begin(), files.end());  // named by the session's start time
    for (const fs::path& f : files) {
      auto& tail = logs[f];
      if (!tail) tail = std::make_unique<Tail>(f);
      tail->NewLines([](const std::string& line) { ledger.Line(line); });
    }
  };

  std::size_t sessionErrors = 0;
  StartLivePolling();
  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double, std::ratio<60>>(o.minutes);
  int minute = 0;
  while (std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (LinkStatus.load() == lsError) {
      ++sessionErrors;
      std::printf("        link error %04X: polling started again\n", LinkError.load());
      StartLivePolling();
    }
    if (std::chrono::steady_clock::now() - start >= std::chrono::minutes(minute + 1)) {
      ++minute;
      readLogs();
      std::lock_guard lock(ledger.mutex_);
      std::printf("%6d %9ld %9ld %8.2f %9zu %9zu %8zu %9zu %8zu %7zu\n", minute, MemoryKb("VmRSS:"),
                  MemoryKb("VmHWM:"), CpuSeconds(), ledger.requests_, ledger.answers_,
                  ledger.echoLines_, ledger.responseLines_, ledger.crcLines_, sessionErrors);
      std::fflush(stdout);
    }
  }
  RunFlag.store(0);
  WaitLinkIdle(10000);
  StopSession();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  readLogs();

  // An ISO 9141 answer is parsed when the next header arrives: the last
  // answer of a session stays unparsed.
  const std::size_t pendingAllowed = o.protocol == "9141" ? 1 + sessionErrors : 0;
  const std::size_t unlogged = ledger.echoes_.size() + ledger.good_.size() + ledger.bad_.size();
  std::printf(
      "\nrequests %zu, frames answered %zu; log lines: %zu echoes, %zu responses, %zu checksum "
      "errors; link errors %zu\n",
      ledger.requests_, ledger.answers_, ledger.echoLines_, ledger.responseLines_, ledger.crcLines_,
      sessionErrors);
  std::printf(
      "not in the log: %zu echoes, %zu answers, %zu bad answers (%zu allowed: the last "
      "ISO 9141 answer of a session); lines that differ from what was sent: %zu\n",
      ledger.echoes_.size(), ledger.good_.size(), ledger.bad_.size(), pendingAllowed,
      ledger.mismatches_);
  for (const std::string& m : ledger.firstMismatches_) std::printf("  %s\n", m.c_str());
  std::printf(
      "answers with a wrong checksum logged as a shorter frame (the ISO 9141 rule for "
      "noise behind a frame): %zu\n",
      ledger.cutShort_);
  for (const std::string& m : ledger.cutExamples_) std::printf("  %s\n", m.c_str());
  const bool lost = unlogged > pendingAllowed || ledger.mismatches_ != 0;
  std::printf("lost: %s\n", lost ? "YES" : "none");
  sim.Stop();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return lost ? 1 : 0;
}
