#include "screenlogic/recording_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "common/system_error.h"
#include "screenlogic/chart.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

// The service of a channel that matched no row: no record carries it.
constexpr std::uint8_t kNoService = 255;

// Sheet rows (0-based): the channel block and the headings; line t is on row
// kFirstLineRow + t.
constexpr lxw_row_t kChannelRow = 2;
constexpr lxw_row_t kHeadingRow = 12;
constexpr lxw_row_t kFirstLineRow = 13;
// Lines a sheet has room for.
constexpr std::uint64_t kMaxLines = LXW_ROW_MAX - kFirstLineRow;

lxw_col_t TimeColumn(int channel) {
  return static_cast<lxw_col_t>(1 + 2 * channel);
}
lxw_col_t ValueColumn(int channel) {
  return static_cast<lxw_col_t>(2 + 2 * channel);
}

// A channel's colour as the graphs window draws it (channels 5-8 repeat
// 1-4), in the workbook's RGB order.
constexpr lxw_color_t ChannelColour(int channel) {
  const TColor c = kChartPens[channel % kChartChannels];
  return (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}
static_assert(ChannelColour(0) == 0xFF0000 && ChannelColour(5) == 0x0000FF);

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Makes sure the data written to `path` is on the disk: a full disk or a
// failing device shows here at the latest. 0 or the error number.
int SyncFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = ::fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

// One line of the table.
struct ExportLine {
  std::uint64_t Number = 0;
  std::array<bool, kRtdChannels> Has{};  // the channel has had a value
  std::array<std::uint64_t, kRtdChannels> TimeMs{};
  std::array<double, kRtdChannels> Value{};
};

// The line rule: a channel's value goes into the current line; a channel that
// already has a value in it finishes the line first, and the next line starts
// as a copy of the finished one.
class LineBuilder {
 public:
  // True when the value finished a line, which is then in `finished`.
  bool Add(int channel, std::uint64_t time, double value, ExportLine& finished) {
    bool ended = false;
    if (written_[channel]) {
      finished = current_;
      written_ = {};
      ++current_.Number;
      ended = true;
    }
    current_.Has[channel] = true;
    current_.TimeMs[channel] = time;
    current_.Value[channel] = value;
    written_[channel] = true;
    started_ = true;
    return ended;
  }
  bool Started() const { return started_; }
  const ExportLine& Current() const { return current_; }

 private:
  ExportLine current_;
  std::array<bool, kRtdChannels> written_{};
  bool started_ = false;
};

// What the rows above the table show.
struct SheetHead {
  std::string RecordingName;  // code page 1251
  std::time_t Modified = 0;
  std::uint16_t IntervalMs = 0;
  const ExportChannelSet* Channels = nullptr;
};

// Where the lines go. Each writes a temporary file, which Complete finishes
// and syncs (it may run on another thread: it uses nothing but the sink) and
// Rename puts over the output; Discard removes it. Failures leave their
// reason (code page 1251) in Reason().
class Sink {
 public:
  explicit Sink(std::string diskOutput) : output_(std::move(diskOutput)), temp_(output_ + ".$$$") {}
  virtual ~Sink() = default;
  virtual bool Open(const SheetHead& head) = 0;
  virtual bool Write(const ExportLine& line) = 0;
  // Whether what was written so far reached the disk's buffers without error.
  virtual bool Check() = 0;
  // The file complete and on the disk under its temporary name; after a
  // failure Discard removes what is left.
  virtual bool Complete() = 0;
  virtual void Discard() = 0;
  const std::string& Reason() const { return reason_; }

  // The completed file renamed over the output.
  bool Rename() {
    if (std::rename(temp_.c_str(), output_.c_str()) == 0) return true;
    const int err = errno;
    std::remove(temp_.c_str());
    return Fail(err);
  }

 protected:
  bool Fail(int err) {
    reason_ = SystemErrorText(err != 0 ? err : EIO);
    return false;
  }
  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }
  // Syncs the temporary file; on failure removes it.
  bool SyncTemp() {
    const int err = SyncFile(temp_);
    if (err == 0) return true;
    std::remove(temp_.c_str());
    return Fail(err);
  }

  std::string output_;
  std::string temp_;
  std::string reason_;
};

// ---------------------------------------------------------------- workbook

class XlsxSink final : public Sink {
 public:
  using Sink::Sink;
  ~XlsxSink() override { Discard(); }

  bool Open(const SheetHead& head) override {
    channels_ = head.Channels;
    // Created now, so that a folder that cannot take the file fails before
    // the replay; the library writes it when the workbook is closed.
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return Fail(errno);
    ::close(fd);
    // The library's own temporary files go beside the output, on the disk
    // that has to take the workbook anyway.
    tmpdir_ = std::filesystem::path(output_).parent_path().string();
    if (tmpdir_.empty()) tmpdir_ = ".";
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tmpdir_.data();
    errno = 0;
    workbook_ = workbook_new_opt(temp_.c_str(), &options);
    if (workbook_ == nullptr) return Fail(errno != 0 ? errno : ENOMEM);
    data_ = workbook_add_worksheet(workbook_, kDataSheet);
    if (data_ == nullptr) return Fail(errno);
    MakeFormats();
    return WriteHead(head);
  }

  bool Write(const ExportLine& line) override {
    if (line.Number >= kMaxLines) {
      return Fail(
          "в записи больше строк, чем вмещает лист книги (1048563); её можно выгрузить в CSV"_cp);
    }
    const auto row = static_cast<lxw_row_t>(kFirstLineRow + line.Number);
    lxw_error e = worksheet_write_number(data_, row, 0, static_cast<double>(line.Number), number_);
    for (int c = 0; c < kRtdChannels && e == LXW_NO_ERROR; ++c) {
      if (!line.Has[c]) continue;
      if (firstRow_[c] < 0) firstRow_[c] = row;
      lastTime_ = std::max(lastTime_, line.TimeMs[c]);
      e = worksheet_write_number(data_, row, TimeColumn(c), static_cast<double>(line.TimeMs[c]),
                                 time_);
      // A value the module could not compute (infinite or not a number) has
      // no cell: the file format has no way to hold it.
      if (e == LXW_NO_ERROR && std::isfinite(line.Value[c])) {
        e = worksheet_write_number(data_, row, ValueColumn(c), line.Value[c], value_);
      }
    }
    lastRow_ = row;
    return e == LXW_NO_ERROR || Failed(e, 0);
  }

  bool Check() override {
    // In constant-memory mode the rows go into a temporary file whose write
    // errors the library does not look at; a full disk shows here.
    std::FILE* rows = data_ != nullptr ? data_->optimize_tmpfile : nullptr;
    if (rows != nullptr && (std::fflush(rows) != 0 || std::ferror(rows))) return Fail(errno);
    return true;
  }

  bool Complete() override {
    if (!AddCharts() || !Check()) return false;
    errno = 0;
    const lxw_error e = workbook_close(workbook_);
    const int err = errno;
    workbook_ = nullptr;
    data_ = nullptr;
    if (e != LXW_NO_ERROR) {
      Failed(e, err);
      std::remove(temp_.c_str());
      return false;
    }
    return SyncTemp();
  }

  void Discard() override {
    if (workbook_ != nullptr) lxw_workbook_free(workbook_);
    workbook_ = nullptr;
    data_ = nullptr;
    std::remove(temp_.c_str());
  }

 private:
  static constexpr const char* kDataSheet = "Данные";
  static constexpr const char* kChartSheet = "Графики";
  // Charts are 288 pixels high, one every 15 rows of 20 pixels; a printed
  // page holds two of them.
  static constexpr int kChartRows = 15;
  static inline lxw_row_t kChartPageBreaks[] = {2 * kChartRows, 4 * kChartRows, 6 * kChartRows, 0};

