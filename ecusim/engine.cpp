#include "ecusim/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kestrel::ecusim {

namespace {

constexpr Micros kFarPast = std::numeric_limits<Micros>::min() / 4;
constexpr Micros kBitCell = 200'000;       // 5 baud
constexpr Micros kFastLowLimit = 100'000;  // a shorter first low is a fast-init wake-up
constexpr Micros kPtyInitGap = 1'500'000;  // quiet before the tester's inverted key byte
constexpr Micros kPtyInitPair = 500'000;   // ... and at most this until its inverted address
// A tester that sets 5 baud, writes its address and sets its usual speed
// again at once may do all of it before the line is looked at: a change of
// its line settings this shortly before a lone byte is taken as that.
constexpr Micros kLineChangeWindow = 50'000;
constexpr std::uint32_t kFiveBaud = 5;
constexpr std::size_t kMaxQueued = 65536;
constexpr std::size_t kMax9141Request = 16;

std::uint8_t Inv(std::uint8_t b) {
  return static_cast<std::uint8_t>(~b);
}

// Within the usual 3 % of a UART's rate.
bool NearBaud(std::uint32_t baud, std::uint32_t want) {
  const double ratio = static_cast<double>(baud) / want;
  return ratio >= 0.97 && ratio <= 1.03;
}

std::string Millis(Micros us) {
  return std::to_string(us / 1000) + " ms";
}

}  // namespace

const char* PhaseName(Phase p) {
  switch (p) {
    case Phase::Asleep:
      return "asleep";
    case Phase::BreakLow:
      return "line low";
    case Phase::FastWake:
      return "woken (fast)";
    case Phase::StartComm:
      return "StartCommunication";
    case Phase::FiveBaudAddress:
      return "5-baud address";
    case Phase::FiveBaudByte:
      return "5-baud address byte";
    case Phase::FiveBaudKeys:
      return "key bytes sent";
    case Phase::Session:
      return "session";
  }
  return "?";
}

Engine::Engine(Scenario scenario, EngineOptions options, Micros start)
    : s_(std::move(scenario)),
      o_(std::move(options)),
      start_(start),
      byte_us_(std::max<Micros>(1, static_cast<Micros>(std::llround(10e6 / s_.baud)))),
      rng_(o_.seed),
      services_(nullptr),
      tx_free_(kFarPast),
      tester_end_(kFarPast),
      ecu_free_(kFarPast),
      taken_ecu_end_(kFarPast),
      last_edge_(kFarPast),
      line_changed_at_(kFarPast) {
  services_of_.push_back(std::make_unique<EcuServices>(s_, o_.replay, start));
  services_ = services_of_.front().get();
}

Engine::Engine(std::vector<Scenario> choices, EngineOptions options, Micros start)
    : Engine(choices.empty() ? DefaultScenario() : choices.front(), std::move(options), start) {
  if (choices.empty()) return;
  choices_ = std::move(choices);
  services_of_.clear();
  for (const Scenario& c : choices_) {
    services_of_.push_back(std::make_unique<EcuServices>(c, o_.replay, start));
  }
  services_ = services_of_.front().get();
}

bool Engine::AcceptsFast() const {
  if (choices_.empty()) return s_.accept_fast;
  return std::any_of(choices_.begin(), choices_.end(),
                     [](const Scenario& c) { return c.accept_fast; });
}

bool Engine::Accepts5Baud() const {
  if (choices_.empty()) return s_.accept_5baud;
  return std::any_of(choices_.begin(), choices_.end(),
                     [](const Scenario& c) { return c.accept_5baud; });
}

bool Engine::OwnAddress(std::uint8_t address) const {
  auto own = [address](const Scenario& c) {
    return address == c.ecu_address || address == c.functional_address;
  };
  if (choices_.empty()) return own(s_);
  return std::any_of(choices_.begin(), choices_.end(), own);
}

bool Engine::Choose(InitKind kind, std::uint8_t address, Micros t) {
  if (choices_.empty()) return AnswersInit(s_, kind, address);
  const std::optional<std::size_t> chosen = ChooseScenario(choices_, kind, address);
  if (!chosen) return false;
  if (services_ != services_of_[*chosen].get()) {
    s_ = choices_[*chosen];
    services_ = services_of_[*chosen].get();
    byte_us_ = std::max<Micros>(1, static_cast<Micros>(std::llround(10e6 / s_.baud)));
  }
  Log(t, "answering as " + s_.name);
  return true;
}

