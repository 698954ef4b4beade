// The recording export's own behaviour around the table: progress in steps,
// cancelling, failures that leave nothing half-written and an older file as it
// was, values the module cannot compute, and the output's name. The table's
// lines themselves are checked end to end (cli/tests/export_e2e_test.cpp).
#include "screenlogic/recording_export.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "common/cp1251.h"
#include "module/response_store.h"
#include "tests/support/support.h"
#include "tests/support/workbook.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace cp1251_literals;
using State = RecordingExport::State;
using testing::ReadRaw;
using testing::WriteRaw;

// A module that gives the first data byte of the slot asked for plus the
// format; format EE gives not-a-number and EF infinity.
void FakePidval(std::uint8_t* store) {
  vorta::ValueQuery& q = reinterpret_cast<vorta::ResponseMemory*>(store)->Query;
  const std::uint8_t* slot = q.Service == 0x22 ? vorta::Slot(store, vorta::kAreaCommon22,
                                                             vorta::Common22Slot(q.Id1, q.Id2))
                                               : vorta::Slot(store, vorta::kAreaLocal21, q.Id1);
  q.Value = q.Format == 0xEE ? std::nan("") : q.Format == 0xEF ? INFINITY : slot[0] + q.Format;
}

std::vector<std::uint8_t> Local(std::uint8_t id, std::uint8_t value) {
  return {0x83, 0xF1, 0x10, 0x61, id, value};
}

class RecordingExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& c = rows_->Rows[0].Cells;
    c[kColCode] = " 2101";
    c[kColName] = "Обороты"_cp;
    c[kColUnit] = "об/мин"_cp;
    c[kColSelector] = "00";
    rows_->Rows[1] = rows_->Rows[0];
    rows_->Rows[1].Cells[kColSelector] = "EE";
    rows_->Rows[2] = rows_->Rows[0];
    rows_->Rows[2].Cells[kColSelector] = "EF";
    rows_->RowCount = 3;
  }

  // A recording whose channels 1-3 are the three rows (all on 21 01).
  void Record(std::size_t records, const std::string& name = "rec.rtd") {
    RtdHeader h;
    h.IntervalMs = 50;
    h.Channels[0] = {0x21, 0x01, 0, 0x00};
    h.Channels[1] = {0x21, 0x01, 0, 0xEE};
    h.Channels[2] = {0x21, 0x01, 0, 0xEF};
    const RtdRecord head = h.Encode();
    std::string bytes(head.begin(), head.end());
    for (std::size_t i = 0; i < records; ++i) {
      const RtdRecord r = MakeRtdRecord(Local(0x01, static_cast<std::uint8_t>(i)).data(), 6);
      bytes.append(r.begin(), r.end());
    }
    WriteRaw(name, bytes);
  }

  State Start(RecordingExport& e, ExportFormat format, const std::string& name = "rec.rtd") {
    return e.Start(name, format, *rows_, *memory_, FakePidval);
  }

  // Steps to the end, as the program does.
  static State Finish(RecordingExport& e) {
    State s = e.Current();
    while (s == State::Running) s = e.StepFor(std::chrono::milliseconds(500));
    return s;
  }

  static std::set<std::string> Files() {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(".")) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  testing::ScratchDir dir_{"kestrel-xport"};
  std::unique_ptr<ParameterTable> rows_ = std::make_unique<ParameterTable>();
  std::unique_ptr<vorta::ResponseMemory> memory_ = std::make_unique<vorta::ResponseMemory>();
};

// Lowers the size a file of this process may grow to, as a full disk would
// stop it (this works for root too); writes past it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST_F(RecordingExportTest, RunsInStepsWithItsPercentageAndCancelsWithoutATrace) {
  Record(400);
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
    SCOPED_TRACE(format == ExportFormat::Csv ? "csv" : "xlsx");
    RecordingExport e;
    ASSERT_EQ(Start(e, format), State::Running) << cp1251::ToUtf8(e.Error());
    EXPECT_EQ(e.Percent(), 0);
    for (int percent : {25, 50, 75}) {
      EXPECT_EQ(e.Step(100), State::Running);
      EXPECT_EQ(e.Percent(), percent);
    }
    // The last records replayed, the file is completed on another thread;
    // nothing is visible under the output's name before the end.
    EXPECT_EQ(e.Step(100), State::Running);
    EXPECT_EQ(e.Percent(), 99);
    EXPECT_FALSE(fs::exists(e.OutputName()));
    EXPECT_EQ(Finish(e), State::Done);
    EXPECT_EQ(e.Percent(), 100);
    EXPECT_EQ(e.Lines(), 400u);  // every record repeats channel 1
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"rec.rtd", "rec.csv", "rec.xlsx"}));

  // Cancelled halfway or while the file is completed, or abandoned: the
  // older files stay as they were.
  WriteRaw("rec.csv", "old");
  WriteRaw("rec.xlsx", "old");
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
    for (std::size_t records : {150, 400}) {
      RecordingExport e;
      ASSERT_EQ(Start(e, format), State::Running);
      EXPECT_EQ(e.Step(records), State::Running);
      e.Cancel();
      EXPECT_EQ(e.Current(), State::Cancelled);
      EXPECT_EQ(e.StepFor(std::chrono::milliseconds(100)), State::Cancelled);
    }
    {
      RecordingExport abandoned;
      ASSERT_EQ(Start(abandoned, format), State::Running);
      abandoned.Step(150);
    }
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"rec.rtd", "rec.csv", "rec.xlsx"}));
  EXPECT_EQ(ReadRaw("rec.csv"), "old");
  EXPECT_EQ(ReadRaw("rec.xlsx"), "old");
}

