#include "cli/export_command.h"

#include <unistd.h>

#include <chrono>
#include <iostream>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/recording_export.h"

namespace kestrel::cli {

using namespace cp1251_literals;

RecordingExportOutcome ExportRecordingFile(const std::string& recording, bool csv,
                                           bool (*interrupted)()) {
  // The interruption flag and the percentage are looked at between steps.
  constexpr std::chrono::milliseconds kStep{100};
  RecordingExportOutcome out;
  RecordingExport exporter;
  using State = RecordingExport::State;
  State state =
      exporter.Start(FromDiskPath(recording), csv ? ExportFormat::Csv : ExportFormat::Xlsx,
                     LiveRows, ResponseBlock, VehicleModule.PIDVAL);
  const bool showProgress = ::isatty(STDERR_FILENO) == 1;
  int shown = -1;
  while (state == State::Running) {
    if (interrupted()) {
      exporter.Cancel();
      break;
    }
    state = exporter.StepFor(kStep);
    if (showProgress && exporter.Percent() != shown) {
      shown = exporter.Percent();
      std::cerr << "\r" << shown << " %" << std::flush;
    }
  }
  if (showProgress && shown >= 0) std::cerr << "\r     \r" << std::flush;
  out.Result.path = exporter.OutputName();
  switch (exporter.Current()) {
    case State::Done:
      out.Result.ok = true;
      break;
    case State::Empty:
      out.Empty = true;
      break;
    case State::Cancelled:
      out.Result.error = std::string("Выгрузка прервана, файл не записан: "_cpsv) + out.Result.path;
      break;
    default:
      out.Result.error = exporter.Error();
      break;
  }
  return out;
}

}  // namespace kestrel::cli