std::array<std::uint8_t, 2> Engine::KeyBytes() const {
  if (!o_.faults.wrong_keys) return s_.key_bytes;
  // Those of an ECU of the other family: ISO 9141's for an ISO 14230 ECU.
  const std::array<std::uint8_t, 2> kwp{0xEF, 0x8F};
  return s_.key_bytes == kwp ? std::array<std::uint8_t, 2>{0x08, 0x08} : kwp;
}

// ---------------------------------------------------------------- output line

void Engine::Log(Micros t, const std::string& text) const {
  if (!o_.log) return;
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%10.3f] ", static_cast<double>(t - start_) / 1e6);
  o_.log(stamp + text);
}

void Engine::Push(std::uint8_t v, Micros start, Micros due, std::uint32_t frame,
                  Micros frame_start) {
  if (out_.size() >= kMaxQueued) return;  // the adapter's buffer overflows: the byte is lost
  Out o{v, start, due, frame, frame_start};
  auto at = std::upper_bound(out_.begin(), out_.end(), due,
                             [](Micros d, const Out& x) { return d < x.due; });
  out_.insert(at, o);
}

Micros Engine::ScheduleFrame(const Bytes& frame, Micros at, const char* what) {
  const std::uint32_t id = next_frame_++;
  if (next_frame_ == 0) next_frame_ = 1;
  Micros start = std::max(at, ecu_free_);
  const Micros frame_start = start;
  std::size_t split_at = frame.size();
  if (o_.faults.split_ms > 0 && frame.size() >= 2) {
    std::uniform_int_distribution<std::size_t> d(1, frame.size() - 1);
    split_at = d(rng_);
  }
  Micros end = start;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i > 0) start = end + Ms(s_.p1);
    if (i == split_at) start += Ms(o_.faults.split_ms);
    end = start + byte_us_;
    Push(frame[i], start, end, id, frame_start);
  }
  ecu_free_ = end;
  if (what) Log(frame_start, std::string(what) + " " + Hex(frame));
  return end;
}

void Engine::CancelUnstarted(Micros t) {
  const auto gone = std::remove_if(out_.begin(), out_.end(),
                                   [t](const Out& o) { return o.frame != 0 && o.frame_start > t; });
  if (gone != out_.end()) {
    out_.erase(gone, out_.end());
    Log(t, "answer withdrawn: the tester is talking");
  }
  ecu_free_ = taken_ecu_end_;
  for (const Out& o : out_) {
    if (o.frame != 0) ecu_free_ = std::max(ecu_free_, o.due);
  }
}

Micros Engine::BusIdleSince(Micros t) const {
  return std::max({tester_end_, std::min(ecu_free_, t), last_edge_});
}

void Engine::SetTesterBaud(std::uint32_t baud) {
  LineSpeed(baud, start_);
}

void Engine::SetTesterLine(std::uint32_t baud, bool changed, Micros t) {
  Advance(t);  // a sync byte due before this look went by the speed seen before
  if (changed) line_changed_at_ = t;
  const bool five = NearBaud(baud, kFiveBaud);
  if (five) five_seen_ = true;
  if (phase_ == Phase::FiveBaudByte && !five && t < address_end_) {
    address_end_ = t;
    Log(t, "the tester's line is at " + std::to_string(baud) + " baud: its address has ended");
  }
  LineSpeed(baud, t);
}

void Engine::LineSpeed(std::uint32_t baud, Micros t) {
  if (baud == tester_baud_) return;
  tester_baud_ = baud;
  if (o_.faults.silent || stopped_) return;
  if (!o_.breaks_visible && Accepts5Baud() && NearBaud(baud, kFiveBaud)) {
    Log(t, "the tester's line is at 5 baud: a byte now is its 5-baud address");
  } else if (Deaf()) {
    Log(t, "the tester talks at " + std::to_string(baud) + " baud, the ECU at " +
               std::to_string(s_.baud) + ": the ECU hears only noise");
  }
}

bool Engine::Deaf() const {
  if (o_.faults.silent || stopped_) return true;
  return tester_baud_ != 0 && !NearBaud(tester_baud_, s_.baud);
}

