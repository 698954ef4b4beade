// Small helpers of the link benchmarks: statistics and a CPU load.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

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

}  // namespace kestrel::bench
