#include "ecusim/scenario.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <type_traits>

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

void SortUnique(std::vector<std::uint8_t>& v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
}

// One statement line as its handler sees it.
struct Statement {
  Scenario& s;
  std::string_view line;                     // without its comment
  const std::vector<std::string_view>& tok;  // tok[0] is the keyword
  bool& inits_given;

  double Num(std::size_t i, double lo, double hi) const { return Number(tok[i], lo, hi); }
  // Text after the keyword (names and identification may hold spaces).
  std::string Rest() const {
    std::string_view rest = Trim(line);
    rest.remove_prefix(tok[0].size());
    return std::string(Trim(rest));
  }
};

// Handlers for the common shapes of statement, one field each.
template <auto Field, long Lo, long Hi>
void NumberField(const Statement& st) {
  auto& f = st.s.*Field;
  f = static_cast<std::remove_reference_t<decltype(f)>>(st.Num(1, Lo, Hi));
}

template <double Scenario::*Field>
void Millis(const Statement& st) {
  st.s.*Field = st.Num(1, 0, 10000);
}

template <double Scenario::*Lo, double Scenario::*Hi>
void MillisRange(const Statement& st) {
  st.s.*Lo = st.Num(1, 0, 10000);
  st.s.*Hi = st.Num(2, 0, 10000);
  if (st.s.*Hi < st.s.*Lo) Fail("the maximum is below the minimum");
}

template <std::uint8_t Scenario::*Field>
void HexField(const Statement& st) {
  st.s.*Field = HexByte(st.tok[1]);
}

template <std::vector<std::uint8_t> Scenario::*Field>
void HexList(const Statement& st) {
  for (std::size_t i = 1; i < st.tok.size(); ++i) (st.s.*Field).push_back(HexByte(st.tok[i]));
}

template <std::vector<std::uint16_t> Scenario::*Field>
void CodeList(const Statement& st) {
  auto& codes = st.s.*Field;
  codes.clear();
  for (std::size_t i = 1; i < st.tok.size(); ++i) codes.push_back(Code(st.tok[i]));
}

void ProtocolLine(const Statement& st) {
  const std::string_view v = st.tok[1];
  if (v == "fast") {
    st.s.protocol = Protocol::Fast14230;
  } else if (v == "5baud") {
    st.s.protocol = Protocol::FiveBaud14230;
  } else if (v == "9141") {
    st.s.protocol = Protocol::Iso9141;
  } else {
    Fail("protocol '" + std::string(v) + "' is not fast, 5baud or 9141");
  }
}

void InitsLine(const Statement& st) {
  st.s.accept_fast = st.s.accept_5baud = false;
  for (std::size_t i = 1; i < st.tok.size(); ++i) {
    if (st.tok[i] == "fast") {
      st.s.accept_fast = true;
    } else if (st.tok[i] == "5baud") {
      st.s.accept_5baud = true;
    } else {
      Fail("initialisation '" + std::string(st.tok[i]) + "' is not fast or 5baud");
    }
  }
  st.inits_given = true;
}

void TransmissionLine(const Statement& st) {
  if (st.tok[1] == "auto") {
    st.s.automatic = true;
  } else if (st.tok[1] == "manual") {
    st.s.automatic = false;
  } else {
    Fail("transmission '" + std::string(st.tok[1]) + "' is not auto or manual");
  }
}

void SegmentLine(const Statement& st) {
  Segment seg;
  seg.seconds = st.Num(1, 0.1, 100000);
  seg.from = st.Num(2, 0, 255);
  seg.to = st.Num(3, 0, 255);
  const std::string_view selector = st.tok[4];
  if (selector.size() != 1 ||
      std::string_view("PRND2L").find(selector[0]) == std::string_view::npos) {
    Fail("selector '" + std::string(selector) + "' is not one of P R N D 2 L");
  }
  seg.selector = selector[0];
  if ((seg.selector == 'P' || seg.selector == 'N') && (seg.from > 0 || seg.to > 0)) {
    Fail("the car cannot move with the selector in P or N");
  }
  if (st.s.drive.size() >= 1000) Fail("more than 1000 segments");
  st.s.drive.push_back(seg);
}