std::size_t Engine::Take(Micros now, std::vector<std::uint8_t>& out) {
  Advance(now);
  std::size_t n = 0;
  while (n < out_.size() && out_[n].due <= now) {
    out.push_back(out_[n].value);
    if (out_[n].frame != 0) taken_ecu_end_ = std::max(taken_ecu_end_, out_[n].due);
    ++n;
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n));
  return n;
}

std::vector<LineByte> Engine::TakeTimed(Micros now) {
  Advance(now);
  std::vector<LineByte> r;
  std::size_t n = 0;
  while (n < out_.size() && out_[n].due <= now) {
    r.push_back({out_[n].value, out_[n].due});
    if (out_[n].frame != 0) taken_ecu_end_ = std::max(taken_ecu_end_, out_[n].due);
    ++n;
  }
  out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(n));
  return r;
}

void Engine::Purge(Micros now) {
  std::vector<std::uint8_t> dropped;
  Take(now, dropped);
}

std::optional<Micros> Engine::NextEvent() const {
  std::optional<Micros> next;
  auto at = [&](Micros t) {
    if (!next || t < *next) next = t;
  };
  if (!out_.empty()) at(out_.front().due);
  switch (phase_) {
    case Phase::FiveBaudAddress:
      if (!line_low_) at(low_at_ + 10 * kBitCell);
      break;
    case Phase::FiveBaudByte:
      at(address_end_ + Ms(s_.w1));
      break;
    case Phase::FiveBaudKeys:
      at(keys_deadline_ + 1);
      break;
    case Phase::FastWake:
      at(low_at_ + Ms(s_.wake_total_max) + 1);
      break;
    case Phase::Session:
      at(last_request_ + Ms(s_.p3_max) + 1);
      break;
    default:
      break;
  }
  if (vanish_at_) at(*vanish_at_);
  return next;
}

// ---------------------------------------------------------------- timers

void Engine::Advance(Micros now) {
  // One timer may start the next (the address decoded, the key bytes' wait).
  for (Phase before = phase_;; before = phase_) {
    AdvancePhase(now);
    if (phase_ == before) return;
  }
}

void Engine::AdvancePhase(Micros now) {
  switch (phase_) {
    case Phase::FiveBaudAddress:
      if (!line_low_ && now >= low_at_ + 10 * kBitCell) Decode5Baud();
      break;
    case Phase::FiveBaudByte:
      if (now >= address_end_ + Ms(s_.w1)) SyncAfterAddressByte();
      break;
    case Phase::FiveBaudKeys:
      if (now > keys_deadline_) {
        Log(keys_deadline_, "no inverted key byte 2 from the tester within " +
                                Millis(Ms(s_.w4_max)) + " of key byte 2: back to sleep");
        phase_ = Phase::Asleep;
      }
      break;
    case Phase::FastWake:
      if (now > low_at_ + Ms(s_.wake_total_max)) {
        Log(now, "no StartCommunication after the wake-up pattern: back to sleep");
        phase_ = Phase::Asleep;
      }
      break;
    case Phase::Session:
      if (now > last_request_ + Ms(s_.p3_max)) {
        EndSession(last_request_ + Ms(s_.p3_max), "no request within P3max");
      }
      break;
    default:
      break;
  }
}

void Engine::StartSession(Micros t, const char* how) {
  phase_ = Phase::Session;
  session_9141_ = s_.IsIso9141();
  last_request_ = t;
  rx_n_ = 0;
  Log(t, std::string("session open (") + how + ", " + (session_9141_ ? "ISO 9141" : "ISO 14230") +
             " frames)");
}

void Engine::EndSession(Micros t, const char* why) {
  if (phase_ == Phase::Session) Log(t, std::string("session closed: ") + why);
  phase_ = Phase::Asleep;
  rx_n_ = 0;
}

// ---------------------------------------------------------------- break line

