#include "ecusim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "ecusim/vehicle.h"

namespace kestrel::ecusim {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

// Thrown inside the parser only; turned into ScenarioResult::error.
struct LineError {
  std::string what;
};

[[noreturn]] void Fail(std::string what) {
  throw LineError{std::move(what)};
}

double Number(std::string_view t, double lo, double hi) {
  double v = 0;
  const auto* end = t.data() + t.size();
  auto [p, ec] = std::from_chars(t.data(), end, v);
  if (ec != std::errc() || p != end || !std::isfinite(v)) {
    Fail("'" + std::string(t) + "' is not a number");
  }
  if (v < lo || v > hi) {
    std::ostringstream os;
    os << "'" << t << "' is outside " << lo << ".." << hi;
    Fail(os.str());
  }
  return v;
}

unsigned HexValue(std::string_view t, std::size_t digits) {
  if (t.size() != digits) {
    Fail("'" + std::string(t) + "' is not " + std::to_string(digits) + " hex digits");
  }
  unsigned v = 0;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v, 16);
  if (ec != std::errc() || p != t.data() + t.size()) {
    Fail("'" + std::string(t) + "' is not " + std::to_string(digits) + " hex digits");
  }
  return v;
}

std::uint8_t HexByte(std::string_view t) {
  return static_cast<std::uint8_t>(HexValue(t, 2));
}

std::uint16_t Code(std::string_view t) {
  auto c = ParseDtc(t);
  if (!c) Fail("'" + std::string(t) + "' is not a trouble code (like P0171)");
  return *c;
}

bool YesNo(std::string_view t) {
  if (t == "yes" || t == "on" || t == "1") return true;
  if (t == "no" || t == "off" || t == "0") return false;
  Fail("'" + std::string(t) + "' is not yes or no");
}

void Args(const std::vector<std::string_view>& tok, std::size_t min, std::size_t max) {
  const std::size_t n = tok.size() - 1;
  if (n < min || n > max) {
    std::string want =
        min == max ? std::to_string(min) : std::to_string(min) + ".." + std::to_string(max);
    Fail("'" + std::string(tok[0]) + "' takes " + want + " value(s), not " + std::to_string(n));
  }
}

