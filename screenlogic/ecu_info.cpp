#include "screenlogic/ecu_info.h"

#include <cstdio>

#include "common/cp1251.h"
#include "module/response_store.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

const char* const kSensorTexts[8] = {
    "№1 После двигателя (Головка 1)"_cp,           "№2 После 1-го нейтрализатора (Головка 1)"_cp,
    "№3 После 1-го нейтрализатора (Головка 1)"_cp, "№4 После 1-го нейтрализатора (Головка 1)"_cp,
    "№5 После двигателя (Головка 2)"_cp,           "№6 После 1-го нейтрализатора (Головка 2)"_cp,
    "№7 После 1-го нейтрализатора (Головка 2)"_cp, "№8 После 1-го нейтрализатора (Головка 2)"_cp};

const char* const kObdTexts[14] = {"Неизвестно"_cp,
                                   "OBDII (California ARB)"_cp,
                                   "OBD (Federal EPA)"_cp,
                                   "OBD и OBDII"_cp,
                                   "OBDI"_cp,
                                   "Несовместимый с OBD"_cp,
                                   "EOBD"_cp,
                                   "EOBD и OBDII"_cp,
                                   "EOBD и OBD"_cp,
                                   "EOBD, OBD и OBDII"_cp,
                                   "JOBD"_cp,
                                   "JOBD и OBDII"_cp,
                                   "JOBD и EOBD"_cp,
                                   "JOBD, EOBD и OBDII"_cp};

// The slot of `id` in Mode 01 when it holds data, else in Local 21 when that
// does; null otherwise.
const std::uint8_t* Mode01OrLocal21(const std::uint8_t* store, std::uint8_t id) {
  if (const std::uint8_t* s = vorta::Slot(store, vorta::kAreaMode01, id); vorta::HasData(s)) {
    return s;
  }
  if (const std::uint8_t* s = vorta::Slot(store, vorta::kAreaLocal21, id); vorta::HasData(s)) {
    return s;
  }
  return nullptr;
}

}  // namespace

const char* const kSupportListNames[kSupportLists] = {"Mode01", "Mode02", "Mode21", "Mode30",
                                                      "Mode09"};
const char* const kSupportTabNames[kSupportLists] = {"SID01", "SID02", "SID21", "SID30", "SID09"};

namespace {

std::string Hex2(int id) {
  char hex[4];
  std::snprintf(hex, sizeof hex, "%02X", id & 0xFF);
  return hex;
}

template <std::size_t N>
void TakeItems(std::vector<std::string>& out, const std::array<std::string, N>& names) {
  out.clear();
  out.reserve(N);
  for (std::size_t i = 0; i < N; ++i) {
    out.push_back(names[i].empty() ? "PID=" + Hex2(static_cast<int>(i)) + " " : names[i]);
  }
}

}  // namespace

std::string SupportItemHex(const SupportItems& items, int list, int id) {
  if (list >= 0 && list < kSupportLists && id >= 0) {
    const std::vector<std::string>& texts = items.Texts[list];
    if (id < static_cast<int>(texts.size()) && texts[id].size() >= 6) {
      return texts[id].substr(4, 2);
    }
  }
  return Hex2(id);
}

SupportItems SupportItemsFrom(const PidNameLists& names) {
  SupportItems items;
  TakeItems(items.Texts[0], names.Sid01);
  TakeItems(items.Texts[1], names.Sid02);
  TakeItems(items.Texts[2], names.Sid21);
  TakeItems(items.Texts[3], names.Sid30);
  TakeItems(items.Texts[4], names.Sid09);
  return items;
}

std::vector<int> SupportTicks::Ticked(int list) const {
  std::vector<int> out;
  for (int i = 0; i < kSupportItems[list]; ++i) {
    if (Items[list][i]) out.push_back(i);
  }
  return out;
}

std::string InfoView::SensorText() const {
  std::string text;
  for (const std::string& s : Sensors) text += s + "\r\n";
  return text;
}

int DecodeSupportRange(std::array<bool, 256>& items, int itemCount, int base,
                       const std::uint8_t* slot) {
  const int n = vorta::SlotCount(slot);
  if (n == 0) return 0;
  if (base < itemCount) items[base] = true;
  for (int k = 0; k < n; ++k) {
    for (int j = 0; j < 8; ++j) {
      const int item = base + 8 * k + j + 1;
      if (item >= itemCount) return n;  // only the list's own items exist
      items[item] = (slot[k] & (0x80 >> j)) != 0;
    }
  }
  return n;
}