void Engine::Break(bool on, Micros t) {
  if (!o_.breaks_visible) return;
  Advance(t);
  if (on) {
    if (line_low_) return;
    line_low_ = true;
    CancelUnstarted(t);
    if (phase_ == Phase::FiveBaudAddress) {
      if (edges_.size() < 16) {
        edges_.push_back({t, true});
      } else {
        edges_overflow_ = true;
      }
    } else {
      const Micros idle = t - BusIdleSince(t);
      if (phase_ == Phase::Session) EndSession(t, "the tester pulls the line low");
      phase_ = Phase::BreakLow;
      low_at_ = t;
      idle_ok_ = idle >= Ms(s_.idle_min);
      edges_.assign(1, {t, true});
      edges_overflow_ = false;
      rx_n_ = 0;
      if (!idle_ok_) {
        Log(t, "line pulled low after only " + std::to_string(idle / 1000) +
                   " ms of quiet bus (needs " + std::to_string(Ms(s_.idle_min) / 1000) + ")");
      }
    }
  } else {
    if (!line_low_) return;
    line_low_ = false;
    if (phase_ == Phase::BreakLow) {
      const Micros low = t - low_at_;
      if (low < kFastLowLimit) {
        char text[160];
        std::snprintf(text, sizeof text, "wake-up low %.1f ms", low / 1000.0);
        if (Deaf() || !idle_ok_ || !AcceptsFast()) {
          Log(t, std::string(text) + ": ignored");
          phase_ = Phase::Asleep;
        } else if (low < Ms(s_.wake_low_min) || low > Ms(s_.wake_low_max)) {
          Log(t, std::string(text) + ": outside " +
                     std::to_string(static_cast<int>(s_.wake_low_min)) + ".." +
                     std::to_string(static_cast<int>(s_.wake_low_max)) + " ms, ignored");
          phase_ = Phase::Asleep;
        } else {
          phase_ = Phase::FastWake;
          high_at_ = t;
        }
      } else {
        phase_ = Phase::FiveBaudAddress;
        edges_.push_back({t, false});
      }
    } else if (phase_ == Phase::FiveBaudAddress) {
      if (edges_.size() < 16) {
        edges_.push_back({t, false});
      } else {
        edges_overflow_ = true;
      }
    }
  }
  last_edge_ = t;
}

void Engine::Decode5Baud() {
  const Micros t0 = low_at_;
  const Micros done = t0 + 10 * kBitCell;
  phase_ = Phase::Asleep;
  auto reject = [&](const std::string& why) { Log(done, "5-baud address rejected: " + why); };
  if (edges_overflow_) return reject("too many edges");
  if (!idle_ok_) return reject("the bus was not quiet before it");
  if (Deaf() || !Accepts5Baud()) return reject("this ECU does not answer it");
  const Micros tol = Ms(s_.bit_tolerance);
  for (std::size_t i = 1; i < edges_.size(); ++i) {
    const Micros rel = edges_[i].first - t0;
    const Micros k = (rel + kBitCell / 2) / kBitCell;
    if (k < 1 || k > 9 || std::llabs(rel - k * kBitCell) > tol) {
      char text[96];
      std::snprintf(text, sizeof text, "an edge %.1f ms after the start bit is off the 200 ms grid",
                    rel / 1000.0);
      return reject(text);
    }
  }
  // Sample the line in the middle of each bit cell.
  auto low_at = [&](Micros t) {
    bool low = false;
    for (const auto& [when, is_low] : edges_) {
      if (when <= t) low = is_low;
    }
    return low;
  };
  if (!low_at(t0 + kBitCell / 2)) return reject("no start bit");
  if (low_at(t0 + 9 * kBitCell + kBitCell / 2)) return reject("no stop bit");
  unsigned address = 0;
  for (int bit = 0; bit < 8; ++bit) {
    if (!low_at(t0 + (bit + 1) * kBitCell + kBitCell / 2)) address |= 1u << bit;
  }
  address_ = static_cast<std::uint8_t>(address);
  if (!Choose(InitKind::FiveBaud, address_, done)) {
    return reject("address " + Hex(&address_, 1) + " is not this ECU's");
  }
  Log(done, "5-baud address " + Hex(&address_, 1) + " received");
  SendSyncAndKeys(done);
}

void Engine::SendSyncAndKeys(Micros address_end) {
  Micros end = ScheduleFrame({0x55}, address_end + Ms(s_.w1), "sync");
  const std::array<std::uint8_t, 2> keys = KeyBytes();
  end = ScheduleFrame({keys[0]}, end + Ms(s_.w2), "key byte 1");
  end = ScheduleFrame({keys[1]}, end + Ms(s_.w3), "key byte 2");
  kb2_end_ = end;
  keys_deadline_ = end + Ms(s_.w4_max);
  phase_ = Phase::FiveBaudKeys;
}

