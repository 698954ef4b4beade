// Receiver latency over a pseudo-terminal: from the moment the peer writes
// an ECU response to the master side until the receiver (TComThread on a
// TermiosPort) has filed it in the response store. The store is looked at
// every 50 us, so figures are up to about 0.1 ms high.
//
//   link_rx_latency_bench [samples]     (default 2000)
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_util.h"
#include "link/checksum.h"
#include "link/link_globals.h"
#include "link/precise_wait.h"
#include "link/tcom_thread.h"
#include "link/termios_port.h"

using namespace kestrel;

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 2000;
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("pseudo-terminal");
    return 1;
  }
  TermiosPort port;
  if (port.Open(ptsname(master), 10400) != 0) {
    std::fprintf(stderr, "%s\n", port.LastErrorText().c_str());
    return 1;
  }
  std::atomic<std::uint16_t> error{0};
  std::atomic<std::uint16_t> unechoed{0};
  std::atomic<std::uint8_t> logOff{0};
  RxSettings settings;
  settings.EcuAddress = 0x13;
  settings.Protocol = kProtoFast;
  settings.TesterAddress = 0xF1;
  settings.RequestAddress = 0x33;
  RxTargets targets;
  targets.Store = ResponseStore;
  targets.Error = &error;
  targets.UnechoedWrites = &unechoed;
  targets.LogFlag = &logOff;
  TComThread receiver(port, settings, targets, "Kadr/bench.log");
  receiver.Start();

  std::uint8_t* slot = ResponseStore + vorta::kLocal21Offset + 0x01 * vorta::kSlotSize;
  auto byteAt = [slot](int i) { return std::atomic_ref<std::uint8_t>(slot[i]).load(); };
  std::vector<double> latency;
  int lost = 0;
  for (int i = 0; i < samples; ++i) {
    const std::uint8_t lo = static_cast<std::uint8_t>(i), hi = static_cast<std::uint8_t>(i >> 8);
    std::uint8_t frame[8] = {0x84, 0xF1, 0x13, 0x61, 0x01, lo, hi, 0};
    frame[7] = Checksum(frame, 7);
    const MonoNs t0 = MonoNow();  // the receiver may run before write() returns
    if (::write(master, frame, sizeof frame) != static_cast<ssize_t>(sizeof frame)) break;
    const MonoNs giveUp = t0 + Ms(200);
    MonoNs t1 = 0;
    // Look every 50 us, sleeping in between: a spinning observer would take
    // the processor from the kernel worker that moves pty bytes.
    while ((t1 = MonoNow()) < giveUp) {
      if (byteAt(0) == lo && byteAt(1) == hi && byteAt(255) == 2) break;
      SleepUntil(t1 + 50 * kNsPerUs);
    }
    if (t1 >= giveUp) {
      ++lost;
    } else {
      latency.push_back(static_cast<double>(t1 - t0) / 1e3);
    }
    SleepUntil(MonoNow() + Ms(2));  // frames come some milliseconds apart
  }
  receiver.Terminate();
  receiver.Join();
  port.Close();
  ::close(master);

  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    char line[128] = {};
    if (std::fgets(line, sizeof line, f)) std::printf("load average: %s", line);
    std::fclose(f);
  }
  std::printf("receiver latency over a pseudo-terminal, last byte written to slot filed:\n");
  const bench::Stats s = bench::Summarise(latency);
  bench::PrintRow("response 61 01 (8 bytes)", s);
  std::printf("  not filed within 200 ms: %d; LinkError %04X\n", lost, error.load());
  std::printf("target: p99 <= 2000 us\n");
  return 0;
}
