// Pass efficiency: the measured time of N cyclic passes over the sum of
// P3 + frame time + P2 of their requests. The test port plays a 10400-baud
// line (a write takes 10 bit times per byte) with an adapter echo and an ECU
// that answers every request.
//
//   link_pass_bench [passes]       (default 20)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench_util.h"
#include "link/checksum.h"
#include "link/session.h"
#include "link/test_port.h"

using namespace kestrel;
using bench::Bytes;

namespace {

constexpr std::uint8_t kEcu = 0x13, kTester = 0xF1;
constexpr int kRequests = 10;
constexpr std::uint32_t kBaud = 10400;

void Measure(int passes, int p3, int p2, int p4) {
  auto port = std::make_shared<TestPort>();
  port->SetWriteHook(bench::KwpResponder(kEcu, kTester, 0x10));
  port->SetLineSpeed(kBaud);
  port->SetRecordReceiveCalls(false);
  SetPortFactory(TestPort::Factory(port));
  LinkSettingsRecord& s = LinkSettings;
  s.PortName = "COM1";
  s.EcuAddress = kEcu;
  s.TesterAddress = kTester;
  s.Addressing = kPhysical;
  s.BaudRate = kBaud;
  s.W5 = 60;
  s.P3 = p3;
  s.P2 = p2;
  s.P4 = p4;
  s.PWakeUpL = 25;
  s.PWakeUpH = 25;
  s.Protocol = kProtoFast;
  vorta::RequestTable& table = RequestTables[kLiveTable];
  table.Count = 0;
  std::size_t frameBytes = 0;
  for (int i = 0; i < kRequests; ++i) {
    const Bytes r{0x82, kEcu, kTester, 0x21, static_cast<std::uint8_t>(i + 1)};
    frameBytes = r.size() + 1;  // with the checksum the session adds
    vorta::RequestEntry& e = table.Entries[table.Count++];
    std::memcpy(e.Data, r.data(), r.size());
    e.Length = static_cast<std::uint16_t>(r.size());
    e.Skip = 0;
  }
  StartSession(table, p2, 1);
  // First pass, then passes + 1 cyclic ones (the last only marks the end).
  while (PassCount.load() < static_cast<std::uint32_t>(passes + 2) &&
         LinkStatus.load() != lsError) {
    SleepUntil(MonoNow() + Ms(5));
  }
  StopSession();

  // First write of each pass, after StartCommunication (one write, or one per byte).
  std::vector<MonoNs> writes;
  for (const auto& e : port->Events()) {
    if (e.op == TestPort::Op::Write) writes.push_back(e.time);
  }
  const std::size_t init = p4 ? 5 : 1;
  const std::size_t perPass = (p4 ? frameBytes : 1) * kRequests;
  std::vector<MonoNs> starts;
  for (std::size_t w = init; w < writes.size(); w += perPass) starts.push_back(writes[w]);
  if (starts.size() < static_cast<std::size_t>(passes + 2)) {
    std::printf("  session ended early (LinkError %04X)\n", LinkError.load());
    return;
  }
  const double measured = static_cast<double>(starts[1 + passes] - starts[1]) / 1e6;
  const double byteMs = 10.0 * 1000.0 / kBaud;
  const double frameMs = static_cast<double>(frameBytes) * (byteMs + p4);
  const double nominal = passes * kRequests * (p3 + frameMs + p2);
  std::printf(
      "  P3 %3d  P2 %3d  P4 %d  frame %5.2f ms: %d passes %9.1f ms, nominal %9.1f ms, ratio %.4f\n",
      p3, p2, p4, frameMs, passes, measured, nominal, measured / nominal);
}

}  // namespace

int main(int argc, char** argv) {
  const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  std::printf(
      "pass efficiency, %d requests of 6 bytes per pass at %u baud (target ratio <= 1.01):\n",
      kRequests, kBaud);
  Measure(passes, 12, 20, 0);
  Measure(passes, 12, 20, 5);
  Measure(passes / 4 + 1, 60, 80, 0);
  return 0;
}