// W1 after the address byte: the tester must listen at the ECU's speed by
// now, or the sync byte would reach it as noise.
void Engine::SyncAfterAddressByte() {
  const Micros due = address_end_ + Ms(s_.w1);
  phase_ = Phase::Asleep;
  if (o_.faults.silent || stopped_) return;
  if (NearBaud(tester_baud_, kFiveBaud)) {
    Log(due,
        "the tester's line is still at 5 baud when the sync byte is due: "
        "it would hear only noise, no answer");
    return;
  }
  if (Deaf()) {
    Log(due, "the tester listens at " + std::to_string(tester_baud_) + " baud, the ECU talks at " +
                 std::to_string(s_.baud) + ": no answer");
    return;
  }
  SendSyncAndKeys(address_end_);
}

// ---------------------------------------------------------------- tester bytes

void Engine::Receive(const std::uint8_t* data, std::size_t count, Micros t) {
  if (count == 0) return;
  // Bytes written together were written at one speed.
  const AtFiveBaud five = FirstByteAtFiveBaud(count, t);
  for (std::size_t i = 0; i < count; ++i) {
    const Micros start = std::max(t, tx_free_);
    const Micros end = start + byte_us_;
    tx_free_ = end;
    if (o_.echo && !o_.faults.no_echo) Push(data[i], start, end, 0, start);
    TesterByte(data[i], start, end, i == 0 || five == AtFiveBaud::Yes ? five : AtFiveBaud::No);
  }
  five_seen_ = false;
  line_changed_at_ = kFarPast;
}

Engine::AtFiveBaud Engine::FirstByteAtFiveBaud(std::size_t count, Micros t) const {
  if (o_.breaks_visible) return AtFiveBaud::No;
  if (NearBaud(tester_baud_, kFiveBaud)) return AtFiveBaud::Yes;
  if (count != 1) return AtFiveBaud::No;
  // Set back to its usual speed right after writing the byte.
  if (t - line_changed_at_ <= kLineChangeWindow) {
    return five_seen_ ? AtFiveBaud::JustBefore : AtFiveBaud::Maybe;
  }
  return changes_seen_ ? AtFiveBaud::No : AtFiveBaud::Unseen;
}

void Engine::TesterByte(std::uint8_t b, Micros start, Micros end, AtFiveBaud five) {
  Advance(start);
  CancelUnstarted(start);
  const Micros gap = start - BusIdleSince(start);
  tester_end_ = end;
  if (five != AtFiveBaud::No && AddressByte(b, start, gap, five)) return;
  if (Deaf() || line_low_) {
    if (phase_ == Phase::FiveBaudKeys && !o_.faults.silent && !stopped_) {
      Log(start, "byte " + Hex(&b, 1) + " from the tester at " + std::to_string(tester_baud_) +
                     " baud: noise to the ECU, which waits for the inverted key byte 2");
    }
    return;
  }
  if (!o_.breaks_visible) {
    if (PtyInitWatch(b, start, end)) return;
    if (Accepts5Baud() && gap >= kPtyInitGap) {
      pty_armed_ = true;
      pty_first_ = b;
      pty_first_end_ = end;
    }
  }
  switch (phase_) {
    case Phase::Asleep:
      // Without visible breaks a StartCommunication frame is the fast init.
      if (!o_.breaks_visible && AcceptsFast()) Accumulate14230(b, start, end);
      break;
    case Phase::FastWake: {
      const Micros total = start - low_at_;
      if (total < Ms(s_.wake_total_min) || total > Ms(s_.wake_total_max)) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "wake-up pattern of %.1f ms (low %.1f) outside %.0f..%.0f ms: ignored",
                      total / 1000.0, (high_at_ - low_at_) / 1000.0, s_.wake_total_min,
                      s_.wake_total_max);
        Log(start, text);
        phase_ = Phase::Asleep;
        break;
      }
      phase_ = Phase::StartComm;
      rx_n_ = 0;
      Accumulate14230(b, start, end);
      break;
    }
    case Phase::StartComm:
      Accumulate14230(b, start, end);
      break;
    case Phase::FiveBaudKeys: {
      if (start - kb2_end_ < Ms(s_.w4_min)) {
        Log(start, "inverted key byte 2 " + Millis(start - kb2_end_) +
                       " after key byte 2, before W4 (" + Millis(Ms(s_.w4_min)) +
                       "): back to sleep");
        phase_ = Phase::Asleep;
        break;
      }
      std::string text = "inverted key byte 2 " + Hex(&b, 1) + " received";
      const std::uint8_t want = Inv(KeyBytes()[1]);
      if (b != want) text += " (expected " + Hex(&want, 1) + ", accepted)";
      Log(end, text);
      const std::uint8_t inv_address = Inv(address_);
      ScheduleFrame({inv_address}, end + Ms(s_.w4), "inverted address");
      StartSession(end, "5-baud");
      swallow_ = inv_address;  // the tester sends the same byte after W4
      swallow_until_ = end + 1'000'000;
      break;
    }
    case Phase::Session:
      if (swallow_ && b == *swallow_ && start <= swallow_until_ && rx_n_ == 0) {
        swallow_.reset();
        return;
      }
      swallow_.reset();
      if (session_9141_ && !o_.breaks_visible && (b & 0x80) != 0 && gap >= Ms(s_.idle_min) &&
          AcceptsFast()) {
        // No ISO 9141 request starts so; after the quiet time of a wake-up
        // that went unseen it is the StartCommunication of a fast init.
        EndSession(start, "a fast init's format byte after the quiet time");
        Accumulate14230(b, start, end);
      } else if (session_9141_) {
        Accumulate9141(b, start, end);
      } else {
        Accumulate14230(b, start, end);
      }
      break;
    default:
      break;  // bytes while the line is low or the address is sent
  }
}

