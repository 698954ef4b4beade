// Helpers shared by the link tests: frames, request tables, a temporary
// working directory and an ECU that answers through a TestPort.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/checksum.h"
#include "link/link_globals.h"
#include "module/vorta.h"
#include "tests/support/support.h"

namespace kestrel::testing {

using Bytes = std::vector<std::uint8_t>;

// Appends the checksum.
inline Bytes WithChecksum(Bytes b) {
  b.push_back(Checksum(b.data(), b.size()));
  return b;
}

// An ISO 14230 frame: format (0x80 or 0xC0 plus the payload length), target,
// source, payload (service and data), checksum.
inline Bytes Kwp(std::uint8_t target, std::uint8_t source, const Bytes& payload,
                 bool functional = false) {
  Bytes b{static_cast<std::uint8_t>((functional ? 0xC0 : 0x80) | payload.size()), target, source};
  b.insert(b.end(), payload.begin(), payload.end());
  return WithChecksum(b);
}

// An ISO 9141 request (68 6A tester ...) or response (48 6B ecu ...).
inline Bytes Iso9141Request(std::uint8_t tester, const Bytes& payload) {
  Bytes b{0x68, 0x6A, tester};
  b.insert(b.end(), payload.begin(), payload.end());
  return WithChecksum(b);
}
inline Bytes Iso9141Response(std::uint8_t ecu, const Bytes& payload) {
  Bytes b{0x48, 0x6B, ecu};
  b.insert(b.end(), payload.begin(), payload.end());
  return WithChecksum(b);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Appends a request (without checksum) to a table.
inline void AddRequest(vorta::RequestTable& table, const Bytes& request) {
  vorta::RequestEntry& e = table.Entries[table.Count++];
  std::copy(request.begin(), request.end(), e.Data);
  e.Length = static_cast<std::uint16_t>(request.size());
  e.Skip = 0;
}

// The request bytes of an ISO 14230 request as the loader stores them (no checksum).
inline Bytes KwpRequest(std::uint8_t target, std::uint8_t source, const Bytes& payload) {
  Bytes b = Kwp(target, source, payload);
  b.pop_back();
  return b;
}

inline const std::uint8_t* Slot(std::size_t areaOffset, std::size_t slot) {
  return ResponseStore + areaOffset + slot * vorta::kSlotSize;
}
inline Bytes SlotData(std::size_t areaOffset, std::size_t slot) {
  const std::uint8_t* s = Slot(areaOffset, slot);
  return Bytes(s, s + s[vorta::kSlotCountByte]);
}

// Runs the test in a fresh temporary working directory (the exchange log's
// "Kadr/" and "ports.ini" are relative to it).
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<ScratchDir>("kestrel-link");
    dir_ = scratch_->Path();
  }
  void TearDown() override { scratch_.reset(); }
  std::filesystem::path dir_;

 private:
  std::unique_ptr<ScratchDir> scratch_;
};

// Records every distinct LinkStatus value while it lives (polled every 200 µs).
class StatusWatcher {
 public:
  StatusWatcher() : thread_([this] { Run(); }) {}
  ~StatusWatcher() { Finish(); }
  std::vector<std::uint16_t> Finish() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void Run() {
    int last = -1;
    auto sample = [&] {
      const int s = LinkStatus.load();
      if (s != last) seen_.push_back(static_cast<std::uint16_t>(last = s));
    };
    while (!stop_.load()) {
      sample();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    sample();  // the value when the watch ended
  }
  std::atomic<bool> stop_{false};
  std::vector<std::uint16_t> seen_;
  std::thread thread_;
};

}  // namespace kestrel::testing