void SortUnique(std::vector<std::uint8_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// Text of a line after its keyword (names and identification may hold spaces).
std::string Rest(std::string_view line, std::string_view keyword) {
  line = Trim(line);
  line.remove_prefix(keyword.size());
  return std::string(Trim(line));
}

void Statement(Scenario& s, std::string_view line, const std::vector<std::string_view>& tok,
               bool& inits_given) {
  const std::string_view k = tok[0];
  auto num = [&](std::size_t i, double lo, double hi) { return Number(tok[i], lo, hi); };
  auto ms = [&](double& field) {
    Args(tok, 1, 1);
    field = num(1, 0, 10000);
  };
  auto range = [&](double& lo, double& hi) {
    Args(tok, 2, 2);
    lo = num(1, 0, 10000);
    hi = num(2, 0, 10000);
    if (hi < lo) Fail("the maximum is below the minimum");
  };
  auto list = [&](std::vector<std::uint8_t>& v) {
    Args(tok, 1, 256);
    for (std::size_t i = 1; i < tok.size(); ++i) v.push_back(HexByte(tok[i]));
  };

  if (k == "name") {
    s.name = Rest(line, k);
  } else if (k == "protocol") {
    Args(tok, 1, 1);
    if (tok[1] == "fast") {
      s.protocol = Protocol::Fast14230;
    } else if (tok[1] == "5baud") {
      s.protocol = Protocol::FiveBaud14230;
    } else if (tok[1] == "9141") {
      s.protocol = Protocol::Iso9141;
    } else {
      Fail("protocol '" + std::string(tok[1]) + "' is not fast, 5baud or 9141");
    }
  } else if (k == "inits") {
    Args(tok, 1, 2);
    s.accept_fast = s.accept_5baud = false;
    for (std::size_t i = 1; i < tok.size(); ++i) {
      if (tok[i] == "fast") {
        s.accept_fast = true;
      } else if (tok[i] == "5baud") {
        s.accept_5baud = true;
      } else {
        Fail("initialisation '" + std::string(tok[i]) + "' is not fast or 5baud");
      }
    }
    inits_given = true;
  } else if (k == "ecu") {
    Args(tok, 1, 1);
    s.ecu_address = HexByte(tok[1]);
  } else if (k == "tester") {
    Args(tok, 1, 1);
    s.tester_address = HexByte(tok[1]);
  } else if (k == "functional") {
    Args(tok, 1, 1);
    s.functional_address = HexByte(tok[1]);
  } else if (k == "keybytes") {
    Args(tok, 2, 2);
    s.key_bytes = {HexByte(tok[1]), HexByte(tok[2])};
  } else if (k == "baud") {
    Args(tok, 1, 1);
    s.baud = static_cast<std::uint32_t>(num(1, 1200, 115200));
  } else if (k == "p1") {
    ms(s.p1);
  } else if (k == "p2") {
    ms(s.p2);
  } else if (k == "p2next") {
    ms(s.p2_next);
  } else if (k == "p3max") {
    ms(s.p3_max);
  } else if (k == "p4max") {
    ms(s.p4_max);
  } else if (k == "w1") {
    ms(s.w1);
  } else if (k == "w2") {
    ms(s.w2);
  } else if (k == "w3") {
    ms(s.w3);
  } else if (k == "w4") {
    ms(s.w4);
  } else if (k == "idle_min") {
    ms(s.idle_min);
  } else if (k == "wakeup_low") {
    range(s.wake_low_min, s.wake_low_max);
  } else if (k == "wakeup_total") {
    range(s.wake_total_min, s.wake_total_max);
  } else if (k == "bit_tolerance") {
    Args(tok, 1, 1);
    s.bit_tolerance = num(1, 1, 99);
  } else if (k == "displacement") {
    Args(tok, 1, 1);
    s.displacement = num(1, 50, 20000);
  } else if (k == "cylinders") {
    Args(tok, 1, 1);
    s.cylinders = static_cast<int>(num(1, 1, 16));
  } else if (k == "injector_flow") {
    Args(tok, 1, 1);
    s.injector_flow = num(1, 10, 5000);
  } else if (k == "idle_rpm") {
    Args(tok, 1, 1);
    s.idle_rpm = num(1, 300, 3000);
  } else if (k == "cold_idle_rpm") {
    Args(tok, 1, 1);
    s.cold_idle_rpm = num(1, 300, 4000);
  } else if (k == "coolant") {
    Args(tok, 2, 2);
    s.coolant_start = num(1, -40, 130);
    s.coolant_warm = num(2, -40, 130);
  } else if (k == "fluid") {
    Args(tok, 2, 2);
    s.fluid_start = num(1, -40, 150);
    s.fluid_warm = num(2, -40, 150);
  } else if (k == "warmup") {
    Args(tok, 1, 1);
    s.warmup_seconds = num(1, 1, 100000);
  } else if (k == "ambient") {
    Args(tok, 1, 1);
    s.ambient = num(1, -40, 60);
  } else if (k == "ltft") {
    Args(tok, 1, 1);
    s.ltft = num(1, -50, 50);
  } else if (k == "transmission") {
    Args(tok, 1, 1);
    if (tok[1] == "auto") {
      s.automatic = true;
    } else if (tok[1] == "manual") {
      s.automatic = false;
    } else {
      Fail("transmission '" + std::string(tok[1]) + "' is not auto or manual");
    }
  } else if (k == "od_off") {
    Args(tok, 1, 1);
    s.od_off = YesNo(tok[1]);
  } else if (k == "o2_sensors") {
    Args(tok, 1, 1);
    s.o2_sensors = HexByte(tok[1]);
  } else if (k == "obd_type") {
    Args(tok, 1, 1);
    s.obd_type = static_cast<std::uint8_t>(num(1, 0, 255));
  } else if (k == "segment") {
    Args(tok, 4, 4);
    Segment seg;
    seg.seconds = num(1, 0.1, 100000);
    seg.from = num(2, 0, 255);
    seg.to = num(3, 0, 255);
    if (tok[4].size() != 1 ||
        std::string_view("PRND2L").find(tok[4][0]) == std::string_view::npos) {
      Fail("selector '" + std::string(tok[4]) + "' is not one of P R N D 2 L");
    }
    seg.selector = tok[4][0];
    if ((seg.selector == 'P' || seg.selector == 'N') && (seg.from > 0 || seg.to > 0)) {
      Fail("the car cannot move with the selector in P or N");
    }
    if (s.drive.size() >= 1000) Fail("more than 1000 segments");
    s.drive.push_back(seg);
  } else if (k == "pids") {
    list(s.pids);
  } else if (k == "lids") {
    list(s.lids);
  } else if (k == "freeze_pids") {
    list(s.freeze_pids);
  } else if (k == "data") {
    Args(tok, 3, 2 + kMaxPayload14230 - 3);
    const std::uint8_t service = HexByte(tok[1]);
    std::uint16_t id = 0;
    if (service == 0x22) {
      id = static_cast<std::uint16_t>(HexValue(tok[2], 4));
    } else if (service == 0x01 || service == 0x21) {
      id = HexByte(tok[2]);
      if (id % 0x20 == 0) Fail("identifier " + std::string(tok[2]) + " is a support mask");
      (service == 0x01 ? s.pids : s.lids).push_back(static_cast<std::uint8_t>(id));
    } else {
      Fail("data is given for services 01, 21 and 22, not " + std::string(tok[1]));
    }
    Bytes bytes;
    for (std::size_t i = 3; i < tok.size(); ++i) bytes.push_back(HexByte(tok[i]));
    s.fixed[Scenario::FixedKey(service, id)] = std::move(bytes);
  } else if (k == "stored") {
    Args(tok, 0, 256);
    s.stored_codes.clear();
    for (std::size_t i = 1; i < tok.size(); ++i) s.stored_codes.push_back(Code(tok[i]));
  } else if (k == "current") {
    Args(tok, 0, 256);
    s.current_codes.clear();
    for (std::size_t i = 1; i < tok.size(); ++i) s.current_codes.push_back(Code(tok[i]));
  } else if (k == "freeze") {
    Args(tok, 2, 2);
    if (s.freeze_frames.size() >= 16) Fail("more than 16 freeze frames");
    s.freeze_frames.push_back({Code(tok[1]), num(2, 0, 1e7)});
  } else if (k == "mil") {
    Args(tok, 1, 1);
    if (tok[1] == "auto") {
      s.mil = Scenario::Mil::Auto;
    } else {
      s.mil = YesNo(tok[1]) ? Scenario::Mil::On : Scenario::Mil::Off;
    }
  } else if (k == "vin") {
    s.vin = Rest(line, k);
    if (s.vin.size() != 17) Fail("a VIN has 17 characters");
  } else if (k == "calid") {
    s.calibration_id = Rest(line, k);
    if (s.calibration_id.empty() || s.calibration_id.size() > 16) {
      Fail("a calibration identifier has 1..16 characters");
    }
  } else if (k == "cvn") {
    Args(tok, 1, 1);
    s.cvn = static_cast<std::uint32_t>(HexValue(tok[1], 8));
  } else if (k == "ident") {
    s.ident = Rest(line, k);
    if (s.ident.empty() || s.ident.size() > 16) Fail("an identification has 1..16 characters");
  } else if (k == "actuator") {
    Args(tok, 2, 4);
    const std::uint8_t lid = HexByte(tok[1]);
    Actuator a;
    const std::string_view kind = tok[2];
    if (kind == "ack") {
      a.kind = ActuatorKind::Ack;
    } else if (kind == "idle") {
      a.kind = ActuatorKind::Idle;
    } else if (kind == "timing") {
      a.kind = ActuatorKind::Timing;
    } else if (kind == "injection") {
      a.kind = ActuatorKind::Injection;
    } else if (kind == "switch") {
      a.kind = ActuatorKind::Switch;
      if (tok.size() != 5) Fail("a switch names the LID and the byte that show it");
      a.target_lid = HexByte(tok[3]);
      a.target_byte = static_cast<std::uint8_t>(num(4, 0, 7));
    } else {
      Fail("actuator kind '" + std::string(kind) +
           "' is not ack, idle, timing, injection or switch");
    }
    if (a.kind != ActuatorKind::Switch && tok.size() > 3) Fail("only a switch takes a target");
    if (lid % 0x20 == 0) Fail("LID " + std::string(tok[1]) + " is a support mask");
    s.actuators[lid] = a;
  } else {
    Fail("unknown statement '" + std::string(k) + "'");
  }
}

// Checks that need the whole file.
void Finish(Scenario& s, bool inits_given) {
  if (!inits_given) {
    s.accept_fast = s.protocol != Protocol::Iso9141;
    s.accept_5baud = true;
  }
  if (s.protocol == Protocol::Fast14230 && !s.accept_fast) {
    Fail("a fast-init ECU must accept the fast initialisation");
  }
  if (s.protocol != Protocol::Fast14230 && !s.accept_5baud) {
    Fail("this ECU must accept the 5-baud initialisation");
  }
  if (s.protocol == Protocol::Iso9141 && s.accept_fast) {
    Fail("an ISO 9141 ECU has no fast initialisation");
  }
  // The identification text is what LID D3 answers (at least five characters).
  if (!s.ident.empty()) {
    Bytes id(s.ident.begin(), s.ident.end());
    if (id.size() < 5) id.resize(5, ' ');
    s.fixed.emplace(Scenario::FixedKey(0x21, 0xD3), std::move(id));
    s.lids.push_back(0xD3);
  }
  // Support masks are computed, never listed.
  auto drop_masks = [](std::vector<std::uint8_t>& v) {
    v.erase(std::remove_if(v.begin(), v.end(), [](std::uint8_t id) { return id % 0x20 == 0; }),
            v.end());
  };
  drop_masks(s.pids);
  drop_masks(s.lids);
  drop_masks(s.freeze_pids);
  SortUnique(s.pids);
  SortUnique(s.lids);
  SortUnique(s.freeze_pids);
  for (std::uint8_t p : s.pids) {
    if (!s.fixed.count(Scenario::FixedKey(0x01, p)) && !ModelKnows(0x01, p)) {
      Fail("PID " + Hex(&p, 1) + " has no computed value; give its bytes with 'data 01 " +
           Hex(&p, 1) + " ...'");
    }
  }
  for (std::uint8_t l : s.lids) {
    if (!s.fixed.count(Scenario::FixedKey(0x21, l)) && !ModelKnows(0x21, l)) {
      Fail("LID " + Hex(&l, 1) + " has no computed value; give its bytes with 'data 21 " +
           Hex(&l, 1) + " ...'");
    }
  }
  for (std::uint8_t p : s.freeze_pids) {
    if (p != 0x02 && !ModelKnows(0x01, p)) {
      Fail("freeze-frame PID " + Hex(&p, 1) + " has no computed value");
    }
  }
  for (const auto& [lid, a] : s.actuators) {
    if (a.kind == ActuatorKind::Switch &&
        std::find(s.lids.begin(), s.lids.end(), a.target_lid) == s.lids.end()) {
      Fail("actuator " + Hex(&lid, 1) + " shows its state in LID " + Hex(&a.target_lid, 1) +
           ", which the ECU does not answer");
    }
  }
  if (s.coolant_warm < s.coolant_start) Fail("the warm coolant temperature is below the start");
}

}  // namespace