// A byte written at 5 baud (or, Maybe, so shortly around a change of the
// tester's line settings that the speed went unseen): as an ECU samples the
// line at 5 bps while it waits, this is the 5-baud address. Returns false
// when the byte is to be read as usual.
bool Engine::AddressByte(std::uint8_t b, Micros start, Micros gap, AtFiveBaud five) {
  if (phase_ == Phase::FiveBaudByte) return true;  // more of the address's own time on the line
  if (phase_ == Phase::FiveBaudKeys) {
    // The tester has just left 5 baud after its address: only a byte that
    // still comes at 5 baud is noise.
    if (five != AtFiveBaud::Yes) return false;
    if (!o_.faults.silent && !stopped_) {
      Log(start, "byte " + Hex(&b, 1) +
                     " at 5 baud: noise to the ECU, which waits for the inverted key byte 2");
    }
    return true;
  }
  const bool ours = OwnAddress(b);
  // Without any sign of 5 baud only the address itself, alone after the
  // quiet time, says so; Kestrel's own first byte there is ~KB2.
  if (five == AtFiveBaud::Unseen &&
      (!ours || b == Inv(s_.key_bytes[1]) || gap < Ms(s_.idle_min) || !Accepts5Baud())) {
    return false;
  }
  if (five == AtFiveBaud::Maybe && (!ours || gap < Ms(s_.idle_min))) {
    Log(start, "byte " + Hex(&b, 1) +
                   " alone right after the tester changed its line settings: no 5-baud address "
                   "of this ECU's (" +
                   Hex(&s_.ecu_address, 1) + ", functional " + Hex(&s_.functional_address, 1) +
                   " after " + Millis(Ms(s_.idle_min)) + " of quiet), read at " +
                   std::to_string(tester_baud_) + " baud");
    return false;
  }
  if (o_.faults.silent || stopped_) return true;
  const std::string what = "5-baud address " + Hex(&b, 1);
  if (!Accepts5Baud()) {
    Log(start, what + ": this ECU answers only the fast initialisation");
    return true;
  }
  if (gap < Ms(s_.idle_min)) {
    Log(start, what + " after only " + Millis(gap) + " of quiet bus (needs " +
                   Millis(Ms(s_.idle_min)) + "): ignored");
    return true;
  }
  if (!ours) {
    Log(start, what + " is not this ECU's (" + Hex(&s_.ecu_address, 1) + ", functional " +
                   Hex(&s_.functional_address, 1) + "): no answer");
    return true;
  }
  if (!Choose(InitKind::FiveBaud, b, start)) {
    Log(start, what + ": no ECU here answers a 5-baud address there");
    return true;
  }
  if (phase_ == Phase::Session) EndSession(start, "a new 5-baud address");
  address_ = b;
  phase_ = Phase::FiveBaudByte;
  // Still at 5 baud: the address lasts its ten bits unless the tester
  // switches earlier (a pseudo-terminal does not hold it for 2 s).
  address_end_ = NearBaud(tester_baud_, kFiveBaud) ? start + 10 * kBitCell : start;
  rx_n_ = 0;
  pty_armed_ = false;
  const char* how = five == AtFiveBaud::Maybe
                        ? " (the tester changed its line settings around it faster than seen)"
                    : five == AtFiveBaud::Unseen
                        ? " (alone after the quiet time; the tester's line settings are not seen)"
                        : "";
  Log(start, what + " received" + how);
  return true;
}

