// The graphs window's logic: the eight channels and what they poll, the
// decisions of each tick of Timer1, the sampling and drawing of both charts,
// recording into a "*.rtd" file and playing one back with Timer2, with the
// slider's position, and the spreadsheet export of a recording. TForm9 (screens/graphs.h) shows it
// and takes input; kestrel-cli's "record" command makes the same recordings headless.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "config/parameter_lists.h"
#include "link/recording.h"
#include "module/vorta.h"
#include "screenlogic/chart.h"
#include "screenlogic/live.h"
#include "screenlogic/recording_export.h"
#include "screenlogic/sessions.h"
#include "screenlogic/table_rows.h"

namespace kestrel {

inline constexpr int kGraphTickMs = 100;
inline constexpr int kCharts = 2;
// A turn of the export: the window takes input between turns.
inline constexpr std::chrono::milliseconds kExportTurn{20};

// ---------------------------------------------------------------- channels

// The parameter of channel selector item `item`: none for item 0 ("Нет")
// and for an item past the live rows; else live row item - 1, read as the
// live table reads it.
std::optional<ParameterKey> ChannelKeyOf(int item, const ParameterTable& rows);

// The keys of the eight channels as their selectors stand.
GraphChannelKeys SelectedChannelKeys(const std::array<GraphChannelList, kGraphChannels>& lists,
                                     const ParameterTable& rows);

// The unit label of a channel: "-" for none, else column 4 of its row.
std::string ChannelUnit(int item, const ParameterTable& rows);

// The selector item of a recorded channel: 1 + the first live row whose four
// bytes equal the descriptor; 0 ("Нет") when none does, for a descriptor of
// four zero bytes (a channel recorded on "Нет") and for an item the
// selector (of `itemCount` items) does not hold.
int MatchChannel(const ChannelDescriptor& descriptor, const ParameterTable& rows, int itemCount);

// ---------------------------------------------------------------- the tick

// What a tick of Timer1 does with the controls and the flags (steps 2 to 7).
struct GraphControls {
  Enable Record = Enable::Keep;
  Enable Stop = Enable::Keep;
  Enable Open = Enable::Keep;
  Enable Play = Enable::Keep;
  Enable Selectors = Enable::Keep;
  Enable Export = Enable::Keep;
  Enable StartStop = Enable::Keep;
  Enable Exit = Enable::Keep;
  Enable Pause = Enable::Keep;
  bool EndRecording = false;  // RecordEnabled = 0: the link left the exchange
  bool EndPlaying = false;    // Playing = 0: a link session started
  bool StopPolling = false;   // a link error ended the session: RunFlag = 0, the start glyph
  bool Sample = false;        // sample the channels and draw both charts
};

GraphControls GraphTickControls(std::uint16_t status, std::uint8_t recordEnabled,
                                std::uint8_t playing, std::uint8_t exportBusy,
                                std::uint8_t runFlag);

// ---------------------------------------------------------------- recording

// The name of a recording started at `when`: DDMMYY_HHMMSS.rtd, from the
// date and time values (two digits each, the year's last two).
std::string RecordingName(const std::tm& when);

// Where the window records: the folder "Kadr" beside the program (the
// working folder) and RecordingName, as a full path in code page 1251;
// when that file exists, "_2", "_3", ... before ".rtd". Creates "Kadr" when
// it is missing.
std::string RecordingPath(const std::tm& when);

// The header of a recording: the playback interval P2 + P3 (16 bits) and
// the channels' four bytes, zeros for a channel on "Нет".
RtdHeader RecordingHeader(const GraphChannelKeys& channels, std::int32_t p2, std::int32_t p3);

// Creates the recording `file` (a code page 1251 path) with its header and
// turns recording on: RecordFileName = file, then RecordEnabled = 1, so the
// receiver appends every response frame. On failure returns false with the
// message for the error box (the file and the system's reason); recording
// stays off and RecordFileName unchanged.
bool StartRecording(const std::string& file, const RtdHeader& header, std::string& error);

// ---------------------------------------------------------------- the slider

// The slider position under the mouse at x while it is dragged over a
// slider of `width` pixels and range 0..max: trunc(max / (width - 18) *
// (x - 9)), kept within the range.
std::int32_t SliderPosition(std::int32_t max, int width, int x);

// ---------------------------------------------------------------- the window's state

// What Timer2's tick did.
struct PlaybackStep {
  bool StopTimer = false;  // playback was over: Timer2 off, the file closed
  bool Ended = false;      // the file has no further record: Playing = 0
  bool Moved = false;      // the slider follows the record just read
};

class GraphsLogic {
 public:
  // Window-wide flags.
  std::uint8_t Playing = 0;
  std::uint8_t Dragging = 0;
  std::uint8_t ExportBusy = 0;

