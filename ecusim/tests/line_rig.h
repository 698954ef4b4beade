// A tester's view of the engine for the tests: a clock that the test moves,
// helpers for the initialisations and requests, and frame splitting.
#pragma once

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "ecusim/engine.h"

namespace kestrel::ecusim::test {

inline Bytes WithChecksum(Bytes b) {
  b.push_back(Checksum(b));
  return b;
}

// A physical ISO 14230 request from tester F1 to ECU 10, with its checksum.
inline Bytes Request(const Bytes& payload, std::uint8_t target = 0x10, bool functional = false) {
  Bytes f{static_cast<std::uint8_t>((functional ? 0xC0 : 0x80) | payload.size()), target, 0xF1};
  f.insert(f.end(), payload.begin(), payload.end());
  return WithChecksum(f);
}

inline Bytes Request9141(const Bytes& payload) {
  Bytes f{0x68, 0x6A, 0xF1};
  f.insert(f.end(), payload.begin(), payload.end());
  return WithChecksum(f);
}

// Cuts a byte stream into ISO 14230 frames by their format bytes.
inline std::vector<Bytes> Frames14230(const Bytes& s) {
  std::vector<Bytes> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t n = (s[i] & 0x3F) + 4u;
    if ((s[i] & 0x80) == 0 || i + n > s.size()) break;
    out.emplace_back(s.begin() + static_cast<std::ptrdiff_t>(i),
                     s.begin() + static_cast<std::ptrdiff_t>(i + n));
    i += n;
  }
  return out;
}

// Payloads (service identifier onwards) of the ECU's ISO 14230 frames.
inline std::vector<Bytes> Payloads(const Bytes& s) {
  std::vector<Bytes> out;
  for (const Bytes& f : Frames14230(s)) {
    if (f[1] == 0xF1 && f[2] == 0x10) out.emplace_back(f.begin() + 3, f.end() - 1);
  }
  return out;
}

struct Rig {
  explicit Rig(Scenario s = DefaultScenario(), EngineOptions o = {})
      : engine(std::move(s), std::move(o), 0) {}
  // An ECU that answers as the scenario each initialisation asks for.
  explicit Rig(std::vector<Scenario> choices, EngineOptions o = {})
      : engine(std::move(choices), std::move(o), 0) {}

  Engine engine;
  Micros now = 5'000'000;  // the bus has been quiet since the start

  void Wait(double ms) { now += Ms(ms); }
  void Break(bool on) { engine.Break(on, now); }
  void Write(const Bytes& b) { engine.Receive(b.data(), b.size(), now); }
  std::vector<LineByte> TakeTimed() { return engine.TakeTimed(now); }
  Bytes Take() {
    Bytes b;
    engine.Take(now, b);
    return b;
  }

  // Fast init as the session does it; returns what the line carried.
  Bytes FastInit(double low = 25, double high = 25) {
    Break(true);
    Wait(low);
    Break(false);
    Wait(high);
    Write(WithChecksum({0x81, 0x10, 0xF1, 0x81}));
    Wait(200);
    return Take();
  }

  // The 5-baud address as line states, W1to4, inverted KW2, W4, inverted address.
  Bytes FiveBaud(std::uint8_t address, std::uint8_t kw2 = 0x8F, double w1to4 = 120) {
    const unsigned word = 0x200u | (static_cast<unsigned>(address) << 1);
    for (int bit = 0; bit < 10; ++bit) {
      Break(((word >> bit) & 1) == 0);
      Wait(200);
    }
    Wait(w1to4);
    Write({static_cast<std::uint8_t>(~kw2)});
    Wait(50);
    Write({static_cast<std::uint8_t>(~address)});
    Wait(100);
    return Take();
  }

  // Sends a request and returns what follows its echo within `ms`.
  Bytes Ask(const Bytes& frame, double ms = 200) {
    Take();
    Write(frame);
    Wait(ms);
    Bytes b = Take();
    if (b.size() >= frame.size() && std::equal(frame.begin(), frame.end(), b.begin())) {
      b.erase(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(frame.size()));
    }
    return b;
  }
  std::vector<Bytes> AskPayloads(const Bytes& payload, double ms = 200) {
    return Payloads(Ask(Request(payload), ms));
  }
};

inline Scenario Builtin(const char* name) {
  auto r = LoadScenario(name);
  EXPECT_TRUE(r.scenario) << r.error;
  return r.scenario ? *r.scenario : Scenario{};
}

}  // namespace kestrel::ecusim::test