bool Engine::PtyInitWatch(std::uint8_t b, Micros start, Micros end) {
  if (!pty_armed_) return false;
  pty_armed_ = false;
  if (start - pty_first_end_ > kPtyInitPair) return false;
  const std::uint8_t address = Inv(b);
  if (!OwnAddress(address) || !Choose(InitKind::FiveBaud, address, end)) return false;
  Log(end, "5-baud initialisation recognised by the tester's bytes " + Hex(&pty_first_, 1) + " " +
               Hex(&b, 1));
  StartSession(end, "5-baud");
  return true;
}

void Engine::Accumulate14230(std::uint8_t b, Micros start, Micros end) {
  if (rx_n_ > 0 && start - rx_last_ > Ms(s_.p4_max)) {
    Log(start, "incomplete frame dropped: " + Hex(rx_.data(), rx_n_));
    rx_n_ = 0;
    if (phase_ == Phase::StartComm) {
      phase_ = Phase::Asleep;
      return;
    }
  }
  if (rx_n_ == 0 && (b & 0x80) == 0) return;  // not a format byte with addresses: resynchronise
  rx_[rx_n_++] = b;
  rx_last_ = end;
  const std::uint8_t fmt = rx_[0];
  const std::size_t header = (fmt & 0x3F) ? 3 : 4;
  if (rx_n_ < header) return;
  const std::size_t length = (fmt & 0x3F) ? (fmt & 0x3F) : rx_[3];
  if (length == 0) {
    rx_n_ = 0;
    return;
  }
  if (rx_n_ < header + length + 1) return;
  Handle14230(end);
  rx_n_ = 0;
}

void Engine::Handle14230(Micros end) {
  const std::size_t n = rx_n_;
  const Bytes frame(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(n));
  if (Checksum(frame.data(), n - 1) != frame[n - 1]) {
    Log(end, "RX " + Hex(frame) + "  checksum error, ignored");
    if (phase_ == Phase::StartComm) phase_ = Phase::Asleep;
    return;
  }
  const std::uint8_t target = frame[1];
  const std::uint8_t source = frame[2];
  const std::size_t header = (frame[0] & 0x3F) ? 3 : 4;
  const Bytes payload(frame.begin() + static_cast<std::ptrdiff_t>(header), frame.end() - 1);
  // Where breaks are invisible, a StartCommunication in a session is the
  // fast init of a new one (its wake-up went unseen), perhaps for another car.
  const bool start_comm =
      phase_ != Phase::Session || (!o_.breaks_visible && payload.size() == 1 && payload[0] == 0x81);
  const bool for_us =
      start_comm ? OwnAddress(target) : target == s_.ecu_address || target == s_.functional_address;
  if (!for_us) {
    Log(end, "RX " + Hex(frame) + "  not for this ECU");
    if (phase_ == Phase::StartComm) phase_ = Phase::Asleep;
    return;
  }
  Log(end, "RX " + Hex(frame));
  if (start_comm) {
    if (payload.size() != 1 || payload[0] != 0x81) {
      if (phase_ == Phase::StartComm) {
        Log(end, "expected StartCommunication after the wake-up: back to sleep");
        phase_ = Phase::Asleep;
      }
      return;
    }
    if (!Choose(InitKind::Fast, target, end)) {
      Log(end, "no ECU here answers a fast initialisation at " + Hex(&target, 1));
      if (phase_ == Phase::StartComm) phase_ = Phase::Asleep;
      return;
    }
    StartSession(end, o_.breaks_visible ? "fast init" : "StartCommunication");
    const double p2 = o_.faults.slow_ms > 0 ? o_.faults.slow_ms : s_.p2;
    const std::array<std::uint8_t, 2> keys = KeyBytes();
    Transmit({0xC1, keys[0], keys[1]}, source, end + Ms(p2));
    return;
  }
  Answer(payload, source, end);
}

