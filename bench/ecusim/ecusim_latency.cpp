// Measures, over a pseudo-terminal, the time from the tester's last request
// byte to the first byte of the simulated ECU's answer, as a tester on the
// slave side sees it. The simulator runs in a thread of this program with the
// same serving loop as kestrel-ecusim.
//
//   ecusim_latency [REQUESTS]      default 200 requests for each P2 setting
//
// For each ECU P2 (the scenario's 25 ms, and 0 ms to show the overhead alone)
// it prints min, median, p95, p99 and max, and the ideal figure: P2 plus the
// line time of the request's six bytes and of one answer byte at 10400 baud.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "ecusim/engine.h"
#include "ecusim/serve.h"
#include "ecusim/sim_port.h"

using namespace kestrel::ecusim;

namespace {

double NowMs() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Reads until `count` bytes have arrived or `ms` pass; returns the arrival
// time of byte number `mark` (0-based), or -1.
double ReadMarked(int fd, std::size_t count, std::size_t mark, double ms) {
  std::size_t got = 0;
  double marked = -1;
  const double end = NowMs() + ms;
  while (got < count && NowMs() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 5) <= 0) continue;
    std::uint8_t buf[256];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) continue;
    const double t = NowMs();
    if (marked < 0 && got + static_cast<std::size_t>(n) > mark) marked = t;
    got += static_cast<std::size_t>(n);
  }
  return got >= count ? marked : -1;
}

double Quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1) + 0.5)];
}

bool Measure(double p2, int requests) {
  Scenario s = DefaultScenario();
  s.p2 = p2;
  EngineOptions o;
  o.breaks_visible = false;
  std::string error, slave;
  const int master = OpenPty(slave, error);
  if (master < 0) {
    std::fprintf(stderr, "ecusim_latency: %s\n", error.c_str());
    return false;
  }
  Engine engine(s, o, SteadyMicros());
  std::atomic<bool> stop{false};
  ServeConfig config;
  config.stop = &stop;
  std::thread server([&] { Serve(master, engine, config); });

  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  SetTtySpeed(fd, 10400);

  auto send = [&](std::vector<std::uint8_t> f) {
    f.push_back(Checksum(f));
    return write(fd, f.data(), f.size()) == static_cast<ssize_t>(f.size());
  };
  bool ok = send({0x81, 0x10, 0xF1, 0x81}) && ReadMarked(fd, 12, 5, 500) > 0;
  std::vector<double> lat;
  for (int i = 0; ok && i < requests; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double sent = NowMs();
    if (!send({0x82, 0x10, 0xF1, 0x01, 0x0C})) break;
    const double first = ReadMarked(fd, 6 + 8, 6, 500);  // echo, then the answer
    if (first > 0) lat.push_back(first - sent);
  }
  close(fd);
  stop.store(true);
  server.join();
  close(master);
  if (lat.size() < static_cast<std::size_t>(requests)) {
    std::fprintf(stderr, "ecusim_latency: %zu of %d requests answered\n", lat.size(), requests);
    return false;
  }
  const double byte_ms = 10.0 / s.baud * 1000;
  std::printf(
      "P2 %5.1f ms: n %d  min %6.2f  median %6.2f  p95 %6.2f  p99 %6.2f  max %6.2f ms"
      "  (ideal %.2f)\n",
      p2, requests, Quantile(lat, 0), Quantile(lat, 0.5), Quantile(lat, 0.95), Quantile(lat, 0.99),
      Quantile(lat, 1), p2 + 7 * byte_ms);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::printf("last request byte written -> first answer byte read, over a pseudo-terminal\n");
  const bool ok = Measure(25, requests) && Measure(0, requests);
  return ok ? 0 : 1;
}
