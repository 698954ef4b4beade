// The ECU information window's logic: what it shows, decoded from the
// response store (identification, OBD type, oxygen sensors, the support
// lists of services 01, 02, 21, 30 and 09), the item texts of its check
// lists, and the file "InfoECU.txt". TForm8 (screens/ecu_info.h) and
// kestrel-cli's "info" both use it. Texts are code page 1251.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/parameter_lists.h"
#include "screenlogic/export.h"

namespace kestrel {

// The five support lists, in tab order: SID01, SID02, SID21, SID30, SID09.
inline constexpr int kSupportLists = 5;
inline constexpr int kSupportItems[kSupportLists] = {256, 256, 256, 256, 33};

// The tick of every item of the five check lists. A range the ECU did not
// answer leaves its items as they were, so the ticks live with the window.
struct SupportTicks {
  std::array<std::array<bool, 256>, kSupportLists> Items{};
  // The ticked identifiers of one list, in order.
  std::vector<int> Ticked(int list) const;
};

struct InfoView {
  std::string Ident;                 // five characters of slot D3, empty without data
  std::string ObdType;               // "Неизвестно" without data or for an unknown value
  std::vector<std::string> Sensors;  // the texts of the set sensor bits, bit 0 first
  std::string Vin;                   // service 09 type 02, printable characters; empty without data

  // The sensor label: every text followed by CR LF.
  std::string SensorText() const;
};

// Decodes the store as the window's tick does, updating `ticks`.
InfoView DecodeInfo(const std::uint8_t* store, SupportTicks& ticks);

// One support range: item `base` ticked, then item base + 8k + j + 1 for bit j
// (most significant first) of data byte k of `slot`, ticked or unticked,
// up to the last item of the list. An empty slot changes nothing. Returns the
// slot's data count.
int DecodeSupportRange(std::array<bool, 256>& items, int itemCount, int base,
                       const std::uint8_t* slot);

// "Mode01", "Mode02", "Mode21", "Mode30", "Mode09".
extern const char* const kSupportListNames[kSupportLists];
// The tabs of the lists: "SID01", "SID02", "SID21", "SID30", "SID09".
extern const char* const kSupportTabNames[kSupportLists];

// The item texts of the five check lists: item i of a list stands for
// identifier i and reads "PID=", i as two hex digits, a space and the name.
struct SupportItems {
  std::array<std::vector<std::string>, kSupportLists> Texts;
  bool operator==(const SupportItems&) const = default;
};

// The items from the PID name lists of the last configuration load; an item
// that no load has named yet reads "PID=<hex> ", as one without a definition.
SupportItems SupportItemsFrom(const PidNameLists& names);

// The two hex digits of identifier `id` of a list as the file writes them:
// characters 5-6 of its item text (the number itself for a shorter text).
std::string SupportItemHex(const SupportItems& items, int list, int id);

// The lines of "InfoECU.txt": car, ECU type, identification, OBD type, the
// sensor heading and texts, then the ticked identifiers of each list under
// its heading, each as a space and the two hex digits at characters 5-6 of
// its item text, sixteen to a line counted over the whole file.
std::vector<std::string> InfoExportLines(std::string_view car, std::string_view ecuType,
                                         const InfoView& view, const SupportTicks& ticks,
                                         const SupportItems& items);

// Writes those lines into folder/"InfoECU.txt", replacing the file there.
ExportResult WriteInfoExport(std::string_view car, std::string_view ecuType, const InfoView& view,
                             const SupportTicks& ticks, const SupportItems& items,
                             std::string_view folder = kExportFolder);

}  // namespace kestrel