void Engine::Accumulate9141(std::uint8_t b, Micros start, Micros end) {
  // A frame has no length: it is complete when its last byte is its checksum
  // and no further byte follows before the answer is due.
  if (rx_n_ > 0 && (start - rx_last_ > Ms(s_.p4_max) || start >= rx_closed_at_)) rx_n_ = 0;
  if (rx_n_ == 0 && b != 0x68) return;
  if (rx_n_ == 1 && b != 0x6A) {
    rx_n_ = 0;
    return;
  }
  if (rx_n_ >= kMax9141Request) {
    Log(start,
        "ISO 9141 request longer than " + std::to_string(kMax9141Request) + " bytes dropped");
    rx_n_ = 0;
    return;
  }
  rx_[rx_n_++] = b;
  rx_last_ = end;
  rx_closed_at_ = std::numeric_limits<Micros>::max();
  if (rx_n_ >= 5 && Checksum(rx_.data(), rx_n_ - 1) == rx_[rx_n_ - 1]) {
    const Micros answer_at = end + Ms(o_.faults.slow_ms > 0 ? o_.faults.slow_ms : s_.p2);
    rx_closed_at_ = answer_at;
    const Bytes frame(rx_.begin(), rx_.begin() + static_cast<std::ptrdiff_t>(rx_n_));
    Log(end, "RX " + Hex(frame));
    Answer(Bytes(frame.begin() + 3, frame.end() - 1), frame[2], end);
  }
}

// ---------------------------------------------------------------- answers

bool Engine::Chance(double rate) {
  if (rate <= 0) return false;
  if (rate >= 1) return true;
  return std::uniform_real_distribution<double>(0, 1)(rng_) < rate;
}

Micros Engine::Transmit(const Bytes& payload, std::uint8_t tester, Micros at) {
  const Faults& f = o_.faults;
  Bytes frame = session_9141_ ? Frame9141(s_.ecu_address, payload)
                              : Frame14230(tester, s_.ecu_address, payload);
  const bool bad = Chance(f.crc_rate);
  if (bad) frame.back() = static_cast<std::uint8_t>(frame.back() ^ 0x5A);
  // Noise bytes stay below 0x40, so they never look like a frame header.
  const bool noisy = Chance(f.noise_rate);
  if (noisy) {
    std::uniform_int_distribution<int> count(1, 3), value(0x01, 0x3F);
    Bytes noise(static_cast<std::size_t>(count(rng_)));
    for (auto& n : noise) n = static_cast<std::uint8_t>(value(rng_));
    frame.insert(frame.begin(), noise.begin(), noise.end());
  }
  const char* what = bad && noisy ? "TX (noise, bad checksum)"
                     : bad        ? "TX (bad checksum)"
                     : noisy      ? "TX (after noise)"
                                  : "TX";
  return ScheduleFrame(frame, at, what);
}

void Engine::Answer(const Bytes& payload, std::uint8_t tester, Micros end) {
  if (payload.empty()) return;
  last_request_ = end;
  const Faults& f = o_.faults;
  if (f.stop_after >= 0 && answered_ >= f.stop_after) {
    if (!stopped_) Log(end, "the ECU stops answering (fault stop-after)");
    stopped_ = true;
    return;
  }
  if (f.vanish_after == 0 && !vanish_at_) {
    vanish_at_ = end;
    return;
  }
  std::vector<Bytes> answers = services_->Answer(payload, end);
  if (answers.empty()) return;
  if (Chance(f.negative_rate)) answers = {{0x7F, payload[0], 0x22}};
  Micros at = end + Ms(f.slow_ms > 0 ? f.slow_ms : s_.p2);
  Micros last = at;
  for (const Bytes& a : answers) {
    last = Transmit(a, tester, at);
    at = last + Ms(s_.p2_next);
  }
  if (answers.size() == 1 && answers[0].size() == 1 && answers[0][0] == 0xC2) {
    EndSession(end, "StopCommunication");
  }
  ++answered_;
  if (f.vanish_after > 0 && answered_ >= f.vanish_after && !vanish_at_) vanish_at_ = last;
}

}  // namespace kestrel::ecusim
