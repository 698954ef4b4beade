// The simulated K-Line adapter and ECU as a pure byte/time engine.
//
// The caller tells it what the tester does - break on/off and bytes written,
// each with the time it happened - and takes from it what the adapter's
// receive line carries, each byte with the time it is due (fully received).
// Times are microseconds on the caller's monotonic clock. Nothing here sleeps
// or starts threads: the in-process port, the pseudo-terminal server and the
// tests all drive the same engine with their own clocks.
//
// The adapter echoes every byte the tester sends as soon as it has gone out on
// the line. The ECU wakes up by one of the three initialisations, answers
// requests in ISO 14230 or ISO 9141 frames P2 after a request (P1 between its
// bytes), and stops any answer it has not begun when the tester talks again.
// What it answers to each request comes from EcuServices (services.h).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "ecusim/faults.h"
#include "ecusim/kline.h"
#include "ecusim/micros.h"
#include "ecusim/replay.h"
#include "ecusim/scenario.h"
#include "ecusim/services.h"
#include "ecusim/vehicle.h"

namespace kestrel::ecusim {

struct LineByte {
  std::uint8_t value;
  Micros due;  // the byte has fully arrived on the receive line
};

struct EngineOptions {
  // In-process ports report break calls with their times, so the ECU checks
  // the wake-up and address timing. Over a pseudo-terminal or a real wire
  // breaks are invisible: the 5-baud address is a byte written while the
  // tester's line is at 5 baud (SetTesterLine), and Kestrel's own
  // initialisation, whose address is breaks only, is recognised by the bytes
  // that follow it.
  bool breaks_visible = true;
  // The adapter echoes the tester's bytes. Off when serving a real wire,
  // where the tester's own adapter echoes.
  bool echo = true;
  Faults faults;
  std::uint32_t seed = 1;
  std::shared_ptr<const Replay> replay;
  // Receives one line per frame received or sent and per initialisation
  // event (the --verbose log); may be empty.
  std::function<void(const std::string&)> log;
};

enum class Phase : std::uint8_t {
  Asleep,           // waiting for an initialisation
  BreakLow,         // the tester holds the line low; wake-up or address start
  FastWake,         // wake-up pattern done, waiting for StartCommunication
  StartComm,        // receiving StartCommunication
  FiveBaudAddress,  // receiving the 5-baud address bits
  FiveBaudByte,     // the address came as one byte at 5 baud: its end, W1, then the sync
  FiveBaudKeys,     // sync and key bytes sent, waiting for the inverted key byte 2
  Session,          // initialised: requests are answered
};

class Engine {
 public:
  Engine(Scenario scenario, EngineOptions options, Micros start);
  // An ECU that answers as whichever of `choices` (not empty) an
  // initialisation asks for (ChooseScenario), anew at every initialisation.
  // Each choice keeps its own codes, freeze frames and actuators, as each car
  // would. Until the first initialisation it is the first choice.
  Engine(std::vector<Scenario> choices, EngineOptions options, Micros start);
  // The service answers refer to this engine's scenario: it stays in place.
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // What the tester does.
  void Break(bool on, Micros t);
  void Receive(const std::uint8_t* data, std::size_t count, Micros t);
  // The tester's line speed; far from the ECU's, the ECU hears only noise.
  void SetTesterBaud(std::uint32_t baud);
  // The tester's line speed as seen at time t (a pseudo-terminal's settings,
  // or the speed a real device listens at). `changed`: the tester has just
  // changed its line settings, and the speed it had in between may be gone
  // already. A byte written while the line is at 5 baud is the 5-baud
  // address; it ends when the tester leaves 5 baud, or after its ten bits.
  void SetTesterLine(std::uint32_t baud, bool changed, Micros t);
  // Whether the tester's changes of its line settings reach SetTesterLine at
  // all. When they do not, a lone byte of this ECU's address after the quiet
  // time is taken as a 5-baud address whose speed went unseen.
  void SetLineChangesSeen(bool seen) { changes_seen_ = seen; }
  // While the ECU waits for the end of a 5-baud address byte, the caller
  // should look at the tester's line speed every few milliseconds.
  bool WatchesTesterLine() const { return phase_ == Phase::FiveBaudByte; }

  // Runs the timers (5-baud address end, time-outs) up to `now`.
  void Advance(Micros now);
  // Appends the bytes due by `now` to `out`; returns how many.
  std::size_t Take(Micros now, std::vector<std::uint8_t>& out);
  std::vector<LineByte> TakeTimed(Micros now);
  // Forgets the bytes due by `now` that nobody read (a port purge).
  void Purge(Micros now);
  // When something happens next without the tester: a byte due or a timer.
  std::optional<Micros> NextEvent() const;

  // The adapter disappears at this time (fault "vanish").
  std::optional<Micros> VanishAt() const { return vanish_at_; }

