// The simulated ECU's description: addresses, protocol, timing, the
// identifiers it supports, trouble codes, freeze frames, identification and
// the drive that makes its values move. Read from a plain text file, one
// statement a line (see scenarios/camry_2az_fast.scn for every statement).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ecusim/kline.h"

namespace kestrel::ecusim {

enum class Protocol : std::uint8_t { Fast14230, FiveBaud14230, Iso9141 };

// One piece of the drive: the road speed goes linearly from `from` to `to`
// (km/h) over `seconds` with the selector in the given position.
struct Segment {
  double seconds = 0;
  double from = 0;
  double to = 0;
  char selector = 'P';  // P R N D 2 L
};

// What a service 30 request does to the simulated engine.
enum class ActuatorKind : std::uint8_t {
  Ack,        // acknowledged, no effect
  Idle,       // idle speed target: first control byte - 100, 10 rpm a unit
  Timing,     // ignition timing forced: second control byte = (deg + 25) * 5.12
  Injection,  // injection volume: first control byte = (percent + 25) * 5.12
  Switch,     // on/off: the request's mask and state bits go into one byte of a LID
};

struct Actuator {
  ActuatorKind kind = ActuatorKind::Ack;
  std::uint8_t target_lid = 0;   // Switch: the LID that shows the state
  std::uint8_t target_byte = 0;  // Switch: its data byte
};

struct FreezeFrame {
  std::uint16_t code = 0;  // the trouble code that stored it
  double at_seconds = 0;   // the drive time whose values it holds
};

struct Scenario {
  std::string name;
  std::string source;  // file name or "built-in NAME", for messages

  Protocol protocol = Protocol::Fast14230;
  bool accept_fast = true;
  bool accept_5baud = true;
  std::uint8_t ecu_address = 0x10;
  std::uint8_t tester_address = 0xF1;
  std::uint8_t functional_address = 0x33;
  std::array<std::uint8_t, 2> key_bytes{0xEF, 0x8F};
  std::uint32_t baud = 10400;

  // ECU timing, milliseconds.
  double p1 = 0.5;        // between the ECU's bytes
  double p2 = 25;         // end of request to the first byte of the answer
  double p2_next = 5;     // between the frames of a multi-frame answer
  double p3_max = 5000;   // a session without requests for longer ends
  double p4_max = 40;     // a longer gap between request bytes drops the partial frame
  double w1 = 40;         // 5-baud: end of the address to the sync byte
  double w2 = 10;         // sync to key byte 1
  double w3 = 10;         // key byte 1 to key byte 2
  double w4 = 25;         // tester's inverted key byte 2 to the ECU's inverted address
  double idle_min = 250;  // quiet bus needed before a wake-up or an address
  double wake_low_min = 15, wake_low_max = 45;      // fast init: low time
  double wake_total_min = 35, wake_total_max = 75;  // fast init: low + high time
  double bit_tolerance = 25;                        // 5-baud: edge placement
  // 5-baud: how soon and how late after key byte 2 the ECU takes the
  // tester's inverted key byte 2; later it goes back to sleep.
  double w4_min = 0, w4_max = 1500;

  // Engine and transmission.
  double displacement = 2362;  // ml
  int cylinders = 4;
  double injector_flow = 210;  // ml/min
  double idle_rpm = 700;
  double cold_idle_rpm = 1200;
  double coolant_start = 20, coolant_warm = 90;
  double fluid_start = 20, fluid_warm = 80;
  double warmup_seconds = 400;
  double ambient = 20;
  double ltft = 0;  // long-term fuel trim, percent
  bool automatic = true;
  bool od_off = false;
  std::uint8_t o2_sensors = 0x03;
  std::uint8_t obd_type = 0x0B;
  std::vector<Segment> drive;  // loops; empty: idling in P for ever

  // Identifiers answered. Service 01 PIDs and service 21 LIDs are computed
  // from the engine model when the model knows them; `fixed` gives bytes for
  // any identifier (key: service << 16 | identifier) and wins over the model.
  std::vector<std::uint8_t> pids;
  std::vector<std::uint8_t> lids;
  std::vector<std::uint8_t> freeze_pids;
  std::map<std::uint32_t, Bytes> fixed;  // services 0x01, 0x21, 0x22

  std::vector<std::uint16_t> stored_codes;
  std::vector<std::uint16_t> current_codes;
  std::vector<FreezeFrame> freeze_frames;
  enum class Mil : std::uint8_t { Auto, On, Off } mil = Mil::Auto;

  std::string vin, calibration_id, ident;
  std::optional<std::uint32_t> cvn;

  std::map<std::uint8_t, Actuator> actuators;  // by service 30 LID

  static std::uint32_t FixedKey(std::uint8_t service, std::uint16_t id) {
    return static_cast<std::uint32_t>(service) << 16 | id;
  }
  bool IsIso9141() const { return protocol == Protocol::Iso9141; }
};

struct ScenarioResult {
  std::optional<Scenario> scenario;
  std::string error;  // "FILE:LINE: what is wrong"
};

// Parses scenario text. `source` names it in error messages.
ScenarioResult ParseScenario(std::string_view text, std::string_view source);

// Reads a file; when no such file exists, a built-in scenario of that name
// (with or without ".scn", without folders) is taken instead.
ScenarioResult LoadScenario(const std::string& path);

// The scenarios compiled into the program (name without ".scn", text).
struct BuiltinScenario {
  const char* name;
  const char* text;
};
const std::vector<BuiltinScenario>& BuiltinScenarios();
inline constexpr const char* kDefaultScenario = "camry_2az_fast";
Scenario DefaultScenario();

// "--scenario auto": the simulator answers as whichever built-in scenario
// the tester's initialisation asks for.
inline constexpr const char* kAutoScenario = "auto";
std::vector<Scenario> BuiltinScenarioList();

// How a tester wakes an ECU: a fast init's StartCommunication sent to an
// address, or an address sent at 5 baud (ISO 14230 5-baud init and ISO 9141).
enum class InitKind : std::uint8_t { Fast, FiveBaud };

// Whether the scenario accepts that initialisation at that address (its ECU
// or functional address).
bool AnswersInit(const Scenario& s, InitKind kind, std::uint8_t address);

// Which of `choices` answers an initialisation at `address`. First the
// scenario made for it: protocol fast for a fast init to its ECU or
// functional address; for a 5-baud address, protocol 5baud with that ECU
// address, or protocol 9141 with that functional (ISO 9141) address. Failing
// that, the first scenario that accepts the initialisation at one of its two
// addresses. nullopt when none does.
std::optional<std::size_t> ChooseScenario(const std::vector<Scenario>& choices, InitKind kind,
                                          std::uint8_t address);

}  // namespace kestrel::ecusim
