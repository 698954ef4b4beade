// The freeze-frame window's own logic: the frame number in its requests, the
// preparation of a read and the export. Its rows work like the live table's
// (table_rows.h, with RowKeys::FreezeFrame). TForm6 (screens/freeze_frames.h)
// and kestrel-cli's "freeze" both use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/parameter_lists.h"
#include "module/vorta.h"
#include "screenlogic/export.h"

namespace kestrel {

// Writes the frame number into request byte 5 (the frame number of a service
// 02 request) of every freeze-frame request but the first, which keeps the
// frame number of the configuration file: entries 2 to Count. With Count 0
// or 1 nothing is written.
void SetFreezeFrameNumber(vorta::RequestTable& table, std::uint8_t frame);

// Before a read of `frame`: every request sent (Skip 0), except those of
// inactive rows, and the 256 Mode 02 slots of that frame marked empty, so that
// a PID the ECU does not answer reads as missing.
void PrepareFreezeRead(vorta::RequestTable& table, const ParameterTable& rows, std::uint8_t* store,
                       std::uint8_t frame);

// "Стоп-Кадр №" + the frame number in decimal + " параметров" (code page 1251).
std::string FreezeExportTitle(std::uint8_t frame);

// The export of the window: the header with car, ECU type and the title of
// `frame`, then every row in table order, inactive ones included, into the
// next free "kadrM2_<n>.txt" of `folder`.
ExportResult WriteFreezeExport(std::string_view car, std::string_view ecuType, std::uint8_t frame,
                               const ParameterTable& rows, std::string_view folder = kExportFolder);

}  // namespace kestrel