void DataLine(const Statement& st) {
  Scenario& s = st.s;
  const std::uint8_t service = HexByte(st.tok[1]);
  std::uint16_t id = 0;
  if (service == 0x22) {
    id = static_cast<std::uint16_t>(HexValue(st.tok[2], 4));
  } else if (service == 0x01 || service == 0x21) {
    id = HexByte(st.tok[2]);
    if (id % 0x20 == 0) Fail("identifier " + std::string(st.tok[2]) + " is a support mask");
    (service == 0x01 ? s.pids : s.lids).push_back(static_cast<std::uint8_t>(id));
  } else {
    Fail("data is given for services 01, 21 and 22, not " + std::string(st.tok[1]));
  }
  Bytes bytes;
  for (std::size_t i = 3; i < st.tok.size(); ++i) bytes.push_back(HexByte(st.tok[i]));
  s.fixed[Scenario::FixedKey(service, id)] = std::move(bytes);
}

void FreezeLine(const Statement& st) {
  if (st.s.freeze_frames.size() >= 16) Fail("more than 16 freeze frames");
  st.s.freeze_frames.push_back({Code(st.tok[1]), st.Num(2, 0, 1e7)});
}

void MilLine(const Statement& st) {
  if (st.tok[1] == "auto") {
    st.s.mil = Scenario::Mil::Auto;
  } else {
    st.s.mil = YesNo(st.tok[1]) ? Scenario::Mil::On : Scenario::Mil::Off;
  }
}

void ActuatorLine(const Statement& st) {
  const std::uint8_t lid = HexByte(st.tok[1]);
  Actuator a;
  const std::string_view kind = st.tok[2];
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
    if (st.tok.size() != 5) Fail("a switch names the LID and the byte that show it");
    a.target_lid = HexByte(st.tok[3]);
    a.target_byte = static_cast<std::uint8_t>(st.Num(4, 0, 7));
  } else {
    Fail("actuator kind '" + std::string(kind) + "' is not ack, idle, timing, injection or switch");
  }
  if (a.kind != ActuatorKind::Switch && st.tok.size() > 3) Fail("only a switch takes a target");
  if (lid % 0x20 == 0) Fail("LID " + std::string(st.tok[1]) + " is a support mask");
  st.s.actuators[lid] = a;
}

// A statement's keyword, how many values it takes, and what it does with
// them. Statements whose text runs to the end of the line take any count.
struct Keyword {
  std::string_view name;
  std::size_t min, max;
  void (*handle)(const Statement&);
};

constexpr std::size_t kText = std::numeric_limits<std::size_t>::max();
using S = Scenario;