  // The reason for a library error; `err` the system's error number where
  // the library met one (0 when not known).
  bool Failed(lxw_error e, int err) {
    if (e == LXW_ERROR_MEMORY_MALLOC_FAILED) return Fail(ENOMEM);
    if (err != 0) return Fail(err);
    return Fail(std::string("ошибка библиотеки книг: "_cpsv) + lxw_strerror(e));
  }

  lxw_format* Format(const char* numFormat = nullptr) {
    lxw_format* f = workbook_add_format(workbook_);
    if (numFormat != nullptr) format_set_num_format(f, numFormat);
    return f;
  }

  void MakeFormats() {
    title_ = Format();
    format_set_bold(title_);
    format_set_font_size(title_, 14);
    label_ = Format();
    format_set_bold(label_);
    heading_ = Format();
    format_set_bold(heading_);
    format_set_align(heading_, LXW_ALIGN_CENTER);
    format_set_align(heading_, LXW_ALIGN_VERTICAL_CENTER);
    format_set_text_wrap(heading_);
    format_set_bg_color(heading_, 0xD9D9D9);
    format_set_bottom(heading_, LXW_BORDER_THIN);
    number_ = Format("0");
    time_ = Format("#,##0");
    value_ = Format("0.0##");
    date_ = Format("dd.mm.yyyy");
    clock_ = Format("hh:mm:ss");
    interval_ = Format("0\" мс\"");
    for (int i = 0; i < 4; ++i) {
      channelLabel_[i] = Format();
      format_set_bold(channelLabel_[i]);
      format_set_font_color(channelLabel_[i], ChannelColour(i));
    }
  }

  bool WriteHead(const SheetHead& head) {
    lxw_worksheet* ws = data_;
    worksheet_set_column(ws, 0, 0, 8, nullptr);
    worksheet_set_column(ws, 1, ValueColumn(kRtdChannels - 1), 11, nullptr);
    worksheet_freeze_panes(ws, kFirstLineRow, 0);
    worksheet_repeat_rows(ws, kHeadingRow, kHeadingRow);
    worksheet_set_landscape(ws);
    worksheet_fit_to_pages(ws, 1, 0);

    std::tm when{};
    localtime_r(&head.Modified, &when);
    lxw_datetime stamp{when.tm_year + 1900, when.tm_mon + 1, when.tm_mday,
                       when.tm_hour,        when.tm_min,     static_cast<double>(when.tm_sec)};
    lxw_error e = worksheet_write_string(ws, 0, 0, "Графики параметров реального времени", title_);
    const std::string name = cp1251::ToUtf8(head.RecordingName);
    for (lxw_error step : {worksheet_write_string(ws, 1, 0, "Запись:", label_),
                           worksheet_write_string(ws, 1, 1, name.c_str(), nullptr),
                           worksheet_write_string(ws, 1, 4, "Дата:", label_),
                           worksheet_write_datetime(ws, 1, 5, &stamp, date_),
                           worksheet_write_datetime(ws, 1, 6, &stamp, clock_),
                           worksheet_write_string(ws, 1, 8, "Интервал:", label_),
                           worksheet_write_number(ws, 1, 9, head.IntervalMs, interval_),
                           worksheet_write_string(ws, 1, 15, "Ед. изм.", label_)}) {
      if (e == LXW_NO_ERROR) e = step;
    }
    for (int c = 0; c < kRtdChannels && e == LXW_NO_ERROR; ++c) {
      const ExportChannel& ch = (*head.Channels)[c];
      const auto row = static_cast<lxw_row_t>(kChannelRow + c);
      const std::string label = "Канал " + std::to_string(c + 1);
      const std::string channelName = cp1251::ToUtf8(ch.Name);
      const std::string unit = cp1251::ToUtf8(ch.Unit);
      e = worksheet_write_string(ws, row, 0, label.c_str(), channelLabel_[c % 4]);
      if (e == LXW_NO_ERROR) e = worksheet_write_string(ws, row, 1, channelName.c_str(), nullptr);
      if (e == LXW_NO_ERROR) e = worksheet_write_string(ws, row, 15, unit.c_str(), nullptr);
    }
    if (e == LXW_NO_ERROR) e = worksheet_set_row(ws, kHeadingRow, 30, nullptr);
    if (e == LXW_NO_ERROR) e = worksheet_write_string(ws, kHeadingRow, 0, "№", heading_);
    for (int c = 0; c < kRtdChannels && e == LXW_NO_ERROR; ++c) {
      const std::string n = std::to_string(c + 1);
      e = worksheet_write_string(ws, kHeadingRow, TimeColumn(c), ("Время " + n + ", мс").c_str(),
                                 heading_);
      if (e == LXW_NO_ERROR) {
        e = worksheet_write_string(ws, kHeadingRow, ValueColumn(c), ("Значение " + n).c_str(),
                                   heading_);
      }
    }
    return e == LXW_NO_ERROR || Failed(e, 0);
  }

