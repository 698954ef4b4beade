// Timing fidelity of a session's line timing, measured on the test port's
// clock: the error of every break edge and wait against its nominal length,
// with the machine idle and with every core busy.
//
//   link_timing_bench [rounds]     (default 3)
//
// Each round runs a 5-baud session (10 address cells, W5, W1to4, W4 and a
// pass with P4 = 0) and two fast-init sessions (wake-up low/high, a pass with
// P4 = 5). Figures are |actual - nominal| in microseconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "bench_util.h"
#include "link/checksum.h"
#include "link/session.h"
#include "link/test_port.h"

using namespace kestrel;
using Op = TestPort::Op;
using bench::Bytes;

namespace {

constexpr std::uint8_t kEcu = 0x13, kTester = 0xF1;

using Samples = std::map<std::string, std::vector<double>>;

void Add(Samples& s, const std::string& name, MonoNs actual, double nominalMs) {
  s[name].push_back(std::abs(static_cast<double>(actual) / 1e3 - nominalMs * 1e3));
}

std::vector<TestPort::Event> Of(const std::vector<TestPort::Event>& all,
                                std::initializer_list<Op> ops) {
  std::vector<TestPort::Event> out;
  for (const auto& e : all)
    for (Op op : ops)
      if (e.op == op) out.push_back(e);
  return out;
}

std::vector<TestPort::Event> RunSession(std::uint8_t protocol, int p4) {
  auto port = std::make_shared<TestPort>();
  port->SetWriteHook(bench::KwpResponder(kEcu, kTester, 0));
  port->SetRecordReceiveCalls(false);
  SetPortFactory(TestPort::Factory(port));
  LinkSettingsRecord& s = LinkSettings;
  s.PortName = "COM1";
  s.EcuAddress = kEcu;
  s.Kw2 = 0x8F;
  s.TesterAddress = kTester;
  s.RequestAddress = 0x33;
  s.Addressing = kPhysical;
  s.BaudRate = 10400;
  s.W5 = 300;
  s.W1to4 = 100;
  s.W4 = 20;
  s.P3 = 12;
  s.P2 = 20;
  s.P4 = p4;
  s.PWakeUpL = 25;
  s.PWakeUpH = 25;
  s.Protocol = protocol;
  vorta::RequestTable& table = RequestTables[kLiveTable];
  table.Count = 0;
  for (std::uint8_t lid = 1; lid <= 10; ++lid) {
    Bytes r = bench::KwpFrame(kEcu, kTester, {0x21, lid});
    r.pop_back();
    vorta::RequestEntry& e = table.Entries[table.Count++];
    std::memcpy(e.Data, r.data(), r.size());
    e.Length = static_cast<std::uint16_t>(r.size());
    e.Skip = 0;
  }
  StartSession(table, s.P2, 0);
  WaitLinkIdle();
  StopSession();
  if (LinkError.load() != 0) std::printf("  (session ended with error %04X)\n", LinkError.load());
  return port->Events();
}

void Analyse5Baud(const std::vector<TestPort::Event>& ev, Samples& s) {
  const auto breaks = Of(ev, {Op::BreakOn, Op::BreakOff});
  const auto writes = Of(ev, {Op::Write});
  if (breaks.size() != 10 || writes.size() < 3) return;
  const MonoNs t0 = breaks[0].time;
  Add(s, "W5 (300 ms)", t0 - ev.front().endTime, 300);
  for (int i = 1; i < 10; ++i) Add(s, "5-baud edge (200 ms cells)", breaks[i].time - t0, 200.0 * i);
  Add(s, "W1to4 (100 ms)", writes[0].time - (t0 + Ms(2000)), 100);
  Add(s, "W4 (20 ms)", writes[1].time - writes[0].endTime, 20);
  for (std::size_t k = 2; k + 1 < writes.size(); ++k) {
    Add(s, "P2+P3 (20+12 ms)", writes[k + 1].time - writes[k].endTime, 32);
  }
}

void AnalyseFast(const std::vector<TestPort::Event>& ev, Samples& s, int p4) {
  const auto breaks = Of(ev, {Op::BreakOn, Op::BreakOff});
  const auto writes = Of(ev, {Op::Write});
  if (breaks.size() != 2 || writes.empty()) return;
  Add(s, "W5 (300 ms)", breaks[0].time - ev.front().endTime, 300);
  Add(s, "wake-up low (25 ms)", breaks[1].time - breaks[0].time, 25);
  Add(s, "wake-up high (25 ms)", writes[0].time - breaks[1].time, 25);
  for (std::size_t k = 0; k + 1 < writes.size(); ++k) {
    const MonoNs gap = writes[k + 1].time - writes[k].endTime;
    if (k == 4) {  // last byte of StartCommunication to the first request: no P2
      Add(s, "P4+P3 (5+12 ms)", gap, p4 + 12);
    } else if (gap < Ms(p4 + 5)) {
      Add(s, "P4 (5 ms)", gap, p4);
    } else {
      Add(s, "P4+P2+P3 (5+20+12 ms)", gap, p4 + 32);
    }
  }
}

void Run(const char* title, int rounds) {
  Samples s;
  for (int r = 0; r < rounds; ++r) {
    Analyse5Baud(RunSession(kProto5Baud, 0), s);
    for (int k = 0; k < 2; ++k) AnalyseFast(RunSession(kProtoFast, 5), s, 5);
  }
  std::printf("%s\n", title);
  std::vector<double> all;
  for (const auto& [name, v] : s) {
    bench::PrintRow(name, bench::Summarise(v));
    all.insert(all.end(), v.begin(), v.end());
  }
  bench::PrintRow("all edges and waits", bench::Summarise(all));
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f)) std::printf("load average at start: %s", line);
    std::fclose(f);
  }
  {
    RealtimeScope rt;
    std::printf("real-time scheduling while initialising: %s\n",
                rt.Active() ? "granted" : "not permitted (ordinary threads)");
  }
  Run("idle machine:", rounds);
  {
    bench::CpuLoad load;
    Run("every core busy:", rounds);
  }
  std::printf("targets: p99 <= 300 us, max <= 1000 us under load\n");
  return 0;
}
