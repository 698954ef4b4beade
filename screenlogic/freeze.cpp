#include "screenlogic/freeze.h"

#include <algorithm>

#include "common/cp1251.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "screenlogic/table_rows.h"

namespace kestrel {

using namespace cp1251_literals;

void SetFreezeFrameNumber(vorta::RequestTable& table, std::uint8_t frame) {
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  for (int e = 1; e < count; ++e) table.Entries[e].Data[5] = frame;
}

void PrepareFreezeRead(vorta::RequestTable& table, const ParameterTable& rows, std::uint8_t* store,
                       std::uint8_t frame) {
  const int count = std::min<int>(table.Count, vorta::kMaxRequests);
  for (int e = 0; e < count; ++e) SetSkip(table.Entries[e], 0);
  for (unsigned pid = 0; pid < 256; ++pid) {
    vorta::Slot(store, vorta::kAreaMode02,
                vorta::Mode02Slot(static_cast<std::uint8_t>(pid), frame))[vorta::kSlotCountByte] =
        0;
  }
  SkipInactiveRows(table, rows);
}

std::string FreezeExportTitle(std::uint8_t frame) {
  return std::string("Стоп-Кадр №"_cpsv) + std::to_string(frame) + " параметров"_cp;
}

ExportResult WriteFreezeExport(std::string_view car, std::string_view ecuType, std::uint8_t frame,
                               const ParameterTable& rows, std::string_view folder) {
  return WriteTableExport(kExportFreeze, car, ecuType, FreezeExportTitle(frame), rows, true,
                          folder);
}

}  // namespace kestrel