  // State, for tests and the log.
  Phase phase() const { return phase_; }
  bool Iso9141Session() const { return session_9141_; }
  const Scenario& scenario() const { return s_; }
  // Whether the ECU (any of its choices) answers these initialisations.
  bool AcceptsFast() const;
  bool Accepts5Baud() const;
  const std::vector<std::uint16_t>& StoredCodes() const { return services_->StoredCodes(); }
  const std::vector<std::uint16_t>& CurrentCodes() const { return services_->CurrentCodes(); }
  std::size_t FreezeFrames() const { return services_->FreezeFrames(); }
  const ActuatorOverrides& Overrides() const { return services_->Overrides(); }
  bool TestMode() const { return services_->TestMode(); }
  int Answered() const { return answered_; }
  // The car as the ECU sees it at time t (codes and lamp filled in).
  VehicleState StateAt(Micros t) const { return services_->StateAt(t); }
  // The payloads (service identifier onwards) the ECU answers to a request
  // payload at time t, without framing, timing or faults.
  std::vector<Bytes> Services(const Bytes& request, Micros t) {
    return services_->Answer(request, t);
  }

 private:
  struct Out {
    std::uint8_t value;
    Micros start, due;
    std::uint32_t frame;  // 0: echo (never withdrawn)
    Micros frame_start;
  };

  void AdvancePhase(Micros now);
  void Log(Micros t, const std::string& text) const;
  void Push(std::uint8_t v, Micros start, Micros due, std::uint32_t frame, Micros frame_start);
  Micros ScheduleFrame(const Bytes& frame, Micros at, const char* what);
  void CancelUnstarted(Micros t);
  Micros BusIdleSince(Micros t) const;
  bool Deaf() const;

  // Whether a received byte was written at 5 baud: Yes when the line is at
  // 5 baud as it is read, JustBefore when it was so until a moment before,
  // Maybe when the tester changed its settings and back faster than anyone
  // looked, Unseen when its changes cannot be seen at all.
  enum class AtFiveBaud : std::uint8_t { No, Unseen, Maybe, JustBefore, Yes };
  AtFiveBaud FirstByteAtFiveBaud(std::size_t count, Micros t) const;
  void LineSpeed(std::uint32_t baud, Micros t);
  void TesterByte(std::uint8_t b, Micros start, Micros end, AtFiveBaud five);
  bool AddressByte(std::uint8_t b, Micros start, Micros gap, AtFiveBaud five);
  void SyncAfterAddressByte();
  void SendSyncAndKeys(Micros address_end);
  bool PtyInitWatch(std::uint8_t b, Micros start, Micros end);
  void Accumulate14230(std::uint8_t b, Micros start, Micros end);
  void Accumulate9141(std::uint8_t b, Micros start, Micros end);
  void Handle14230(Micros end);
  void Answer(const Bytes& payload, std::uint8_t tester, Micros end);
  // Frames one payload for the session's protocol, with the checksum and
  // noise faults, and queues it from `at`; returns the end of its last byte.
  Micros Transmit(const Bytes& payload, std::uint8_t tester, Micros at);
  void Decode5Baud();
  void StartSession(Micros t, const char* how);
  // Whether the ECU answers this initialisation; with choices it becomes the
  // scenario chosen for it.
  bool Choose(InitKind kind, std::uint8_t address, Micros t);
  bool OwnAddress(std::uint8_t address) const;
  // The key bytes the ECU sends (others than its scenario's with the fault
  // wrong-keys).
  std::array<std::uint8_t, 2> KeyBytes() const;
  void EndSession(Micros t, const char* why);

  bool Chance(double rate);

  Scenario s_;                     // the scenario answering now
  std::vector<Scenario> choices_;  // empty unless the ECU answers as any of them
  EngineOptions o_;
  Micros start_;
  Micros byte_us_;
  std::uint32_t tester_baud_ = 0;
  std::mt19937 rng_;
  std::vector<std::unique_ptr<EcuServices>> services_of_;  // one per choice, or one for s_
  EcuServices* services_;

  std::vector<Out> out_;  // sorted by due
  std::uint32_t next_frame_ = 1;
  Micros tx_free_;        // the tester's transmitter is busy until then
  Micros tester_end_;     // end of the tester's last byte
  Micros ecu_free_;       // the ECU's transmitter is busy until then
  Micros taken_ecu_end_;  // end of the last ECU byte taken off the line
  Micros last_edge_;

  Phase phase_ = Phase::Asleep;
  bool line_low_ = false;
  bool idle_ok_ = false;
  Micros low_at_ = 0, high_at_ = 0;
  std::vector<std::pair<Micros, bool>> edges_;  // (time, line low) during the address
  bool edges_overflow_ = false;
  Micros keys_deadline_ = 0;
  Micros kb2_end_ = 0;  // the ECU's key byte 2 has gone out
  std::uint8_t address_ = 0;
  // The tester's line between two received bytes, for 5-baud address bytes.
  bool five_seen_ = false;  // a look at the line found it at 5 baud
  bool changes_seen_ = true;
  Micros line_changed_at_;  // the tester's last change of its line settings
  Micros address_end_ = 0;  // FiveBaudByte: the end of the address (at the latest)
  bool pty_armed_ = false;
  Micros pty_first_end_ = 0;
  std::uint8_t pty_first_ = 0;

  bool session_9141_ = false;
  Micros last_request_ = 0;
  std::array<std::uint8_t, 264> rx_{};
  std::size_t rx_n_ = 0;
  Micros rx_last_ = 0;
  Micros rx_closed_at_ = 0;
  std::optional<std::uint8_t> swallow_;
  Micros swallow_until_ = 0;

  int answered_ = 0;
  bool stopped_ = false;
  std::optional<Micros> vanish_at_;
};

const char* PhaseName(Phase p);

}  // namespace kestrel::ecusim
