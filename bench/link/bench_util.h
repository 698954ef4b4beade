// Small helpers of the link benchmarks: statistics, a CPU load, and an ECU
// that answers on the test port.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/checksum.h"
#include "link/test_port.h"

namespace kestrel::bench {

struct Stats {
  double median = 0, p99 = 0, max = 0;
  std::size_t n = 0;
};

// Figures of a set of samples (any unit).
inline Stats Summarise(std::vector<double> v) {
  Stats s;
  s.n = v.size();
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  auto at = [&](double q) {
    const std::size_t i =
        static_cast<std::size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
  };
  s.median = at(0.5);
  s.p99 = at(0.99);
  s.max = v.back();
  return s;
}

inline void PrintRow(const std::string& name, const Stats& s, const char* unit = "us") {
  std::printf("  %-28s n=%-5zu median %8.1f %s   p99 %8.1f %s   max %8.1f %s\n", name.c_str(), s.n,
              s.median, unit, s.p99, unit, s.max, unit);
}

// Keeps every core busy with ordinary-priority spinning threads while it lives.
class CpuLoad {
 public:
  explicit CpuLoad(unsigned threads = std::max(1u, std::thread::hardware_concurrency())) {
    for (unsigned i = 0; i < threads; ++i) {
      workers_.emplace_back([this] {
        volatile unsigned long x = 0;
        while (!stop_.load(std::memory_order_relaxed)) x = x + 1;
      });
    }
  }
  ~CpuLoad() {
    stop_ = true;
    for (auto& t : workers_) t.join();
  }
  CpuLoad(const CpuLoad&) = delete;
  CpuLoad& operator=(const CpuLoad&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> workers_;
};

using Bytes = std::vector<std::uint8_t>;

// An ISO 14230 frame: format byte, addresses, payload, checksum.
inline Bytes KwpFrame(std::uint8_t target, std::uint8_t source, const Bytes& payload) {
  Bytes b{static_cast<std::uint8_t>(0x80 | payload.size()), target, source};
  b.insert(b.end(), payload.begin(), payload.end());
  b.push_back(Checksum(b.data(), b.size()));
  return b;
}

// An ECU behind the test port: answers StartCommunication with C1 EF 8F and
// every other complete request frame with <service + 0x40> <id> <value>.
inline TestPort::WriteHook KwpResponder(std::uint8_t ecu, std::uint8_t tester, std::uint8_t value) {
  auto pending = std::make_shared<Bytes>();
  return [=](TestPort& port, const Bytes& bytes) {
    Bytes& b = *pending;
    b.insert(b.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    while (b.size() - at >= 3) {
      if (b[at] < 0x80 || b[at + 1] != ecu || b[at + 2] != tester) {
        ++at;
        continue;
      }
      const std::size_t n = (b[at] & 0x3Fu) + 4;
      if (b.size() - at < n) break;
      const std::uint8_t service = b[at + 3], id = b[at + 4];
      at += n;
      if (service == 0x81) {
        port.Feed(KwpFrame(tester, ecu, {0xC1, 0xEF, 0x8F}));
      } else {
        port.Feed(KwpFrame(tester, ecu, {static_cast<std::uint8_t>(service + 0x40), id, value}));
      }
    }
    b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
  };
}

}  // namespace kestrel::bench
