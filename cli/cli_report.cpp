#include "cli/cli_report.h"

#include <cstdio>

#include "common/cp1251.h"
#include "module/vorta.h"

namespace kestrel::cli {

namespace {

const std::uint8_t* Slot(const std::uint8_t* store, std::size_t area, std::size_t index) {
  return store + area + index * vorta::kSlotSize;
}
int Count(const std::uint8_t* slot) {
  return slot[vorta::kSlotCountByte];
}

// Ticks the items of one support range: item r, then item r + 8k + j + 1 for
// bit j (most significant first) of data byte k.
int DecodeRange(std::array<bool, 256>& items, int size, int base, const std::uint8_t* slot) {
  const int n = Count(slot);
  if (n == 0) return 0;
  if (base < size) items[base] = true;
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < 8; ++j) {
      const int item = base + 8 * k + j + 1;
      if (item > 255 || item >= size) continue;
      items[item] = (slot[k] & (0x80 >> j)) != 0;
    }
  }
  return n;
}

std::vector<int> Ticked(const std::array<bool, 256>& items, int size) {
  std::vector<int> out;
  for (int i = 0; i < size; ++i) {
    if (items[i]) out.push_back(i);
  }
  return out;
}

}  // namespace

const char* const kSupportListNames[5] = {"Mode01", "Mode02", "Mode21", "Mode30", "Mode09"};

std::string Line(const std::string& code, const std::string& name, const std::string& value,
                 const std::string& unit) {
  return code + "\t" + name + "\t" + value + "\t" + unit;
}

std::string RowLine(const ParameterRow& row, const std::string& value) {
  std::string code = row.Cells[kColCode];
  if (!code.empty() && code.front() == ' ') code.erase(0, 1);
  return Line(cp1251::ToUtf8(code), cp1251::ToUtf8(row.Cells[kColName]), cp1251::ToUtf8(value),
              cp1251::ToUtf8(row.Cells[kColUnit]));
}

std::string DtcCodeText(std::uint16_t code) {
  static const char kLetters[] = {'P', 'C', 'B', 'U'};
  char text[8];
  std::snprintf(text, sizeof text, "%c%04X", kLetters[code >> 14], code & 0x3FFFu);
  return text;
}

std::vector<std::uint16_t> SplitCodes(const char* text, int count) {
  std::vector<std::uint16_t> codes;
  if (text == nullptr) return codes;
  for (int i = 0; i < count; ++i) {
    unsigned v = 0;
    for (int d = 0; d < 4; ++d) {
      const char c = text[4 * i + d];
      if (c == '\0') return codes;  // shorter than the count says
      const unsigned digit =
          c >= 'A' ? static_cast<unsigned>(c - 'A' + 10) : static_cast<unsigned>(c - '0');
      v = v * 16 + (digit & 0x0F);
    }
    codes.push_back(static_cast<std::uint16_t>(v));
  }
  return codes;
}

