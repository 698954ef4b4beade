// Export of a recording (*.rtd) to a spreadsheet workbook or a CSV table.
//
// Every record of the recording is replayed as playback does: filed into the
// response store (FileRtdRecord) and, for each channel whose service and
// identifiers it carries, asked of the vehicle module's PIDVAL with the
// channel's format. The time advances by the header's playback interval for
// every record read, whether it matched a channel or not.
//
// The table is made of lines. A line holds, per channel, the most recent value
// and the time it was received; it ends as soon as a channel receives its
// second value, and the next line starts as a copy of the finished one. So a
// channel keeps its last value in every later line until it gets a new one.
//
// The workbook (Office Open XML, written in constant-memory mode, so each line
// goes out as soon as it is finished) has the sheet "Данные":
//   row 1       title; row 2: the recording's name, its date and time, the interval
//   B3..B10     channel names, P3..P10 their units (A3..A10 "Канал 1".."Канал 8")
//   row 13      headings: "№", then a time and a value heading per channel
//   row t + 14  line t: its number in column A, then time (ms) and value of
//               channel 1 in B and C, channel 2 in D and E, ... channel 8 in P and Q
// with the panes frozen below row 13, and the sheet "Графики": one line chart
// per channel that has values, each with its own value axis (channels differ
// by orders of magnitude, engine speed beside a sensor voltage) over a common
// time axis, every line of the table plotted.
//
// The CSV table (UTF-8, comma-separated, fields quoted where needed) holds a
// heading row and the same lines.
//
// The output lies beside the recording: the same name with the extension
// "xlsx" (or "csv") in place of the recording's. It is written under a
// temporary name and renamed over an existing file only when complete, so an
// export that fails or is cancelled leaves nothing behind and an older file
// as it was.
//
// The replay runs on the caller's thread (it uses the response store and the
// module like playback), in steps. Completing the file (for a workbook: its
// charts and the compression of every sheet, seconds for a long recording)
// runs on a thread of its own, which touches nothing but the output, so a
// window that steps the export stays responsive to the end.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "config/parameter_lists.h"
#include "link/recording.h"
#include "module/vorta.h"
#include "screenlogic/table_rows.h"

namespace kestrel {

enum class ExportFormat { Xlsx, Csv };

// One channel of an export. A channel is matched to the first live-data row
// whose four bytes equal its descriptor and takes that row's bytes, name and
// unit; without a match it gets Service 255 (which no record carries), zero
// identifiers and format, the name "Нет" and the unit "-". Texts code page 1251.
struct ExportChannel {
  ParameterKey Key;
  std::string Name;
  std::string Unit;
};
using ExportChannelSet = std::array<ExportChannel, kRtdChannels>;

ExportChannelSet ExportChannelsOf(const RtdHeader& header, const ParameterTable& rows);

// The output file of a recording (code page 1251 path): its extension (the
// part of the last name from its last '.') replaced by "xlsx" or "csv", or the
// extension added when the name has none.
std::string ExportOutputName(std::string_view recording, ExportFormat format);

// One export, run in steps so that a window can show its progress and keep
// handling input meanwhile. It writes into the response store and query it is
// given, as playback does; nothing else may use them until it ends.
class RecordingExport {
 public:
  enum class State {
    Idle,       // not started
    Running,    // Step to go on
    Done,       // the output file is complete
    Empty,      // the recording holds no record after its header: nothing written
    Failed,     // Error() says why; nothing written, an older output file kept
    Cancelled,  // nothing written, an older output file kept
  };

  RecordingExport();
  ~RecordingExport();  // cancels an export still running
  RecordingExport(const RecordingExport&) = delete;
  RecordingExport& operator=(const RecordingExport&) = delete;

  // Opens the recording (code page 1251 path), sets up the channels from its
  // header and `rows`, and creates the output under its temporary name with
  // the rows above the table. Gives Running, Empty or Failed.
  State Start(const std::string& recording, ExportFormat format, const ParameterTable& rows,
              vorta::ResponseMemory& memory, vorta::PidValProc pidval);

  // Replays up to `records` further records; after the last one writes the
  // last line and starts completing the file. Once that has started it only
  // looks whether it is through (never waits) and then puts the file in
  // place. Gives Running, Done or Failed.
  State Step(std::size_t records);

  // Steps for about `budget` (at least one batch of records): replays
  // records, then waits for the file's completion for what is left of the
  // budget. A window calls it on a timer with a budget short enough for its
  // input; a command line in a loop that looks for an interruption between
  // calls.
  State StepFor(std::chrono::milliseconds budget);

  // Ends a running export: the temporary file is removed (by the completing
  // thread when it is still at work; the destructor waits for it).
  void Cancel();

  State Current() const;
  // Records replayed of the recording's data records, in whole percent; 99
  // at most until the file is complete.
  int Percent() const;
  // The output file (code page 1251), known from Start.
  const std::string& OutputName() const;
  // For Failed: the file concerned and the reason, code page 1251.
  const std::string& Error() const;
  // Lines of the table written so far.
  std::uint64_t Lines() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrel
