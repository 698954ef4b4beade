// PIDVAL: one parameter's value and display text from its response slot.
//
// Services 0x01 (current data) and 0x21 (data by local identifier) share one
// formula table keyed by the identifier; service 0x02 (freeze-frame data)
// uses a subset of it with a few rules of its own. The Format byte selects a
// data byte or formula variant (high nibble) or a single bit (low nibble).

#include <array>
#include <cstring>
#include <initializer_list>

#include "common/cp1251.h"
#include "module/module_internal.h"

namespace vorta::detail {

namespace {

using namespace kestrel::cp1251_literals;

const char* const kNotSupported = "Не поддерживается"_cp;
const char* const kOn = "Вкл"_cp;
const char* const kOff = "Выкл"_cp;
const char* const kTestFailed = "Ошибка теста"_cp;
const char* const kTestOk = "Тест ОК"_cp;
const char* const kPermit = "PERMIT";
const char* const kProhibit = "PROHIBT";
const char* const kOutOfList = "Ошибка"_cp;
const char* const kNone = "Нет"_cp;
const char* const kNotUsed = "Не используется"_cp;
const char* const kEmpty = "";
const char* const kLockUp = "+LockUp";
const char* const kOverdriveOff = "+O/D OFF";

using IdSet = std::array<bool, 256>;

constexpr IdSet MakeSet(std::initializer_list<std::uint8_t> ids) {
  IdSet set{};
  for (std::uint8_t id : ids) set[id] = true;
  return set;
}

// Identifiers with a formula for services 0x01 and 0x21 (119).
constexpr IdSet kFormulaIds = MakeSet({
    0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,
    0x11, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1F, 0x21, 0x22, 0x23, 0x24, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47,
    0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x52, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
    0x88, 0x89, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9D, 0xB1, 0xB2, 0xB3, 0xB4,
    0xB6, 0xB7, 0xB8, 0xBB, 0xD5, 0xDA, 0xE1, 0xE2, 0xE3, 0xE4, 0xE6, 0xE7, 0xE9, 0xEA, 0xEB,
    0xED, 0xEE, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF7, 0xF8, 0xFA, 0xFC, 0xFD, 0xFE,
});

// Identifiers with a formula for service 0x02 (82). 0xE4 belongs here: it has
// a freeze-frame rule of its own.
constexpr IdSet kFreezeFrameIds = MakeSet({
    0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1F, 0x21, 0x22, 0x23,
    0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33,
    0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x42, 0x43,
    0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x52, 0x81, 0x82,
    0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0xB4, 0xE4, 0xED, 0xF3, 0xF4,
});

// A result under construction. `text` null means: format `value`.
struct Result {
  std::uint8_t kind = vkNumeric;
  double value = 0.0;
  const char* text = nullptr;
};

constexpr char kHexDigits[] = "0123456789ABCDEF";

char* PutHex2(char* p, std::uint8_t b) {
  *p++ = kHexDigits[b >> 4];
  *p++ = kHexDigits[b & 0x0F];
  return p;
}

char* PutText(char* p, const char* s) {
  const std::size_t n = std::strlen(s);
  std::memcpy(p, s, n);
  return p + n;
}

// The slot's data bytes, as many as its count byte says, each as two hex
// digits and a space.
const char* HexDump(const std::uint8_t* slot, char* text) {
  const std::uint8_t count = slot[kSlotCountByte];  // read once: the receiver may refill the slot
  char* p = text;
  for (unsigned i = 0; i < count; ++i) {
    p = PutHex2(p, slot[i]);
    *p++ = ' ';
  }
  *p = '\0';
  return text;
}

// A gear text: the gear digit, then the flags' suffixes.
const char* GearText(unsigned gear, bool lockUp, bool overdriveOff, char* text) {
  char* p = text;
  *p++ = static_cast<char>('0' + (gear & 7));
  if (lockUp) p = PutText(p, kLockUp);
  if (overdriveOff) p = PutText(p, kOverdriveOff);
  *p = '\0';
  return text;
}

const char* FuelSystemText(std::uint8_t a) {
  switch (a) {
    case 1:
      return "Разомкнута, прогрев"_cp;
    case 2:
      return "Замкнута"_cp;
    case 4:
      return "Разомкнута, нагрузка"_cp;
    case 8:
      return "Разомкнута, неиспр."_cp;
    case 16:
      return "Замкнута, неиспр."_cp;
    default:
      return kOutOfList;
  }
}

// The trouble code that stored a freeze frame, as a letter and four digits.
const char* FreezeFrameCode(std::uint8_t a, std::uint8_t b, char* text) {
  const unsigned code = a * 256u + b;
  if (code == 0) return kEmpty;
  static constexpr char kLetters[] = {'P', 'C', 'B', 'U'};
  char* p = text;
  *p++ = kLetters[a >> 6];
  p = PutHex2(p, static_cast<std::uint8_t>(a & 0x3F));
  p = PutHex2(p, b);
  *p = '\0';
  return text;
}

// Derived quantities of services 0x01 and 0x21, from the parameter's own area.
struct Derived {
  EngineBytes bytes;
  EngineConstants engine;
  double trim1;
  double trim2;

