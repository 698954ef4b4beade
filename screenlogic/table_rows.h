// What the two table windows (the live data table and the freeze frames)
// compute for their rows: the module query of a row, the value refresh of a
// tick, the row toggling and the body of their text exports. Both windows
// hold a ParameterTable (config/parameter_lists.h); they differ only in how a
// row is asked for: the live table with the row's own identifiers and the last
// two characters of its selector, the freeze-frame window with the frame
// number as second identifier and the first two characters.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "config/parameter_lists.h"
#include "link/recording.h"
#include "module/vorta.h"
#include "screenlogic/export.h"

namespace kestrel {

// ---------------------------------------------------------------- the module query

// The four bytes a window puts into the module's query for one parameter
// (service, identifier, second identifier, format). The graphs window records
// the same four bytes per channel.
using ParameterKey = ChannelDescriptor;

// What the module said about one parameter. Text is code page 1251 (empty
// when the module gave none).
struct ModuleValue {
  std::string Text;
  double Value = 0.0;
  std::uint8_t Kind = vorta::vkNumeric;
};

// Fills the query that follows the store with `key`, calls PIDVAL and copies
// its results at once. Without a module: an empty text and 0.
ModuleValue QueryModule(vorta::ResponseMemory& memory, vorta::PidValProc pidval,
                        const ParameterKey& key);

// How a window asks the module for its rows.
struct RowKeys {
  bool Freeze = false;     // freeze-frame rows
  std::uint8_t Frame = 0;  // the frame number, for freeze-frame rows

  static RowKeys Live() { return {}; }
  static RowKeys FreezeFrame(std::uint8_t frame) { return {true, frame}; }

  // Live rows: service, identifiers from column 1, format from the last two
  // characters of column 5. Freeze rows: service and identifier from column 1,
  // the frame number, format from the first two characters of column 5.
  ParameterKey Of(const ParameterRow& row) const;
};

// The first live row whose four bytes are those a recording's channel holds;
// -1 when no row has them, and for four zero bytes (a channel on "Нет").
int LiveRowOf(const ChannelDescriptor& channel, const ParameterTable& rows);

// ---------------------------------------------------------------- the tick

// Value texts last written into column 3, per row (code page 1251).
using ValueCacheArray = std::array<std::string, kMaxRows>;

// Asks the module for the value text of every row (active or not) and
// compares it with the cache: a changed text goes into the cache and column 3
// of the row, and the row number is appended to `changed`. Without a module
// nothing changes. Returns the number of changed rows.
int RefreshRowValues(ParameterTable& rows, vorta::ResponseMemory& memory, vorta::PidValProc pidval,
                     RowKeys keys, ValueCacheArray& cache, std::vector<int>& changed);

// Forgets every value shown: empty cache and value column.
void ResetRowValues(ParameterTable& rows, ValueCacheArray& cache);

// ---------------------------------------------------------------- rows

// True for the states without a link (lsIdle, lsError): rows may be edited.
bool NoLink(std::uint16_t status);

// Double click: inverts the row's state and gives it to every row with the
// same request (the same column 1 text). False for a row outside the table.
bool ToggleRequestRows(ParameterTable& rows, int row);

// "Активизировать все" / "Деактивизировать все".
void SetAllInactive(ParameterTable& rows, bool inactive);

// Marks the request of every inactive row to be left out (Skip 1); the
// request is found in `table` by FindPID from the row's identifiers.
void SkipInactiveRows(vorta::RequestTable& table, const ParameterTable& rows);

// ---------------------------------------------------------------- export

// The body of a table export: one KadrLine per row in table order, the
// inactive rows only when `includeInactive` (the freeze-frame export).
std::vector<std::string> TableExportBody(const ParameterTable& rows, bool includeInactive);

// A whole table export: the ExportHeader with car, ECU type and title, then
// TableExportBody, written into the next numbered file of `kind`.
ExportResult WriteTableExport(ExportKind kind, std::string_view car, std::string_view ecuType,
                              std::string_view title, const ParameterTable& rows,
                              bool includeInactive, std::string_view folder = kExportFolder);

}  // namespace kestrel
