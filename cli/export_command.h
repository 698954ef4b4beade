// kestrel-cli export: a recording's table as the workbook (or CSV table) that
// the graphs window's export button writes, from the same code.
#pragma once

#include <string>

#include "screenlogic/export.h"

namespace kestrel::cli {

struct RecordingExportOutcome {
  ExportResult Result;  // the file written, or why nothing was
  bool Empty = false;   // the recording holds only its header: nothing written
};

// Exports `recording` (a path as the shell gives it) with the loaded live-data
// rows and the bound module, showing the percentage on standard error when
// that is a terminal. When `interrupted` returns true between steps the export
// is cancelled: nothing is left behind.
RecordingExportOutcome ExportRecordingFile(const std::string& recording, bool csv,
                                           bool (*interrupted)());

}  // namespace kestrel::cli