constexpr Keyword kKeywords[] = {
    {"name", 0, kText, [](const Statement& st) { st.s.name = st.Rest(); }},
    {"protocol", 1, 1, ProtocolLine},
    {"inits", 1, 2, InitsLine},
    {"ecu", 1, 1, HexField<&S::ecu_address>},
    {"tester", 1, 1, HexField<&S::tester_address>},
    {"functional", 1, 1, HexField<&S::functional_address>},
    {"keybytes", 2, 2,
     [](const Statement& st) {
       st.s.key_bytes = {HexByte(st.tok[1]), HexByte(st.tok[2])};
     }},
    {"baud", 1, 1, NumberField<&S::baud, 1200, 115200>},
    {"p1", 1, 1, Millis<&S::p1>},
    {"p2", 1, 1, Millis<&S::p2>},
    {"p2next", 1, 1, Millis<&S::p2_next>},
    {"p3max", 1, 1, Millis<&S::p3_max>},
    {"p4max", 1, 1, Millis<&S::p4_max>},
    {"w1", 1, 1, Millis<&S::w1>},
    {"w2", 1, 1, Millis<&S::w2>},
    {"w3", 1, 1, Millis<&S::w3>},
    {"w4", 1, 1, Millis<&S::w4>},
    {"idle_min", 1, 1, Millis<&S::idle_min>},
    {"wakeup_low", 2, 2, MillisRange<&S::wake_low_min, &S::wake_low_max>},
    {"wakeup_total", 2, 2, MillisRange<&S::wake_total_min, &S::wake_total_max>},
    {"bit_tolerance", 1, 1, NumberField<&S::bit_tolerance, 1, 99>},
    {"w4_limits", 2, 2, MillisRange<&S::w4_min, &S::w4_max>},
    {"displacement", 1, 1, NumberField<&S::displacement, 50, 20000>},
    {"cylinders", 1, 1, NumberField<&S::cylinders, 1, 16>},
    {"injector_flow", 1, 1, NumberField<&S::injector_flow, 10, 5000>},
    {"idle_rpm", 1, 1, NumberField<&S::idle_rpm, 300, 3000>},
    {"cold_idle_rpm", 1, 1, NumberField<&S::cold_idle_rpm, 300, 4000>},
    {"coolant", 2, 2,
     [](const Statement& st) {
       st.s.coolant_start = st.Num(1, -40, 130);
       st.s.coolant_warm = st.Num(2, -40, 130);
     }},
    {"fluid", 2, 2,
     [](const Statement& st) {
       st.s.fluid_start = st.Num(1, -40, 150);
       st.s.fluid_warm = st.Num(2, -40, 150);
     }},
    {"warmup", 1, 1, NumberField<&S::warmup_seconds, 1, 100000>},
    {"ambient", 1, 1, NumberField<&S::ambient, -40, 60>},
    {"ltft", 1, 1, NumberField<&S::ltft, -50, 50>},
    {"transmission", 1, 1, TransmissionLine},
    {"od_off", 1, 1, [](const Statement& st) { st.s.od_off = YesNo(st.tok[1]); }},
    {"o2_sensors", 1, 1, HexField<&S::o2_sensors>},
    {"obd_type", 1, 1, NumberField<&S::obd_type, 0, 255>},
    {"segment", 4, 4, SegmentLine},
    {"pids", 1, 256, HexList<&S::pids>},
    {"lids", 1, 256, HexList<&S::lids>},
    {"freeze_pids", 1, 256, HexList<&S::freeze_pids>},
    {"data", 3, 2 + kMaxPayload14230 - 3, DataLine},
    {"stored", 0, 256, CodeList<&S::stored_codes>},
    {"current", 0, 256, CodeList<&S::current_codes>},
    {"freeze", 2, 2, FreezeLine},
    {"mil", 1, 1, MilLine},
    {"vin", 0, kText,
     [](const Statement& st) {
       st.s.vin = st.Rest();
       if (st.s.vin.size() != 17) Fail("a VIN has 17 characters");
     }},
    {"calid", 0, kText,
     [](const Statement& st) {
       st.s.calibration_id = st.Rest();
       if (st.s.calibration_id.empty() || st.s.calibration_id.size() > 16) {
         Fail("a calibration identifier has 1..16 characters");
       }
     }},
    {"cvn", 1, 1,
     [](const Statement& st) { st.s.cvn = static_cast<std::uint32_t>(HexValue(st.tok[1], 8)); }},
    {"ident", 0, kText,
     [](const Statement& st) {
       st.s.ident = st.Rest();
       if (st.s.ident.empty() || st.s.ident.size() > 16) {
         Fail("an identification has 1..16 characters");
       }
     }},
    {"actuator", 2, 4, ActuatorLine},
};

void Run(const Statement& st) {
  const std::string_view k = st.tok[0];
  const auto* kw = std::find_if(std::begin(kKeywords), std::end(kKeywords),
                                [&](const Keyword& w) { return w.name == k; });
  if (kw == std::end(kKeywords)) Fail("unknown statement '" + std::string(k) + "'");
  const std::size_t n = st.tok.size() - 1;
  if (n < kw->min || n > kw->max) {
    const std::string want = kw->min == kw->max
                                 ? std::to_string(kw->min)
                                 : std::to_string(kw->min) + ".." + std::to_string(kw->max);
    Fail("'" + std::string(k) + "' takes " + want + " value(s), not " + std::to_string(n));
  }
  kw->handle(st);
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
      Run({s, line, tok, inits_given});
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

std::vector<Scenario> BuiltinScenarioList() {
  std::vector<Scenario> list;
  for (const auto& b : BuiltinScenarios()) {
    auto r = ParseScenario(b.text, std::string("built-in ") + b.name);
    if (r.scenario) list.push_back(std::move(*r.scenario));
  }
  return list;
}

bool AnswersInit(const Scenario& s, InitKind kind, std::uint8_t address) {
  const bool init = kind == InitKind::Fast ? s.accept_fast : s.accept_5baud;
  return init && (address == s.ecu_address || address == s.functional_address);
}

std::optional<std::size_t> ChooseScenario(const std::vector<Scenario>& choices, InitKind kind,
                                          std::uint8_t address) {
  auto made_for = [&](const Scenario& s) {
    if (kind == InitKind::Fast) {
      return s.protocol == Protocol::Fast14230 &&
             (address == s.ecu_address || address == s.functional_address);
    }
    return (s.protocol == Protocol::FiveBaud14230 && address == s.ecu_address) ||
           (s.protocol == Protocol::Iso9141 && address == s.functional_address);
  };
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (made_for(choices[i]) && AnswersInit(choices[i], kind, address)) return i;
  }
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (AnswersInit(choices[i], kind, address)) return i;
  }
  return std::nullopt;
}

}  // namespace kestrel::ecusim