  // The sheet of charts: one per channel with values, each with its own value
  // axis, all over the same time span so that they line up when stacked.
  bool AddCharts() {
    lxw_worksheet* sheet = nullptr;
    int shown = 0;
    for (int c = 0; c < kRtdChannels; ++c) {
      if (firstRow_[c] < 0) continue;
      if (sheet == nullptr) {
        sheet = workbook_add_worksheet(workbook_, kChartSheet);
        if (sheet == nullptr) return Fail(errno);
        worksheet_set_landscape(sheet);
        worksheet_fit_to_pages(sheet, 1, 0);
        worksheet_set_h_pagebreaks(sheet, kChartPageBreaks);
      }
      lxw_chart* chart = workbook_add_chart(workbook_, LXW_CHART_SCATTER_STRAIGHT);
      if (chart == nullptr) return Fail(ENOMEM);
      lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
      if (series == nullptr) return Fail(ENOMEM);
      const auto first = static_cast<lxw_row_t>(firstRow_[c]);
      chart_series_set_categories(series, kDataSheet, first, TimeColumn(c), lastRow_,
                                  TimeColumn(c));
      chart_series_set_values(series, kDataSheet, first, ValueColumn(c), lastRow_, ValueColumn(c));
      lxw_chart_line line{};
      line.color = ChannelColour(c);
      line.width = 1.0f;
      chart_series_set_line(series, &line);

      const ExportChannel& ch = (*channels_)[c];
      const std::string unit = ch.Unit == "-" ? std::string() : cp1251::ToUtf8(ch.Unit);
      std::string title = std::to_string(c + 1) + ". " + cp1251::ToUtf8(ch.Name);
      if (!unit.empty()) title += ", " + unit;
      chart_title_set_name(chart, title.c_str());
      lxw_chart_font titleFont{};
      titleFont.size = 11;
      titleFont.bold = LXW_EXPLICIT_FALSE;
      chart_title_set_name_font(chart, &titleFont);
      chart_legend_set_position(chart, LXW_CHART_LEGEND_NONE);
      chart_axis_set_name(chart->x_axis, "Время, мс");
      chart_axis_set_num_format(chart->x_axis, "#,##0");
      chart_axis_set_min(chart->x_axis, 0);
      if (lastTime_ > 0) chart_axis_set_max(chart->x_axis, static_cast<double>(lastTime_));
      chart_axis_set_label_position(chart->y_axis, LXW_CHART_AXIS_LABEL_POSITION_LOW);
      if (!unit.empty()) chart_axis_set_name(chart->y_axis, unit.c_str());

      lxw_chart_options place{};
      place.x_scale = 2.2;
      place.y_scale = 1.0;
      const lxw_error e = worksheet_insert_chart_opt(
          sheet, static_cast<lxw_row_t>(kChartRows * shown), 0, chart, &place);
      if (e != LXW_NO_ERROR) return Failed(e, 0);
      ++shown;
    }
    return true;
  }

