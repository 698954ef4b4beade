// The spreadsheet (and CSV) export of an arbitrary recording, through the
// vehicle module's own PIDVAL (its code linked in, instrumented), with a
// live-data table whose rows cover the services a recording carries.
//
// Input: byte 0 chooses the workbook or the CSV table, the rest is the
// recording's bytes.
//
// Properties: the export ends (Done, Empty or Failed, never still running
// after every record was stepped through); progress never goes backwards and
// ends at 100 when done; a finished export leaves exactly its output file (a
// workbook is a zip archive, a CSV table has its heading and one line per
// line of the table, never more lines than data records) and no temporary
// file; an empty recording leaves nothing.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/fuzz_support.h"
#include "link/recording.h"
#include "module/vorta.h"
#include "screenlogic/recording_export.h"

namespace {

using namespace kestrel;
namespace fs = std::filesystem;

// Rows on the identifiers a recording of the shipped cars holds, with
// several formats, so that seeds whose header names them match channels.
const ParameterTable& Rows() {
  static ParameterTable* rows = [] {
    auto* t = new ParameterTable;
    const char* rows[][3] = {{" 010C", "00", "rpm"},  {" 0105", "00", "C"},
                             {" 2101", "00", "%"},    {" 2101", "03", "V"},
                             {" 2105", "01", "km/h"}, {" 221001", "00", "ms"},
                             {" 22F001", "08", "-"},  {" 0111", "00", "%"}};
    int n = 0;
    for (const auto& r : rows) {
      auto& c = t->Rows[n++].Cells;
      c[kColCode] = r[0];
      c[kColName] = std::string("p") + r[0];
      c[kColUnit] = r[2];
      c[kColSelector] = r[1];
    }
    t->RowCount = n;
    return t;
  }();
  return *rows;
}

std::size_t Lines(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

KESTREL_FUZZ_IN_SCRATCH_FOLDER("recording_export")

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::SparseStore store;
  if (size < 1 || size > 1 + 38 * 400) return -1;
  const bool csv = (data[0] & 1) != 0;
  fuzz::ClearWorkingFolder();
  store.Reset();
  fuzz::WriteFile("rec.rtd", fuzz::AsText(data + 1, size - 1));
  const std::size_t records = (size - 1) / kRtdRecordSize;

  RecordingExport e;
  using State = RecordingExport::State;
  State state = e.Start("rec.rtd", csv ? ExportFormat::Csv : ExportFormat::Xlsx, Rows(),
                        store.Memory(), &PIDVAL);
  int percent = e.Percent();
  // Steps of a few records, as a window takes them between events, then
  // time for the file's completion, which runs on a thread of its own.
  for (std::size_t steps = 0; state == State::Running && steps <= records / 7 + 1; ++steps) {
    state = e.Step(7);
    FUZZ_CHECK(e.Percent() >= percent && e.Percent() <= 100);
    percent = e.Percent();
  }
  for (int turn = 0; state == State::Running && turn < 100; ++turn) {
    state = e.StepFor(std::chrono::milliseconds(100));
    FUZZ_CHECK(e.Percent() >= percent && e.Percent() <= 100);
    percent = e.Percent();
  }
  FUZZ_CHECK(state == State::Done || state == State::Empty || state == State::Failed,
             std::to_string(static_cast<int>(state)));

  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(".")) {
    (void)entry;
    ++files;
  }
  if (state != State::Done) {
    FUZZ_CHECK(state != State::Empty || records <= 1);
    FUZZ_CHECK(files == 1, "an export that wrote nothing left a file behind");
    return 0;
  }
  FUZZ_CHECK(records > 1 && percent == 100);
  FUZZ_CHECK(files == 2, "a temporary file was left beside the output");
  const std::string out = fuzz::ReadFile(e.OutputName());
  if (csv) {
    FUZZ_CHECK(Lines(out) == e.Lines() + 1, std::to_string(Lines(out)));
  } else {
    FUZZ_CHECK(out.rfind("PK\x03\x04", 0) == 0, "the workbook is no zip archive");
  }
  FUZZ_CHECK(e.Lines() <= records - 1);
  return 0;
}