  Derived(const std::uint8_t* store, StoreArea area, const ValueQuery& q)
      : bytes(ReadEngineBytes(store, area)),
        engine{q.Cylinders, q.InjectorFlow, q.Displacement, q.FuelFactor, q.MapCorrection},
        trim1(FuelTrim(Slot(store, area, 0x06)[0], Slot(store, area, 0x07)[0])),
        trim2(FuelTrim(Slot(store, area, 0x08)[0], Slot(store, area, 0x09)[0])) {}

  // Consumption per distance from a flow; 0 when standing.
  double PerDistance(double flow) const { return bytes.Vss != 0 ? flow / (bytes.Vss * 10.0) : 0.0; }

  double AirMass() const {
    const double k = 28.98 * static_cast<double>(engine.MapCorrection) / 100.0;
    return static_cast<double>(engine.Displacement) * bytes.Rpm4 * bytes.Map * (k / 3990916.8) /
           (233.15 + bytes.Iat);
  }
};

// The formula of identifier `id` (one of kFormulaIds) for variant h. A variant
// the table does not list leaves the result as it is: numeric 0.
// `area` of `store` is the parameter's area, for the derived quantities.
void ApplyFormula(std::uint8_t id, unsigned h, const std::uint8_t* s, const std::uint8_t* store,
                  StoreArea area, const ValueQuery& q, Result& r, char* text) {
  const double A = s[0], B = s[1], C = s[2], D = s[3], E = s[4], F = s[5];
  const double AB = A * 256.0 + B;
  const double CD = C * 256.0 + D;
  const double byteH = s[h];
  double& v = r.value;

  switch (id) {
    case 0x0D:
    case 0x30:
    case 0x33:
    case 0x46:
    case 0x95:
    case 0x96:
    case 0x97:
    case 0xE7:
    case 0xEE:
    case 0xF3:
    case 0xF4:
    case 0xFA:
      v = A;
      break;
    case 0x1F:
    case 0x21:
    case 0x31:
    case 0x4D:
    case 0x4E:
    case 0x98:
    case 0x99:
    case 0x9A:
    case 0xEB:
      v = AB;
      break;
    case 0x01:
      if (h == 0) v = s[0] & 0x7F;  // number of trouble codes
      break;
    case 0x04:
    case 0x11:
    case 0x2E:
    case 0x2F:
    case 0x45:
    case 0x47:
    case 0x48:
    case 0x49:
    case 0x4A:
    case 0x4B:
    case 0x4C:
    case 0x52:
    case 0xB1:
    case 0xF5:
      v = A * 100.0 / 255.0;
      break;
    case 0x05:
    case 0x0F:
    case 0x9B:
      v = A - 40.0;
      break;
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x09:
      v = 0.781 * A - 100.0;
      break;
    case 0x0A:
      v = A * 3.0;
      break;
    case 0x0B:
      if (h == 0) {
        v = A;
      } else if (h <= 3) {
        const Derived d(store, area, q);
        if (h == 1) {
          v = d.AirMass();
        } else {
          const double flow = FuelFlowFromPressure(d.bytes, d.trim1, d.trim2, d.engine);
          v = h == 2 ? flow : d.PerDistance(flow);
        }
      }
      break;
    case 0x0C:
      v = AB / 4.0;
      break;
    case 0x0E:
    case 0x87:
      v = A * 0.5 - 64.0;
      break;
    case 0x10:
      if (h == 1) {
        v = AB / 100.0;
      } else if (h == 2 || h == 3) {
        const Derived d(store, area, q);
        const double flow = FuelFlowFromAirFlow(d.bytes, d.trim1, d.trim2, d.engine);
        v = h == 2 ? flow : d.PerDistance(flow);
      }
      break;
    case 0x14:
    case 0x15:
    case 0x16:
    case 0x17:
    case 0x18:
    case 0x19:
    case 0x1A:
    case 0x1B:
      if (h == 0) v = A * 0.005;
      if (h == 1) v = 0.781 * B - 100.0;
      break;
    case 0x22:
      v = AB * 0.079;
      break;
    case 0x23:
      v = AB * 10.0;
      break;
    case 0x24:
    case 0x25:
    case 0x26:
    case 0x27:
    case 0x28:
    case 0x29:
    case 0x2A:
    case 0x2B:
      if (h == 0) v = AB * 0.0000305;
      if (h == 2) v = CD * 0.000122;
      break;
    case 0x32:
      v = AB / 4.0 - 8.192;
      break;
    case 0x34:
    case 0x35:
    case 0x36:
    case 0x37:
    case 0x38:
    case 0x39:
    case 0x3A:
    case 0x3B:
      if (h == 0) v = AB * 0.0000305;
      if (h == 2) v = CD * 0.00390625 - 128.0;
      break;
    case 0x3C:
    case 0x3D:
    case 0x3E:
    case 0x3F:
      v = AB / 10.0 - 40.0;
      break;
    case 0x42:
      v = AB / 1000.0;
      break;
    case 0x43:
      v = AB * 100.0 / 255.0;
      break;
    case 0x44:
      v = AB * 0.0000305;
      break;
    case 0x81:
      v = 19.9 * A / 255.0;
      break;
    case 0x82:
      v = 65.2 * A / 255.0;
      break;
    case 0x83:
      v = 7.96 * A / 255.0;
      break;
    case 0x84:
      v = 1.992 * A / 255.0;
      break;
    case 0x85:
    case 0x86:
      v = A * 199.0 / 255.0 - 100.0;
      break;
    case 0x88:
      v = A * 127.5 / 255.0;
      break;
    case 0x9C:
      if (h <= 3) v = 29.856 * byteH / 255.0;
      break;
    case 0xB2:
      if (h <= 3) v = 5.1 * byteH / 255.0;
      if (h == 4 || h == 5) v = byteH;
      break;
    case 0xB3:
      if (h == 2) v = 5.1 * C / 255.0;
      if (h == 3) v = 124.95 * D / 255.0;
      if (h == 4) v = 19.8 * E / 255.0;
      if (h == 5) v = 2.4 * F / 255.0;
      break;
    case 0xB4:
      v = AB * 0.004 - 40.0;
      break;
    case 0xB6:
      if (h == 0) v = A;
      if (h == 1) v = B;
      if (h == 2) v = C * 0.488;
      break;
    case 0xB7:
    case 0xB8:
      if (h == 0) v = A * 0.005;
      if (h == 1) v = 0.781 * B - 100.0;
      if (h == 2) v = C * 0.069726;
      break;
    case 0xD5:
      v = A * 0.817;
      break;
    case 0xDA:
      if (h == 0 || h == 2 || h == 4) v = byteH * 2.5;
      break;
    case 0xE1:
      if (h <= 1) v = byteH;
      break;
    case 0xE2:
      if (h == 0) v = A * 6375.0 / 255.0;
      if (h == 1) v = 3.97 * B / 255.0;
      break;
    case 0xE3:
      v = AB * 0.0125;
      break;
    case 0xE4:
      if (h == 0) {
        v = 32.6 * A / 255.0;
      } else if (h == 1 || h == 2) {
        const Derived d(store, area, q);
        const double flow = FuelFlowFromInjection(d.bytes, d.engine);
        v = h == 1 ? flow : d.PerDistance(flow);
      }
      break;
    case 0xE6:
      v = 99.7 * A / 255.0;
      break;
    case 0xE9:
    case 0xEA:
      if (h <= 3) v = byteH;
      break;
    case 0xED:
      v = A * 159.0 / 255.0;
      break;
    case 0xF0:
      if (h <= 1) v = 1.02 * byteH / 255.0 + 0.5;
      break;
    case 0xF1:
      if (h <= 1) v = byteH * 16702.0 / 255.0;
      break;
    case 0xF2:
      if (h <= 3) v = byteH * 16702.0 / 255.0;
      break;
    case 0xF7:
      if (h == 0) v = A * 50.0;
      break;
    case 0xFC:
    case 0xFD:
    case 0xFE:
      v = A * 12750.0 / 255.0;
      break;

    // Text parameters.
    case 0x03:
      r.kind = vkText;
      v = A;
      r.text = FuelSystemText(s[0]);
      break;
    case 0x89:
      if (h == 1) {
        r.kind = vkText;
        v = B;
        r.text = s[1] == 0 ? kNone : s[1] == 1 ? "LO LOAD" : s[1] == 2 ? "HV" : kOutOfList;
      } else if (h == 2) {
        r.kind = vkText;
        v = C;
        r.text = s[2] == 0 ? kNone : s[2] == 1 ? "HV" : s[2] == 2 ? "ISC LRN" : kOutOfList;
      }
      break;
    case 0x9D:
      if (h <= 3) {
        static const char* const kStates[] = {"B", "A", "C", kNotUsed};
        const unsigned state = (s[1] >> (2 * h)) & 3u;
        r.kind = vkText;
        v = state;
        r.text = kStates[state];
      }
      break;
    case 0xBB:
      r.kind = vkText;
      v = s[0] & 7;
      r.text = GearText(s[0], (s[1] & 1) != 0, false, text);
      break;
    case 0xF8:
      r.kind = vkText;
      v = A;
      r.text = GearText(s[0], (s[0] & 0x08) != 0, (s[0] & 0x10) != 0, text);
      break;
    default:
      break;
  }
}

// Bit b (1..15) of data byte h; bits 9..15 have no byte position and read clear.
void DecodeBit(std::uint8_t service, std::uint8_t id, unsigned h, unsigned b,
               const std::uint8_t* slot, Result& r) {
  const unsigned mask = (1u << (b - 1)) & 0xFFu;
  const bool set = (slot[h] & mask) != 0;
  if (service == 0x02) {
    r.kind = vkOnOff;
    r.text = set ? kOn : kOff;
    return;  // the value of a freeze-frame bit stays 0
  }
  const char* on = kOn;
  const char* off = kOff;
  r.kind = vkOnOff;
  if (id == 0xD0 || (id == 0xEC && b != 8) || id == 0xF6) {
    r.kind = vkVerdict;
    on = kTestFailed;
    off = kTestOk;
  }
  if (id == 0x89 && b == 1) {
    r.kind = vkVerdict;
    on = kPermit;
    off = kProhibit;
  }
  if (id == 0x89 && b == 5) {
    r.kind = vkVerdict;
    on = kTestOk;
    off = kTestFailed;
  }
  r.text = set ? on : off;
  r.value = set ? 1.0 : 0.0;
}

}  // namespace

void DecodeValue(const std::uint8_t* store, ValueQuery& query, char* text) {
  query.Kind = vkNumeric;
  query.Value = 0.0;
  query.Text = kNotSupported;

  const std::uint8_t service = query.Service;
  const std::uint8_t id = query.Id1;
  StoreArea area = kAreaMode01;  // Mode 01 or Local 21, for the derived quantities
  const std::uint8_t* slot = nullptr;
  switch (service) {
    case 0x01:
      slot = Slot(store, kAreaMode01, id);
      break;
    case 0x21:
      area = kAreaLocal21;
      slot = Slot(store, kAreaLocal21, id);
      break;
    case 0x02:
      slot = Slot(store, kAreaMode02, Mode02Slot(id, query.Id2));
      break;
    default:
      return;
  }
  if (!HasData(slot)) return;

  const unsigned h = query.Format >> 4;
  const unsigned b = query.Format & 0x0Fu;
  Result r;
  if (b != 0) {
    DecodeBit(service, id, h, b, slot, r);
  } else if (service == 0x02) {
    if (!kFreezeFrameIds[id]) {
      r.kind = vkText;
      r.text = HexDump(slot, text);
    } else if (id == 0x02) {
      r.kind = vkText;
      r.text = FreezeFrameCode(slot[0], slot[1], text);
    } else if (id == 0x0B) {
      r.value = slot[0];
    } else if (id == 0x10) {
      r.value = (slot[0] * 256.0 + slot[1]) / 100.0;
    } else if (id == 0xE4) {
      r.value = 32.6 * slot[0] / 255.0;
    } else {
      ApplyFormula(id, h, slot, store, area, query, r, text);  // never a derived quantity here
    }
  } else if (kFormulaIds[id]) {
    ApplyFormula(id, h, slot, store, area, query, r, text);
  } else if (h == 0) {
    r.kind = vkText;
    r.value = slot[0];
    r.text = HexDump(slot, text);
  } else {
    r.kind = vkText;
    r.value = slot[h];
    *PutHex2(text, slot[h]) = '\0';
    r.text = text;
  }

  query.Kind = r.kind;
  query.Value = r.value;
  if (r.text != nullptr) {
    query.Text = r.text;
  } else {
    FormatValue(r.value, LocaleDecimalSeparator(), text, kValueTextSize);
    query.Text = text;
  }
}

}  // namespace vorta::detail

extern "C" VORTA_EXPORT void VORTA_CALL PIDVAL(std::uint8_t* responseStore) {
  // The text stays valid until the next PIDVAL call.
  static char text[vorta::detail::kValueTextSize];
  if (responseStore == nullptr) return;
  auto* query = reinterpret_cast<vorta::ValueQuery*>(responseStore + vorta::kResponseStoreSize);
  vorta::detail::DecodeValue(responseStore, *query, text);
}