  lxw_workbook* workbook_ = nullptr;
  lxw_worksheet* data_ = nullptr;
  std::string tmpdir_;
  const ExportChannelSet* channels_ = nullptr;
  lxw_format *title_ = nullptr, *label_ = nullptr, *heading_ = nullptr;
  lxw_format *number_ = nullptr, *time_ = nullptr, *date_ = nullptr, *clock_ = nullptr;
  lxw_format *value_ = nullptr, *interval_ = nullptr;
  std::array<lxw_format*, 4> channelLabel_{};
  std::array<std::int64_t, kRtdChannels> firstRow_ = [] {
    std::array<std::int64_t, kRtdChannels> rows{};
    rows.fill(-1);
    return rows;
  }();
  lxw_row_t lastRow_ = 0;
  std::uint64_t lastTime_ = 0;
};

// ---------------------------------------------------------------- CSV

// A CSV field: quoted when it holds a comma, a quote or a line end.
void AppendField(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (char ch : text) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

template <typename T>
void AppendNumber(std::string& out, T value) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

class CsvSink final : public Sink {
 public:
  using Sink::Sink;
  ~CsvSink() override { Discard(); }

  bool Open(const SheetHead& head) override {
    file_ = std::fopen(temp_.c_str(), "wbe");
    if (file_ == nullptr) return Fail(errno);
    std::string text = "№";
    for (int c = 0; c < kRtdChannels; ++c) {
      const ExportChannel& ch = (*head.Channels)[c];
      std::string value = cp1251::ToUtf8(ch.Name);
      if (!ch.Unit.empty() && ch.Unit != "-") value += ", " + cp1251::ToUtf8(ch.Unit);
      text += ',';
      AppendField(text, "Время " + std::to_string(c + 1) + ", мс");
      text += ',';
      AppendField(text, value);
    }
    text += '\n';
    return Put(text);
  }

  bool Write(const ExportLine& line) override {
    line_.clear();
    AppendNumber(line_, line.Number);
    for (int c = 0; c < kRtdChannels; ++c) {
      line_ += ',';
      if (line.Has[c]) AppendNumber(line_, line.TimeMs[c]);
      line_ += ',';
      if (line.Has[c] && std::isfinite(line.Value[c])) AppendNumber(line_, line.Value[c]);
    }
    line_ += '\n';
    return Put(line_);
  }

  bool Check() override {
    if (std::fflush(file_) != 0 || std::ferror(file_)) return Fail(errno);
    return true;
  }

  bool Complete() override {
    if (!Check()) return false;
    const int err = std::fclose(file_) == 0 ? 0 : errno;
    file_ = nullptr;
    if (err != 0) {
      std::remove(temp_.c_str());
      return Fail(err);
    }
    return SyncTemp();
  }

  void Discard() override {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    std::remove(temp_.c_str());
  }

 private:
  bool Put(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) return Fail(errno);
    return true;
  }

  std::FILE* file_ = nullptr;
  std::string line_;
};

}  // namespace

ExportChannelSet ExportChannelsOf(const RtdHeader& header, const ParameterTable& rows) {
  ExportChannelSet set;
  for (int c = 0; c < kRtdChannels; ++c) {
    const int r = LiveRowOf(header.Channels[c], rows);
    if (r < 0) {
      set[c] = {{kNoService, 0, 0, 0}, "Нет"_cp, "-"};
    } else {
      set[c] = {header.Channels[c], rows.Rows[r].Cells[kColName], rows.Rows[r].Cells[kColUnit]};
    }
  }
  return set;
}

std::string ExportOutputName(std::string_view recording, ExportFormat format) {
  const std::size_t slash = recording.find_last_of("/\\");
  const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const std::size_t dot = recording.rfind('.');
  const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
  std::string name(recording.substr(0, hasExtension ? dot : recording.size()));
  name += format == ExportFormat::Xlsx ? ".xlsx" : ".csv";
  return name;
}