ScenarioResult ParseScenario(std::string_view text, std::string_view source) {
  ScenarioResult r;
  Scenario s;
  s.source = std::string(source);
  bool inits_given = false;
  std::size_t line_no = 0;
  std::size_t pos = 0;
  try {
    while (pos <= text.size()) {
      std::size_t eol = text.find('\n', pos);
      if (eol == std::string_view::npos) eol = text.size();
      std::string_view line = text.substr(pos, eol - pos);
      pos = eol + 1;
      ++line_no;
      if (const auto hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
      }
      line = Trim(line);
      if (line.empty()) continue;
      const auto tok = Split(line);
      Statement(s, line, tok, inits_given);
    }
    line_no = 0;
    Finish(s, inits_given);
  } catch (const LineError& e) {
    r.error = std::string(source) + (line_no ? ":" + std::to_string(line_no) : "") + ": " + e.what;
    return r;
  }
  r.scenario = std::move(s);
  return r;
}

ScenarioResult LoadScenario(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int err = errno;
    std::string name = path;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".scn") == 0) {
      name.resize(name.size() - 4);
    }
    if (name.find('/') == std::string::npos) {
      for (const auto& b : BuiltinScenarios()) {
        if (name == b.name) return ParseScenario(b.text, "built-in " + name);
      }
    }
    ScenarioResult r;
    r.error = path + ": cannot open (" + std::strerror(err) + ")";
    return r;
  }
  std::ostringstream os;
  os << in.rdbuf();
  const std::string text = os.str();
  if (text.size() > 4 * 1024 * 1024) {
    ScenarioResult r;
    r.error = path + ": larger than 4 MiB, not a scenario";
    return r;
  }
  return ParseScenario(text, path);
}

Scenario DefaultScenario() {
  for (const auto& b : BuiltinScenarios()) {
    if (std::string_view(b.name) == kDefaultScenario) {
      auto r = ParseScenario(b.text, std::string("built-in ") + b.name);
      if (r.scenario) return *r.scenario;
    }
  }
  return Scenario{};  // not reached: the built-in scenarios are tested
}

}  // namespace kestrel::ecusim