  Chart& Charts(int i) { return charts_[i]; }
  const Chart& Charts(int i) const { return charts_[i]; }

  // GrafInit: both charts cleared and drawn once with every value 0.
  void GrafInit();

  // A visibility box: the channel (0..7) is drawn or not; both charts are
  // drawn again whole at the next tick.
  void SetVisible(int channel, bool visible);

  // Step 7 of the tick: samples the eight channels (0 for a channel without
  // a parameter, else the module's Value for its key; no module gives 0) and
  // draws both charts. Returns what each chart's picture changed.
  std::array<ChartDamage, kCharts> SampleAndDraw(const GraphChannelKeys& channels,
                                                 vorta::ResponseMemory& memory,
                                                 vorta::PidValProc pidval);

  // The labels of channel 0..7 after the last drawing.
  const ChannelLabels& Labels(int channel) const;

  // ---- playback

  // Opens a recording (a path on disk; `shownName` names it in messages)
  // and reads its header. On failure returns false with the message;
  // nothing plays.
  bool OpenPlayback(const std::string& diskPath, std::string& error, std::string_view shownName);
  const RtdHeader& PlaybackHeader() const { return reader_.Header(); }
  // The index of the file's last record (0 for a file of the header alone).
  std::int32_t LastRecord() const;
  // Timer2's interval: the header's, at least 1 ms.
  int PlaybackIntervalMs() const;
  // After the channels are matched: GrafInit, the slider at 0, Playing = 1.
  // The slots a recording fills (Mode 01, Local 21, the channels' Common
  // 22) are marked empty first: what a past session left there belongs to
  // no part of the recording and would be drawn as its first values.
  void BeginPlayback(std::uint8_t* store, const GraphChannelKeys& channels);
  // Timer2's tick at `nowMs` (a steady clock): reads the next record, moves
  // the slider to it unless it is being dragged, and files it into the
  // response store. A timer fires late now and then, and cannot fire more
  // often than the event loop allows: a tick that finds more records due
  // at the file's pace (one per interval since playback started, was
  // resumed or moved) files all of them, up to kMaxCatchUp, so a recording
  // plays in its own time also at a 1 ms interval. Timer1 shows the
  // values 10 times a second either way.
  PlaybackStep PlaybackTick(std::uint8_t* store, double nowMs);
  static constexpr std::uint32_t kMaxCatchUp = 1000;
  // The pace starts again from the next tick (after a pause).
  void RestartPacing() { paceStartMs_ = -1; }
  // The end of a drag: Dragging = 0 and, while playing, the file positioned
  // at the slider's record (record 1 for position 0: the header is no
  // response) and GrafInit.
  void EndDrag();
  // Playing = 0 and the file closed.
  void EndPlayback();
  bool PlaybackOpen() const { return reader_.IsOpen(); }

  // The slider's position (its range is 0..LastRecord while playing).
  std::int32_t SliderPos = 0;

  // ---- spreadsheet export

  // Starts the export of the recording `file` (code page 1251) to the
  // workbook beside it; ExportBusy = 1 while it runs. Gives Running, or
  // Empty (a recording without records: nothing is written) or Failed
  // (ExportError says why), which leave ExportBusy 0.
  RecordingExport::State StartExport(const std::string& file, const ParameterTable& rows,
                                     vorta::ResponseMemory& memory, vorta::PidValProc pidval);
  // One turn of a running export (kExportTurn); when it has ended, Done or
  // Failed, ExportBusy = 0.
  RecordingExport::State ExportTurn();
  // An export still running is cancelled and leaves nothing; ExportBusy = 0.
  void CancelExport();
  bool Exporting() const { return export_.Current() == RecordingExport::State::Running; }
  int ExportPercent() const { return export_.Percent(); }
  const std::string& ExportError() const { return export_.Error(); }
  const std::string& ExportOutput() const { return export_.OutputName(); }

 private:
  std::array<Chart, kCharts> charts_;
  RtdReader reader_;
  double paceStartMs_ = -1;  // the time of record 0 at the current pace; -1: not started
  std::uint64_t pacePlayed_ = 0;
  RecordingExport export_;
};

}  // namespace kestrel