InfoView DecodeInfo(const std::uint8_t* store, SupportTicks& ticks) {
  InfoView view;
  // Oxygen sensors: byte 0 of Mode 01 slot 13, whether or not it holds data.
  const std::uint8_t sensors = vorta::Slot(store, vorta::kAreaMode01, 0x13)[0];
  for (int bit = 0; bit < 8; ++bit) {
    if (sensors & (1 << bit)) view.Sensors.push_back(kSensorTexts[bit]);
  }
  const std::uint8_t* obd = Mode01OrLocal21(store, 0x1C);
  const int type = obd != nullptr ? obd[0] : 0;
  view.ObdType = kObdTexts[type >= 1 && type <= 13 ? type : 0];
  if (const std::uint8_t* id = Mode01OrLocal21(store, 0xD3)) {
    view.Ident.assign(reinterpret_cast<const char*>(id), 5);
  }

  const vorta::StoreArea areas[4] = {vorta::kAreaMode01, vorta::kAreaMode02, vorta::kAreaLocal21,
                                     vorta::kAreaControl30};
  for (int list = 0; list < 4; ++list) {
    auto& items = ticks.Items[list];
    auto slot = [&](int base) {
      // Mode 02 slots are chosen by identifier and frame 0.
      const auto id = static_cast<std::uint8_t>(base);
      return vorta::Slot(store, areas[list], list == 1 ? vorta::Mode02Slot(id, 0) : id);
    };
    for (int base : {0x00, 0x20, 0x40, 0x60, 0x80})
      DecodeSupportRange(items, 256, base, slot(base));
    const int a0 = DecodeSupportRange(items, 256, 0xA0, slot(0xA0));
    if (a0 == 0 || a0 == 2) DecodeSupportRange(items, 256, 0xB0, slot(0xB0));
    for (int base : {0xC0, 0xE0}) DecodeSupportRange(items, 256, base, slot(base));
  }
  DecodeSupportRange(ticks.Items[4], kSupportItems[4], 0x00,
                     vorta::Slot(store, vorta::kAreaMode09, vorta::Mode09Slot(0, 1)));

  // VIN: info type 02, messages 1..5 of four bytes each; fill bytes are zero.
  for (std::uint8_t m = 1; m <= 5; ++m) {
    const std::uint8_t* s = vorta::Slot(store, vorta::kAreaMode09, vorta::Mode09Slot(2, m));
    for (int k = 0; k < vorta::SlotCount(s) && k < 4; ++k) {
      if (s[k] >= 0x20 && s[k] < 0x7F) view.Vin.push_back(static_cast<char>(s[k]));
    }
  }
  return view;
}

std::vector<std::string> InfoExportLines(std::string_view car, std::string_view ecuType,
                                         const InfoView& view, const SupportTicks& ticks,
                                         const SupportItems& items) {
  std::vector<std::string> lines;
  lines.push_back(std::string("Автомобиль: "_cpsv) + std::string(car));
  lines.push_back(std::string("Тип ECU: "_cpsv) + std::string(ecuType));
  lines.push_back(std::string("ID ECU:"_cpsv) + view.Ident);
  lines.push_back(std::string("Тип OBD:"_cpsv) + view.ObdType);
  lines.push_back("Датчики кислорода и их расположение:"_cp);
  // The sensor label ends in a line break: its texts, then an empty line.
  for (const std::string& s : view.Sensors) lines.push_back(s);
  lines.emplace_back();
  lines.emplace_back();
  int written = 0;  // identifiers so far, over the whole file
  for (int list = 0; list < kSupportLists; ++list) {
    lines.push_back(std::string("Список PID у "_cpsv) + kSupportListNames[list] + ":");
    std::string line;
    for (int id : ticks.Ticked(list)) {
      line += ' ';
      line += SupportItemHex(items, list, id);
      if (++written % 16 == 0) {
        lines.push_back(line);
        line.clear();
      }
    }
    lines.push_back(line);
    if (list + 1 < kSupportLists) lines.emplace_back();
  }
  return lines;
}

ExportResult WriteInfoExport(std::string_view car, std::string_view ecuType, const InfoView& view,
                             const SupportTicks& ticks, const SupportItems& items,
                             std::string_view folder) {
  return WriteTextFile(InfoExportLines(car, ecuType, view, ticks, items), kInfoExportName, folder);
}

}  // namespace kestrel
