// The settings window ("Настройки") as plain data: every field with its
// caption, hint, kind, range and default, the clamping of number fields, and
// the four operations of the window: filling the fields from the settings
// (activation, and the end of every LoadInit), storing them back (closing),
// "Считать настройки из файла" and "Записать настройки в файл". The Qt window
// only shows and edits a SettingsFields. All texts are code page 1251.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "config/load_init.h"

namespace kestrel {

// The fields, in the window's order (top to bottom, left column first).
enum FieldId : int {
  kFieldPort,            // list "COM1".."COM15"            line 4
  kFieldBaud,            // list "9600", "10400"              line 5
  kFieldW5,              // number 300..5000                 line 6
  kFieldW1to4,           // number 94..394                   line 7
  kFieldW4,              // number 10..50                    line 8
  kFieldP3,              // number 12..5000                  line 9
  kFieldP2,              // number 2..5000                   line 10
  kFieldP4,              // number 0..20                     line 11
  kFieldReconnect,       // number 0..50                     line 18
  kFieldFuelFactor,      // number 0..99999                  line 26
  kFieldMapCorrection,   // number 0..200                    line 27
  kFieldPWakeUpL,        // number 0..50                     line 12
  kFieldPWakeUpH,        // number 0..50                     line 13
  kFieldProtocol,        // list "5Baud", "Fast", "9141"     line 14
  kFieldAddressing,      // list "Физич", "Функц"            line 15
  kFieldEcuAddress,      // hex text, 2 characters           line 19
  kFieldTesterAddress,   // hex text                         line 21
  kFieldRequestAddress,  // hex text                         line 22
  kFieldKw2,             // hex text                         line 20
  kFieldInjectorFlow,    // number 0..2000                   line 23
  kFieldCylinders,       // number 0..16                     line 24
  kFieldDisplacement,    // number 0..99999                  line 25
  kFieldAutostart,       // check box                        line 17
  kFieldLog,             // check box                        line 16
  kFieldCount
};

enum class FieldKind : std::uint8_t { List, Number, HexText, Check };

// Everything the window needs to build one field.
struct FieldInfo {
  FieldId Id;
  FieldKind Kind;
  const char* Caption;                 // label text, e.g. "W5:"
  const char* Hint;                    // shown when the pointer rests on the label; nullptr: none
  int Min;                             // Number: lowest value; List: 0
  int Max;                             // Number: highest value; List: item count - 1; Check: 1
  int Default;                         // Number: value; List: position; Check: 0/1
  const char* DefaultText;             // HexText: "13", "F1", "33", "8F"; else nullptr
  std::span<const char* const> Items;  // List: the item texts; else empty
  int Line;                            // line of the configuration file (4..27)
};

// The description of every field, indexed by FieldId.
const std::array<FieldInfo, kFieldCount>& SettingsFieldInfo();
inline const FieldInfo& FieldInfoOf(FieldId id) {
  return SettingsFieldInfo()[id];
}

// Hints of the three buttons at the bottom right.
const char* ReadButtonHint();   // "Считать настройки из файла"
const char* WriteButtonHint();  // "Записать настройки в файл"
const char* CloseButtonHint();  // "Выход"
const char* SettingsCaption();  // "Настройки"

// The window's field values. Value holds the list position (List), the number
// (Number) or 0/1 (Check); Text holds the typed text of a HexText field.
struct SettingsFields {
  std::array<int, kFieldCount> Value{};
  std::array<std::string, kFieldCount> Text{};

  // Every field at its default.
  static SettingsFields Defaults();

  // Puts a value into a field the way the window does: Number fields clamp to
  // their range, List fields clamp to a valid position, Check becomes 0/1.
  void Set(FieldId id, long long value);
  // Reads a number field from its text: not a number gives the minimum, out
  // of range the nearest bound.
  void SetFromText(FieldId id, std::string_view text);
};

// A number clamped into the range of a Number or List field.
int ClampField(FieldId id, long long value);

// The fields as LoadInit and the window's activation fill them from the
// settings: the port position from the number after "COM" minus 1, "9600"
// for BaudRate 9600 and "10400" for any other speed, numbers clamped, the
// addresses as two upper-case hex digits, InjectorFlow with its fraction cut
// off, the check boxes from AutostartDashboard and LogEnabled.
SettingsFields FieldsFromSettings();

// Closing the window (by any means): stores every field into the settings
// (LinkSettings, ReconnectTime, AutostartDashboard, LogEnabled and the engine
// constants of ValueQuery); the addresses go through HexToByte.
void StoreFields(const SettingsFields& fields);

// The texts "Записать настройки в файл" writes for lines 4..27 (index 0 is
// line 4): port and speed as their item texts, numbers in decimal, the lists
// as their positions, the check boxes as "-1" or "0", the addresses as typed.
std::array<std::string, 24> FieldLines(const SettingsFields& fields);

// "Считать настройки из файла": reads lines 4..27 of `fileName` into `fields`
// only. Missing file: returns Missing and changes nothing. A line that does
// not convert stops with Failed and the conversion text; the fields read
// before it keep their new values.
LoadOutcome ReadFieldsFromFile(const std::string& fileName, SettingsFields& fields);

// "Записать настройки в файл": rewrites `fileName` through the temporary file
// "$.$$$" (created beside it, then renamed over it in one step): lines 1..3
// and everything after line 27 byte for byte, lines 4..27 from FieldLines.
// Missing file: returns Missing and does nothing. Write errors: Failed with a
// text naming the file; the original stays untouched.
LoadOutcome WriteFieldsToFile(const std::string& fileName, const SettingsFields& fields);

// The fields the settings window shows. LoadInit refreshes them at its end;
// the window fills them anew on activation (FieldsFromSettings), edits them,
// and stores them on closing (StoreFields).
extern SettingsFields SettingsWindowFields;

}  // namespace kestrel
