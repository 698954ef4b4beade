// The parameter definition file "VORTA.ini" joined with the request lists into
// the lists the windows work from: the live table rows (and, in the same
// order, the eight graph channel lists), the actuator test selector with its
// TestList, the freeze-frame rows and the five PID name lists of the ECU
// information window. All texts are code page 1251.
//
// VORTA.ini is a sequence of four-line records: Code (SSII or SSIIJJ, upper-case
// hexadecimal), Name, Unit, Selector (two hex digits; for a test of service
// 30 its Flags).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "config/load_init.h"
#include "module/vorta.h"

namespace kestrel {

// Rows of one table window; tests of the test selector (position 0 is "Нет").
inline constexpr int kMaxRows = 1001;
inline constexpr int kMaxTestPositions = 1001;
inline constexpr int kGraphChannels = 8;

// ---------------------------------------------------------------- definitions

// One record of VORTA.ini, as read.
struct ParameterDefinition {
  std::string Code;
  std::string Name;
  std::string Unit;
  std::string Selector;
  int Line = 0;  // line number of Code in the file (1-based)
};

// Reads every record of a definition file (a record cut short at the end reads
// its missing lines as empty text). Missing file: Failed with "File not found".
LoadOutcome ReadDefinitions(const std::string& path, std::vector<ParameterDefinition>& out);

// ---------------------------------------------------------------- parameter rows

// The six columns of a row of the live table and of the freeze-frame window.
enum RowColumn : int {
  kColNumber = 0,    // a space and the 1-based row number as three digits (" 001")
  kColCode = 1,      // a space and Code (" 210C", " 2201A2"; freeze rows " 02..")
  kColName = 2,      // Name
  kColValue = 3,     // value text: empty at load, filled by the window's tick
  kColUnit = 4,      // Unit
  kColSelector = 5,  // Selector, never shown
  kRowColumns = 6
};

struct ParameterRow {
  std::array<std::string, kRowColumns> Cells;
};

// The identifier bytes of a row, read back from column 1 by character
// position: 2-3 service, 4-5 first identifier, 6-7 second identifier, each
// pair through HexToByte (a missing pair gives 0).
struct RowIds {
  std::uint8_t Service = 0;
  std::uint8_t Id1 = 0;
  std::uint8_t Id2 = 0;
};
RowIds RowIdsOf(const ParameterRow& row);

// The Format byte handed to PIDVAL: the live table takes the last two
// characters of column 5, the freeze-frame window the first two.
std::uint8_t LiveFormatOf(const ParameterRow& row);
std::uint8_t FreezeFormatOf(const ParameterRow& row);

// The rows of one window with its per-row state. RowCount is at least 1: a
// pass that matched nothing leaves one empty row.
struct ParameterTable {
  std::array<ParameterRow, kMaxRows> Rows;
  int RowCount = 1;
  // 0 = active, non-zero = inactive; all 0 after every LoadInit.
  std::array<std::uint8_t, kMaxRows> RowInactive{};

  // True when the table holds only the single empty row of a pass that
  // matched nothing.
  bool Empty() const { return RowCount == 1 && Rows[0].Cells[kColCode].empty(); }
};

extern ParameterTable LiveRows;    // live table (and graph channels, same order)
extern ParameterTable FreezeRows;  // freeze-frame window

// ---------------------------------------------------------------- actuator tests

// One actuator test of the live table's test selector.
struct TestEntry {
  std::uint8_t Service = 0;  // 0x30
  std::uint8_t Id1 = 0;      // local identifier of the test
  std::uint8_t Id2 = 0;      // set only from a six-digit Code, else left as it was
  std::uint16_t Flags = 0;   // HexToByte(Selector): bit 7 numeric, bits 0-3 bit number
};

// Indexed by selector position; position 0 ("Нет") has no entry.
extern std::array<TestEntry, kMaxTestPositions> TestList;

// The items of the test selector: TestSelectorItems[0] is "Нет", 1..count-1
// the test names. After a pass the selector is on item 0 and disabled.
extern std::array<std::string, kMaxTestPositions> TestSelectorItems;
extern int TestSelectorCount;

// ---------------------------------------------------------------- graph channels

// One of the eight channel selectors of the graph window: item 0 "Нет", item
// i (from 1) the name of live row i - 1.
struct GraphChannelList {
  std::array<std::string, kMaxRows + 1> Items;
  int Count = 1;
  int Selected = 0;  // reset to 0 ("Нет") by every live pass
};
extern std::array<GraphChannelList, kGraphChannels> GraphChannels;

// ---------------------------------------------------------------- PID name lists

// The five lists of the ECU information window's service tabs. Item p belongs
// to PID p and reads "PID=", p as two upper-case hex digits, a space and the
// name (ending with the space when the file names no parameter).
struct PidNameLists {
  std::array<std::string, 256> Sid01;
  std::array<std::string, 256> Sid02;
  std::array<std::string, 256> Sid21;
  std::array<std::string, 256> Sid30;
  std::array<std::string, 33> Sid09;  // PID 00..20 (hexadecimal)
};
extern PidNameLists PidNames;

// ---------------------------------------------------------------- the passes

// Live pass: resets the live table to one empty row, the test selector to
// "Нет" and the graph channel lists to "Нет", then joins the definitions of
// `vortaIni` with the live-data requests (definition order, first matching
// request): a "30" definition matching a request adds a test for every request
// it matches; any other definition matching service, identifier and (for a
// six-digit Code) second identifier adds one row. More than 1001 rows or 1000
// tests are refused (Failed, naming the file and line).
LoadOutcome LivePass(const std::string& vortaIni, const vorta::RequestTable& live);

// Freeze pass: a definition of service "01" or "02" matching a freeze-frame
// request (service 02, same PID) adds one row, shown with service 02.
LoadOutcome FreezePass(const std::string& vortaIni, const vorta::RequestTable& freeze);

// PID name pass: for every PID the name of the last definition of services 01
// (also names SID02), 02, 21, 30 and 09, from one reading of the file.
LoadOutcome PidNamePass(const std::string& vortaIni);

// The same passes on definitions already read (tests, benchmarks).
LoadOutcome LivePassOn(const std::vector<ParameterDefinition>& defs,
                       const vorta::RequestTable& live, const std::string& fileForErrors);
LoadOutcome FreezePassOn(const std::vector<ParameterDefinition>& defs,
                         const vorta::RequestTable& freeze, const std::string& fileForErrors);
void PidNamePassOn(const std::vector<ParameterDefinition>& defs);

// ---------------------------------------------------------------- request lookup

// Index (0-based) of the first entry of `table` whose request byte 3 equals
// service and byte 4 equals id1 and, only for service 0x22, byte 5 equals
// id2; -1 when there is none.
int FindPID(const vorta::RequestTable& table, std::uint8_t service, std::uint8_t id1,
            std::uint8_t id2);
// The live table's lookup (over the live-data RequestTable) and the
// freeze-frame window's (over the freeze-frame RequestTable).
int FindLivePID(std::uint8_t service, std::uint8_t id1, std::uint8_t id2);
int FindFreezePID(std::uint8_t service, std::uint8_t id1, std::uint8_t id2);

}  // namespace kestrel