struct RecordingExport::Impl {
  State state = State::Idle;
  std::string recording;
  std::string output;
  std::string error;
  RtdReader reader;
  ExportChannelSet channels;
  vorta::ResponseMemory* memory = nullptr;
  vorta::PidValProc pidval = nullptr;
  std::unique_ptr<Sink> sink;
  LineBuilder lines;
  ExportLine finished;
  std::uint64_t written = 0;  // lines handed to the sink
  std::uint64_t timeMs = 0;   // 64 bits: 32 would wrap on a long recording at a long interval
  std::uint16_t intervalMs = 0;
  std::size_t dataRecords = 0;
  std::size_t replayed = 0;

  // Completing the file: `finishing` from the replay's end on. The
  // completing thread alone uses the sink until it has set `completed`
  // (under `mutex`); a cancel meanwhile leaves the temporary file for it to
  // remove.
  bool finishing = false;
  std::thread completer;
  std::mutex mutex;
  std::condition_variable completedSignal;
  bool completed = false;          // guarded by mutex
  bool completeCancelled = false;  // guarded by mutex
  bool completeOk = false;         // written before `completed`

  ~Impl() {
    if (completer.joinable()) completer.join();
  }

  State Fail(std::string message) {
    error = std::move(message);
    if (sink) sink->Discard();
    sink.reset();
    reader.Close();
    state = State::Failed;
    return state;
  }
  State WriteFailed() {
    return Fail(FileErrorText("Не удается записать файл"_cpsv, output, sink->Reason()));
  }

  // Files one record and hands its values to the line rule.
  bool Replay(const RtdRecord& record) {
    if (FileRtdRecord(record, memory->Store)) {
      const std::uint8_t service = record[3] & 0xBF;
      const std::uint8_t id1 = record[4];
      const std::uint8_t id2 = record[3] == 0x62 ? record[5] : 0;
      for (int c = 0; c < kRtdChannels; ++c) {
        const ParameterKey& key = channels[c].Key;
        if (key.Service != service || key.Id1 != id1 || key.Id2 != id2) continue;
        const double value = QueryModule(*memory, pidval, key).Value;
        if (lines.Add(c, timeMs, value, finished)) {
          if (!sink->Write(finished)) return false;
          ++written;
        }
      }
    }
    timeMs += intervalMs;
    return true;
  }

  void Completed(bool ok) {
    bool cancelled = false;
    {
      std::lock_guard lock(mutex);
      completeOk = ok;
      completed = true;
      cancelled = completeCancelled;
    }
    if (cancelled) sink->Discard();
    completedSignal.notify_all();
  }

  // The last line written: the file is completed on a thread of its own.
  void StartCompleting() {
    finishing = true;
    try {
      completer = std::thread([this] { Completed(sink->Complete()); });
    } catch (const std::system_error&) {
      Completed(sink->Complete());  // no thread to be had: here, then
    }
  }

  // Waits up to `wait` for the file's completion; when it is through puts
  // the file in place.
  State Collect(std::chrono::steady_clock::duration wait) {
    {
      std::unique_lock lock(mutex);
      if (!completedSignal.wait_for(lock, wait, [this] { return completed; })) return state;
    }
    if (completer.joinable()) completer.join();
    if (!completeOk || !sink->Rename()) return WriteFailed();
    sink.reset();
    state = State::Done;
    return state;
  }

  // A cancel: the temporary file goes, now or when the completing thread is
  // through with it.
  void Abandon() {
    if (finishing) {
      bool through = false;
      {
        std::lock_guard lock(mutex);
        completeCancelled = true;
        through = completed;
      }
      if (!through) return;  // the thread removes its file and is joined later
      if (completer.joinable()) completer.join();
    }
    sink->Discard();
    sink.reset();
  }
};

RecordingExport::RecordingExport() : impl_(std::make_unique<Impl>()) {}

RecordingExport::~RecordingExport() {
  Cancel();
}