InfoReport DecodeInfo(const std::uint8_t* store) {
  InfoReport r;
  // Oxygen sensors: byte 0 of Mode 01 slot 13, whether or not it holds data.
  static const char* const kSensors[8] = {
      "№1 После двигателя (Головка 1)",           "№2 После 1-го нейтрализатора (Головка 1)",
      "№3 После 1-го нейтрализатора (Головка 1)", "№4 После 1-го нейтрализатора (Головка 1)",
      "№5 После двигателя (Головка 2)",           "№6 После 1-го нейтрализатора (Головка 2)",
      "№7 После 1-го нейтрализатора (Головка 2)", "№8 После 1-го нейтрализатора (Головка 2)"};
  const std::uint8_t sensors = Slot(store, vorta::kMode01Offset, 0x13)[0];
  for (int bit = 0; bit < 8; ++bit) {
    if (sensors & (1 << bit)) r.Sensors.push_back(kSensors[bit]);
  }
  // OBD type: Mode 01 slot 1C, else Local 21 slot 1C.
  static const char* const kObd[14] = {"Неизвестно",
                                       "OBDII (California ARB)",
                                       "OBD (Federal EPA)",
                                       "OBD и OBDII",
                                       "OBDI",
                                       "Несовместимый с OBD",
                                       "EOBD",
                                       "EOBD и OBDII",
                                       "EOBD и OBD",
                                       "EOBD, OBD и OBDII",
                                       "JOBD",
                                       "JOBD и OBDII",
                                       "JOBD и EOBD",
                                       "JOBD, EOBD и OBDII"};
  int obd = 0;
  if (const std::uint8_t* s = Slot(store, vorta::kMode01Offset, 0x1C); Count(s) != 0) {
    obd = s[0];
  } else if (const std::uint8_t* l = Slot(store, vorta::kLocal21Offset, 0x1C); Count(l) != 0) {
    obd = l[0];
  }
  r.ObdType = kObd[obd >= 1 && obd <= 13 ? obd : 0];
  // Identification: five bytes of Mode 01 slot D3, else Local 21 slot D3.
  const std::uint8_t* id = Slot(store, vorta::kMode01Offset, 0xD3);
  if (Count(id) == 0) id = Slot(store, vorta::kLocal21Offset, 0xD3);
  if (Count(id) != 0) r.Ident = cp1251::ToUtf8(std::string(reinterpret_cast<const char*>(id), 5));
  // Support lists.
  const std::size_t areas[4] = {vorta::kMode01Offset, vorta::kMode02Offset, vorta::kLocal21Offset,
                                vorta::kControl30Offset};
  for (int list = 0; list < 4; ++list) {
    std::array<bool, 256> items{};
    auto slot = [&](int base) {
      // Mode 02 slots are chosen by identifier and frame 0.
      return list == 1 ? Slot(store, areas[list], static_cast<std::size_t>(base) * 256)
                       : Slot(store, areas[list], static_cast<std::size_t>(base));
    };
    for (int base : {0x00, 0x20, 0x40, 0x60, 0x80}) DecodeRange(items, 256, base, slot(base));
    const int a0 = DecodeRange(items, 256, 0xA0, slot(0xA0));
    if (a0 == 0 || a0 == 2) DecodeRange(items, 256, 0xB0, slot(0xB0));
    for (int base : {0xC0, 0xE0}) DecodeRange(items, 256, base, slot(base));
    r.Supported[list] = Ticked(items, 256);
  }
  std::array<bool, 256> sid09{};
  DecodeRange(sid09, 33, 0x00, Slot(store, vorta::kMode09Offset, 0 * 16 + 1));
  r.Supported[4] = Ticked(sid09, 33);
  // VIN: info type 02, messages 1..5 of four bytes; fill bytes are zero.
  std::string vin;
  for (int m = 1; m <= 5; ++m) {
    const std::uint8_t* s = Slot(store, vorta::kMode09Offset, 2 * 16 + m);
    for (int k = 0; k < Count(s) && k < 4; ++k) {
      if (s[k] >= 0x20 && s[k] < 0x7F) vin.push_back(static_cast<char>(s[k]));
    }
  }
  r.Vin = vin;
  return r;
}

std::string GearText(std::uint8_t gear) {
  if (gear == 0xFF) return "нет данных";
  std::string text = std::to_string(gear & 7);
  if (gear & 0x08) text += "+LockUp";
  if (gear & 0x10) text += "+O/D OFF";
  return text;
}

std::string SelectorText(std::uint16_t selector) {
  if (selector == 0xFFFF) return "нет данных";
  static const char* const kPositions[6] = {"P", "R", "N", "D", "2", "L"};
  std::string text;
  for (int bit = 0; bit < 6; ++bit) {
    if (selector & (1u << bit))
      text += text.empty() ? kPositions[bit] : std::string(",") + kPositions[bit];
  }
  return text.empty() ? "-" : text;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string s = text;
  // Always '.', whatever the locale: these are the tool's own figures.
  for (char& c : s) {
    if (c == ',') c = '.';
  }
  return s;
}

}  // namespace kestrel::cli