TEST_F(RecordingExportTest, FailuresNameTheFileAndTheReasonAndLeaveTheOldFile) {
  struct Case {
    const char* what;
    ExportFormat format;
    std::function<void()> prepare;  // before Start
    std::function<void()> during;   // after Start
    bool diskFull;                  // files may not grow past 16 KB
    std::string message;            // UTF-8, as the error begins
  };
  const std::vector<Case> cases = {
      {"no recording",
       ExportFormat::Xlsx,
       [] { fs::remove("rec.rtd"); },
       {},
       false,
       "Не удается открыть файл \"rec.rtd\": нет такого файла или папки"},
      {"output name taken by a folder",
       ExportFormat::Xlsx,
       [] { fs::create_directory("rec.xlsx"); },
       {},
       false,
       "Не удается записать файл \"rec.xlsx\": это папка, а не файл"},
      {"recording cut short meanwhile",
       ExportFormat::Csv,
       {},
       [] { fs::resize_file("rec.rtd", 38 * 3); },
       false,
       "Не удается прочитать файл \"rec.rtd\": ошибка ввода-вывода"},
      {"disk full (workbook)",
       ExportFormat::Xlsx,
       [] { WriteRaw("rec.xlsx", "old"); },
       {},
       true,
       "Не удается записать файл \"rec.xlsx\": файл слишком велик"},
      {"disk full (CSV)",
       ExportFormat::Csv,
       [] { WriteRaw("rec.csv", "old"); },
       {},
       true,
       "Не удается записать файл \"rec.csv\": файл слишком велик"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all("rec.xlsx");
    fs::remove_all("rec.csv");
    Record(3000);
    if (c.prepare) c.prepare();
    const std::set<std::string> before = Files();
    const std::string output = c.format == ExportFormat::Xlsx ? "rec.xlsx" : "rec.csv";
    const auto content = [&output] {
      return fs::is_regular_file(output) ? ReadRaw(output) : std::string("-");
    };
    const std::string old = content();
    RecordingExport e;
    {
      std::unique_ptr<FileSizeLimit> limit;
      if (c.diskFull) limit = std::make_unique<FileSizeLimit>(16 * 1024);
      State s = Start(e, c.format);
      if (c.during) c.during();
      if (s == State::Running) s = Finish(e);
      EXPECT_EQ(s, State::Failed);
    }
    EXPECT_EQ(cp1251::ToUtf8(e.Error()).rfind(c.message, 0), 0u) << cp1251::ToUtf8(e.Error());
    EXPECT_EQ(Files(), before);
    EXPECT_TRUE(content() == old) << "the older file was changed";
  }
}

TEST_F(RecordingExportTest, AFolderTheUserCannotWriteFailsBeforeTheReplay) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  fs::create_directory("ro");
  Record(10, "ro/rec.rtd");
  ::chmod("ro", 0555);
  RecordingExport e;
  EXPECT_EQ(Start(e, ExportFormat::Xlsx, "ro/rec.rtd"), State::Failed);
  ::chmod("ro", 0755);
  EXPECT_EQ(cp1251::ToUtf8(e.Error()),
            "Не удается записать файл \"ro/rec.xlsx\": нет прав доступа");
}

TEST_F(RecordingExportTest, ValuesTheModuleCannotComputeLeaveTheirCellEmpty) {
  Record(2);
  for (ExportFormat format : {ExportFormat::Csv, ExportFormat::Xlsx}) {
    RecordingExport e;
    ASSERT_EQ(Start(e, format), State::Running);
    ASSERT_EQ(Finish(e), State::Done) << cp1251::ToUtf8(e.Error());
  }
  // Channels 2 and 3 (not a number, infinite) keep their times only.
  const std::string csv = ReadRaw("rec.csv");
  const std::string empty5(10, ',');  // channels 4-8
  EXPECT_EQ(csv.substr(csv.find('\n') + 1),
            "0,0,0,0,,0," + empty5 + "\n" + "1,50,1,50,,50," + empty5 + "\n");
  const testing::Workbook book = testing::ReadWorkbook("rec.xlsx");
  ASSERT_EQ(book.Error, "");
  EXPECT_EQ(book.Number("Данные", "F15"), 50);
  EXPECT_FALSE(book.Has("Данные", "G15"));
  EXPECT_EQ(book.Number("Данные", "C15"), 1);
}

TEST(RecordingExportName, BesideTheRecordingWithItsOwnExtension) {
  const struct {
    const char* recording;
    const char* xlsx;
  } cases[] = {
      {"Kadr/050312_140510.rtd", "Kadr/050312_140510.xlsx"},
      {"C:\\Kestrel\\Kadr\\a.RTD", "C:\\Kestrel\\Kadr\\a.xlsx"},
      {"rec", "rec.xlsx"},                          // no extension: one is added
      {"my.records/run1", "my.records/run1.xlsx"},  // a dot in a folder is no extension
      {"a.b.rtd", "a.b.xlsx"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExportOutputName(c.recording, ExportFormat::Xlsx), c.xlsx) << c.recording;
  }
  EXPECT_EQ(ExportOutputName("Kadr/x.rtd", ExportFormat::Csv), "Kadr/x.csv");
}

}  // namespace
}  // namespace kestrel