RecordingExport::State RecordingExport::Start(const std::string& recording, ExportFormat format,
                                              const ParameterTable& rows,
                                              vorta::ResponseMemory& memory,
                                              vorta::PidValProc pidval) {
  Cancel();
  impl_ = std::make_unique<Impl>();
  Impl& x = *impl_;
  x.recording = recording;
  x.output = ExportOutputName(recording, format);
  x.memory = &memory;
  x.pidval = pidval;
  const std::string diskRecording = ToDiskPath(recording);
  std::string why;
  if (!x.reader.Open(diskRecording, why)) {
    return x.Fail(FileErrorText("Не удается открыть файл"_cpsv, recording, x.reader.OpenErrno()));
  }
  if (x.reader.RecordCount() < 2) {
    x.reader.Close();
    x.state = State::Empty;
    return x.state;
  }
  x.dataRecords = x.reader.RecordCount() - 1;
  x.intervalMs = x.reader.Header().IntervalMs;
  x.channels = ExportChannelsOf(x.reader.Header(), rows);

  SheetHead head;
  head.RecordingName = BaseName(recording);
  struct stat st {};
  if (::stat(diskRecording.c_str(), &st) == 0) head.Modified = st.st_mtime;
  head.IntervalMs = x.intervalMs;
  head.Channels = &x.channels;
  const std::string diskOutput = ToDiskPath(x.output);
  if (format == ExportFormat::Xlsx) {
    x.sink = std::make_unique<XlsxSink>(diskOutput);
  } else {
    x.sink = std::make_unique<CsvSink>(diskOutput);
  }
  if (!x.sink->Open(head)) return x.WriteFailed();
  x.state = State::Running;
  return x.state;
}

RecordingExport::State RecordingExport::Step(std::size_t records) {
  Impl& x = *impl_;
  if (x.state != State::Running) return x.state;
  if (x.finishing) return x.Collect({});
  RtdRecord record{};
  for (std::size_t n = 0; n < records && x.replayed < x.dataRecords; ++n) {
    if (!x.reader.Read(record)) {
      return x.Fail(
          FileErrorText("Не удается прочитать файл"_cpsv, x.recording, errno != 0 ? errno : EIO));
    }
    ++x.replayed;
    if (!x.Replay(record)) return x.WriteFailed();
  }
  if (!x.sink->Check()) return x.WriteFailed();
  if (x.replayed < x.dataRecords) return x.state;

  // The last line is complete when the recording is.
  if (x.lines.Started()) {
    if (!x.sink->Write(x.lines.Current())) return x.WriteFailed();
    ++x.written;
  }
  x.reader.Close();
  x.StartCompleting();
  return x.state;
}

RecordingExport::State RecordingExport::StepFor(std::chrono::milliseconds budget) {
  // Records per batch: well under a millisecond of replay, so the budget is
  // kept closely.
  constexpr std::size_t kBatch = 256;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + budget;
  Impl& x = *impl_;
  do {
    if (x.state == State::Running && x.finishing) {
      return x.Collect(std::max(end - Clock::now(), Clock::duration::zero()));
    }
    Step(kBatch);
  } while (x.state == State::Running && Clock::now() < end);
  return x.state;
}

void RecordingExport::Cancel() {
  if (!impl_ || impl_->state != State::Running) return;
  impl_->Abandon();
  impl_->reader.Close();
  impl_->state = State::Cancelled;
}

RecordingExport::State RecordingExport::Current() const {
  return impl_->state;
}

int RecordingExport::Percent() const {
  if (impl_->state == State::Done) return 100;
  if (impl_->dataRecords == 0) return 0;
  return static_cast<int>(std::min<std::size_t>(impl_->replayed * 100 / impl_->dataRecords, 99));
}

const std::string& RecordingExport::OutputName() const {
  return impl_->output;
}

const std::string& RecordingExport::Error() const {
  return impl_->error;
}

std::uint64_t RecordingExport::Lines() const {
  return impl_->written;
}

}  // namespace kestrel
