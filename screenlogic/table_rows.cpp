#include "screenlogic/table_rows.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "link/link_globals.h"
#include "screenlogic/export.h"

namespace kestrel {

namespace {

// Longest value text taken from the module; a text without its terminator
// within this bound is cut rather than read past.
constexpr std::size_t kMaxValueText = 4096;

int RowCountOf(const ParameterTable& rows) {
  return std::clamp(rows.RowCount, 0, kMaxRows);
}

}  // namespace

ModuleValue QueryModule(vorta::ResponseMemory& memory, vorta::PidValProc pidval,
                        const ParameterKey& key) {
  ModuleValue result;
  if (pidval == nullptr) return result;
  vorta::ValueQuery& q = memory.Query;
  q.Service = key.Service;
  q.Id1 = key.Id1;
  q.Id2 = key.Id2;
  q.Format = key.Format;
  q.Text = nullptr;
  pidval(memory.Store);
  if (q.Text != nullptr) result.Text.assign(q.Text, strnlen(q.Text, kMaxValueText));
  result.Value = q.Value;
  result.Kind = q.Kind;
  return result;
}

ParameterKey RowKeys::Of(const ParameterRow& row) const {
  const RowIds ids = RowIdsOf(row);
  if (Freeze) return {ids.Service, ids.Id1, Frame, FreezeFormatOf(row)};
  return {ids.Service, ids.Id1, ids.Id2, LiveFormatOf(row)};
}

int LiveRowOf(const ChannelDescriptor& channel, const ParameterTable& rows) {
  if (channel == ChannelDescriptor{}) return -1;
  const int rowCount = std::clamp(rows.RowCount, 0, kMaxRows);
  for (int r = 0; r < rowCount; ++r) {
    if (RowKeys::Live().Of(rows.Rows[r]) == channel) return r;
  }
  return -1;
}

int RefreshRowValues(ParameterTable& rows, vorta::ResponseMemory& memory, vorta::PidValProc pidval,
                     RowKeys keys, ValueCacheArray& cache, std::vector<int>& changed) {
  if (pidval == nullptr) return 0;
  int changes = 0;
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    ParameterRow& row = rows.Rows[r];
    const ModuleValue value = QueryModule(memory, pidval, keys.Of(row));
    if (cache[r] != value.Text) {
      cache[r] = value.Text;
      row.Cells[kColValue] = value.Text;
      changed.push_back(r);
      ++changes;
    }
  }
  return changes;
}

void ResetRowValues(ParameterTable& rows, ValueCacheArray& cache) {
  for (std::string& text : cache) text.clear();
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) rows.Rows[r].Cells[kColValue].clear();
}

bool NoLink(std::uint16_t status) {
  return status == lsIdle || status == lsError;
}

bool ToggleRequestRows(ParameterTable& rows, int row) {
  const int rowCount = RowCountOf(rows);
  if (row < 0 || row >= rowCount) return false;
  const std::uint8_t state = rows.RowInactive[row] == 0 ? 1 : 0;
  const std::string code = rows.Rows[row].Cells[kColCode];
  for (int r = 0; r < rowCount; ++r) {
    if (rows.Rows[r].Cells[kColCode] == code) rows.RowInactive[r] = state;
  }
  return true;
}

void SetAllInactive(ParameterTable& rows, bool inactive) {
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) rows.RowInactive[r] = inactive ? 1 : 0;
}

void SkipInactiveRows(vorta::RequestTable& table, const ParameterTable& rows) {
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    if (rows.RowInactive[r] == 0) continue;
    const RowIds ids = RowIdsOf(rows.Rows[r]);
    const int index = FindPID(table, ids.Service, ids.Id1, ids.Id2);
    if (index >= 0) SetSkip(table.Entries[index], 1);
  }
}

std::vector<std::string> TableExportBody(const ParameterTable& rows, bool includeInactive) {
  std::vector<std::string> lines;
  const int rowCount = RowCountOf(rows);
  for (int r = 0; r < rowCount; ++r) {
    if (!includeInactive && rows.RowInactive[r] != 0) continue;
    const auto& c = rows.Rows[r].Cells;
    lines.push_back(KadrLine(c[kColNumber], c[kColCode], c[kColName], c[kColValue], c[kColUnit]));
  }
  return lines;
}

ExportResult WriteTableExport(ExportKind kind, std::string_view car, std::string_view ecuType,
                              std::string_view title, const ParameterTable& rows,
                              bool includeInactive, std::string_view folder) {
  std::vector<std::string> lines = ExportHeader(car, ecuType, title);
  std::vector<std::string> body = TableExportBody(rows, includeInactive);
  lines.insert(lines.end(), std::make_move_iterator(body.begin()),
               std::make_move_iterator(body.end()));
  return WriteExport(kind, lines, folder);
}

}  // namespace kestrel
