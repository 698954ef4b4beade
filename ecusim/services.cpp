#include "ecusim/services.h"

#include <algorithm>

namespace kestrel::ecusim {

namespace {

// Support mask for identifiers base+1 .. base+32: bit 7 of the first byte is
// base+1. The bit of base+0x20 says that the next mask answers.
Bytes Mask(const std::vector<std::uint16_t>& ids, std::uint8_t base) {
  Bytes m(4, 0);
  for (std::uint16_t id : ids) {
    const int rel = static_cast<int>(id) - base - 1;
    if (rel >= 0 && rel < 31)
      m[static_cast<std::size_t>(rel / 8)] |= static_cast<std::uint8_t>(0x80 >> (rel % 8));
  }
  const bool more =
      std::any_of(ids.begin(), ids.end(), [&](std::uint16_t id) { return id > base + 0x20; }) ||
      std::find(ids.begin(), ids.end(), base + 0x20) != ids.end();
  if (more && base < 0xE0) m[3] |= 0x01;
  return m;
}

// A mask request (identifier a multiple of 0x20) is answered when it is the
// first mask or some identifier lies above it.
bool MaskAnswered(const std::vector<std::uint16_t>& ids, std::uint8_t id) {
  return id == 0 || std::any_of(ids.begin(), ids.end(), [&](std::uint16_t x) { return x > id; });
}

}  // namespace

EcuServices::EcuServices(const Scenario& scenario, std::shared_ptr<const Replay> replay,
                         Micros start)
    : s_(scenario),
      replay_(std::move(replay)),
      start_(start),
      stored_(s_.stored_codes),
      current_(s_.current_codes),
      freeze_(s_.freeze_frames) {}

VehicleState EcuServices::StateAt(Micros t) const {
  VehicleState v = Simulate(s_, static_cast<double>(t - start_) / 1e6, forced_);
  v.code_count = static_cast<int>(stored_.size());
  v.mil = s_.mil == Scenario::Mil::On || (s_.mil == Scenario::Mil::Auto && !stored_.empty());
  v.distance_mil = v.mil ? v.distance : 0;
  return v;
}

std::optional<Bytes> EcuServices::Data(std::uint8_t service, std::uint16_t id,
                                       const VehicleState& v) const {
  if (replay_) {
    if (auto b = replay_->At(service, id, v.t)) return b;
  }
  if (auto it = s_.fixed.find(Scenario::FixedKey(service, id)); it != s_.fixed.end()) {
    return it->second;
  }
  if (id > 0xFF) return std::nullopt;
  return Encode(service, static_cast<std::uint8_t>(id), s_, v);
}

std::vector<std::uint16_t> EcuServices::Ids(std::uint8_t service) const {
  std::vector<std::uint16_t> ids;
  if (service == 0x01) ids.assign(s_.pids.begin(), s_.pids.end());
  if (service == 0x21) ids.assign(s_.lids.begin(), s_.lids.end());
  if (service == 0x22) {
    for (const auto& [key, bytes] : s_.fixed) {
      if ((key >> 16) == 0x22) ids.push_back(static_cast<std::uint16_t>(key & 0xFFFF));
    }
  }
  if (replay_) {
    for (std::uint16_t id : replay_->Ids(service)) {
      if (service == 0x22 || id % 0x20 != 0) ids.push_back(id);
    }
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

bool EcuServices::Supported(std::uint8_t service, std::uint16_t id) const {
  const auto ids = Ids(service);
  return std::binary_search(ids.begin(), ids.end(), id);
}

std::vector<Bytes> EcuServices::DtcFrames(std::uint8_t sid,
                                          const std::vector<std::uint16_t>& codes) const {
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i == 0 || i < codes.size(); i += 3) {
    Bytes f{sid};
    for (std::size_t j = i; j < i + 3; ++j) {
      const std::uint16_t c = j < codes.size() ? codes[j] : 0;
      f.push_back(static_cast<std::uint8_t>(c >> 8));
      f.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

// Service 18: every code with its status byte, 0x20 stored, 0x40 present now.
std::vector<Bytes> EcuServices::DtcStatus() const {
  std::vector<std::uint16_t> all = stored_;
  for (std::uint16_t c : current_) {
    if (std::find(all.begin(), all.end(), c) == all.end()) all.push_back(c);
  }
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i == 0 || i < all.size(); i += 20) {
    const std::size_t n = std::min<std::size_t>(20, all.size() - std::min(i, all.size()));
    Bytes f{0x58, static_cast<std::uint8_t>(n)};
    for (std::size_t j = i; j < i + n; ++j) {
      const bool now = std::find(current_.begin(), current_.end(), all[j]) != current_.end();
      const bool kept = std::find(stored_.begin(), stored_.end(), all[j]) != stored_.end();
      f.push_back(static_cast<std::uint8_t>(all[j] >> 8));
      f.push_back(static_cast<std::uint8_t>(all[j] & 0xFF));
      f.push_back(static_cast<std::uint8_t>((kept ? 0x20 : 0) | (now ? 0x40 : 0)));
    }
    frames.push_back(std::move(f));
  }
  return frames;
}

void EcuServices::ClearCodes() {
  stored_.clear();
  current_.clear();
  freeze_.clear();
}

// Service 02: PID, frame number; the frame holds the drive's values at the
// time the scenario gives it.
std::vector<Bytes> EcuServices::Freeze(const Bytes& p, const VehicleState& v) const {
  if (p.size() < 2) return {{0x7F, 0x02, 0x12}};
  const std::uint8_t pid = p[1];
  const std::uint8_t frame = p.size() >= 3 ? p[2] : 0;
  std::vector<std::uint16_t> ids(s_.freeze_pids.begin(), s_.freeze_pids.end());
  if (pid % 0x20 == 0) {
    if (!MaskAnswered(ids, pid)) return {{0x7F, 0x02, 0x12}};
    Bytes r{0x42, pid, frame};
    const Bytes m = Mask(ids, pid);
    r.insert(r.end(), m.begin(), m.end());
    return {r};
  }
  if (pid == 0x02) {
    const std::uint16_t code = frame < freeze_.size() ? freeze_[frame].code : 0;
    return {{0x42, 0x02, frame, static_cast<std::uint8_t>(code >> 8),
             static_cast<std::uint8_t>(code & 0xFF)}};
  }
  if (frame >= freeze_.size() || !std::binary_search(ids.begin(), ids.end(), pid)) {
    return {{0x7F, 0x02, 0x12}};
  }
  VehicleState snap = Simulate(s_, freeze_[frame].at_seconds, {});
  snap.code_count = static_cast<int>(stored_.size());
  snap.mil = v.mil;
  auto data = Encode(0x01, pid, s_, snap);
  if (!data) return {{0x7F, 0x02, 0x12}};
  Bytes r{0x42, pid, frame};
  r.insert(r.end(), data->begin(), data->end());
  return {r};
}

std::vector<Bytes> EcuServices::Info(const Bytes& p) const {
  if (p.size() < 2) return {{0x7F, 0x09, 0x12}};
  const std::uint8_t type = p[1];
  const int only = p.size() >= 3 ? p[2] : 0;
  Bytes calid(s_.calibration_id.begin(), s_.calibration_id.end());
  if (!calid.empty()) calid.resize((calid.size() + 3) / 4 * 4, 0);
  auto messages = [&](const Bytes& data, std::size_t count) {
    std::vector<Bytes> r;
    for (std::size_t m = 1; m <= count; ++m) {
      if (only && static_cast<std::size_t>(only) != m) continue;
      Bytes f{0x49, type, static_cast<std::uint8_t>(m)};
      f.insert(f.end(), data.begin() + static_cast<std::ptrdiff_t>((m - 1) * 4),
               data.begin() + static_cast<std::ptrdiff_t>(m * 4));
      r.push_back(std::move(f));
    }
    if (r.empty()) r.push_back({0x7F, 0x09, 0x12});
    return r;
  };
  const bool vin = !s_.vin.empty(), cal = !calid.empty(), cvn = s_.cvn.has_value();
  switch (type) {
    case 0x00: {
      std::uint8_t m0 = 0;
      if (vin) m0 |= 0xC0;  // types 01, 02
      if (cal) m0 |= 0x30;  // 03, 04
      if (cvn) m0 |= 0x0C;  // 05, 06
      return {{0x49, 0x00, 0x01, m0, 0x00, 0x00, 0x00}};
    }
    case 0x01:
      if (vin) return {{0x49, 0x01, 0x05}};
      break;
    case 0x02:
      if (vin) {
        Bytes data{0, 0, 0};  // message 1 carries three fill bytes and the first character
        data.insert(data.end(), s_.vin.begin(), s_.vin.end());
        return messages(data, 5);
      }
      break;
    case 0x03:
      if (cal) return {{0x49, 0x03, static_cast<std::uint8_t>(calid.size() / 4)}};
      break;
    case 0x04:
      if (cal) return messages(calid, calid.size() / 4);
      break;
    case 0x05:
      if (cvn) return {{0x49, 0x05, 0x01}};
      break;
    case 0x06:
      if (cvn) {
        const std::uint32_t c = *s_.cvn;
        return {{0x49, 0x06, 0x01, static_cast<std::uint8_t>(c >> 24),
                 static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8),
                 static_cast<std::uint8_t>(c)}};
      }
      break;
    default:
      break;
  }
  return {{0x7F, 0x09, 0x12}};
}

Bytes EcuServices::Control(const Bytes& p) {
  if (p.size() < 2) return {0x7F, 0x30, 0x12};
  const std::uint8_t lid = p[1];
  Bytes ack{0x70, lid};
  ack.insert(ack.end(), p.begin() + 2, p.end());
  if (lid % 0x20 == 0) {
    std::vector<std::uint16_t> ids;
    for (const auto& [l, a] : s_.actuators) ids.push_back(l);
    Bytes r{0x70, lid};
    const Bytes m = Mask(ids, lid);
    r.insert(r.end(), m.begin(), m.end());
    return r;
  }
  const auto it = s_.actuators.find(lid);
  if (it == s_.actuators.end()) return {0x7F, 0x30, 0x12};
  const Actuator& a = it->second;
  const std::size_t need = a.kind == ActuatorKind::Ack ? 0
                           : (a.kind == ActuatorKind::Idle || a.kind == ActuatorKind::Injection)
                               ? 1
                               : 2;
  if (p.size() < 2 + need) return {0x7F, 0x30, 0x12};
  switch (a.kind) {
    case ActuatorKind::Ack:
      break;
    case ActuatorKind::Idle:
      forced_.idle_delta_rpm = (static_cast<int>(p[2]) - 100) * 10.0;
      break;
    case ActuatorKind::Injection:
      forced_.injection_pct = p[2] / 5.12 - 25;
      break;
    case ActuatorKind::Timing:
      if (p[2] == 0xFF) {
        forced_.timing_deg = p[3] / 5.12 - 25;
      } else {
        forced_.timing_deg.reset();  // any other first byte hands the timing back to the ECU
      }
      break;
    case ActuatorKind::Switch: {
      auto& [mask, state] =
          forced_.switches[static_cast<std::uint16_t>(a.target_lid << 8 | a.target_byte)];
      mask = static_cast<std::uint8_t>(mask | p[2]);
      state = static_cast<std::uint8_t>((state & ~p[2]) | (p[3] & p[2]));
      break;
    }
  }
  return ack;
}

std::vector<Bytes> EcuServices::Answer(const Bytes& p, Micros t) {
  if (p.empty()) return {};
  const std::uint8_t sid = p[0];
  const VehicleState v = StateAt(t);
  // Services 01 and 21: a mask, or one identifier's data bytes.
  auto lookup = [&](std::uint8_t service, std::uint8_t reply, std::uint8_t nrc) -> Bytes {
    if (p.size() < 2) return {0x7F, service, 0x12};
    const std::uint8_t id = p[1];
    const auto ids = Ids(service);
    if (id % 0x20 == 0) {
      if (!MaskAnswered(ids, id)) return {0x7F, service, nrc};
      Bytes r{reply, id};
      const Bytes m = Mask(ids, id);
      r.insert(r.end(), m.begin(), m.end());
      return r;
    }
    if (!std::binary_search(ids.begin(), ids.end(), id)) return {0x7F, service, nrc};
    auto data = Data(service, id, v);
    if (!data) return {0x7F, service, nrc};
    Bytes r{reply, id};
    r.insert(r.end(), data->begin(), data->end());
    return r;
  };

  switch (sid) {
    case 0x81:
      return {{0xC1, s_.key_bytes[0], s_.key_bytes[1]}};
    case 0x82:
      return {{0xC2}};
    case 0x01:
      return {lookup(0x01, 0x41, 0x12)};
    case 0x21:
      return {lookup(0x21, 0x61, 0x12)};
    case 0x02:
      return Freeze(p, v);
    case 0x03:
      return DtcFrames(0x43, stored_);
    case 0x07:
      return DtcFrames(0x47, current_);
    case 0x13:
      return DtcFrames(0x53, stored_);
    case 0x18:
      return DtcStatus();
    case 0x04:
      ClearCodes();
      return {{0x44}};
    case 0x14: {
      ClearCodes();
      Bytes r{0x54};
      r.insert(r.end(), p.begin() + 1,
               p.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(p.size(), 3)));
      return {r};
    }
    case 0x09:
      return Info(p);
    case 0x10: {
      const std::uint8_t sub = p.size() >= 2 ? p[1] : 0;
      const bool enter = sub == 0x01;
      if (test_mode_ && !enter) forced_ = {};  // leaving the test mode ends every actuator test
      test_mode_ = enter;
      return {{0x50, sub}};
    }
    case 0x11: {
      forced_ = {};
      test_mode_ = false;
      Bytes r{0x51};
      if (p.size() >= 2) r.push_back(p[1]);
      return {r};
    }
    case 0x22: {
      if (p.size() < 3) return {{0x7F, 0x22, 0x12}};
      const std::uint16_t id = static_cast<std::uint16_t>(p[1] << 8 | p[2]);
      if (!Supported(0x22, id)) return {{0x7F, 0x22, 0x31}};
      auto data = Data(0x22, id, v);
      if (!data) return {{0x7F, 0x22, 0x31}};
      Bytes r{0x62, p[1], p[2]};
      r.insert(r.end(), data->begin(), data->end());
      return {r};
    }
    case 0x30:
      return {Control(p)};
    case 0x3E:
      return {{0x7E}};
    default:
      return {{0x7F, sid, 0x11}};
  }
}

}  // namespace kestrel::ecusim
