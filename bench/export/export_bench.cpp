// The recording export with a long recording: 100,000 records with eight
// channels, all on one identifier so that every record ends a line (100,000
// lines of seventeen cells, the most a recording of that length gives),
// values from the built module. Targets: the workbook with its charts in at
// most 3 s and 60 MB peak memory, and no call of the export (its start or a
// turn as the graphs window takes it) longer than 50 ms: the compression
// runs on the export's own thread.
//
// Each export is set against a bare write of the same cells in the same run:
// libxlsxwriter alone in constant-memory mode (no formats, no charts, no
// replay), and for CSV a plain formatted write. The figures are medians of
// the runs; peak memory is the process's resident high-water mark during the
// step, reset before it (/proc/self/clear_refs).
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "link/recording.h"
#include "screenlogic/graphs.h"
#include "screenlogic/recording_export.h"

namespace {

namespace fs = std::filesystem;
using kestrel::ExportFormat;
using kestrel::RecordingExport;

constexpr std::uint16_t kInterval = 140;

struct Figure {
  double seconds = 0;
  double peakMb = 0;
};

void ResetPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
  }
  return 0;
}

Figure Measure(const std::function<bool()>& work) {
  ResetPeak();
  const auto start = std::chrono::steady_clock::now();
  if (!work()) std::exit(1);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), PeakMb()};
}

// Eight live rows on Local 21 identifier 0B, formats 00 to 70.
void MakeRows(kestrel::ParameterTable& rows, kestrel::RtdHeader& header) {
  for (int c = 0; c < kestrel::kRtdChannels; ++c) {
    auto& cells = rows.Rows[c].Cells;
    cells[kestrel::kColCode] = " 210B";
    cells[kestrel::kColName] = kestrel::cp1251::FromUtf8("Канал " + std::to_string(c + 1));
    cells[kestrel::kColUnit] = "-";
    cells[kestrel::kColSelector] = std::to_string(c) + "0";
    header.Channels[c] = {0x21, 0x0B, 0, static_cast<std::uint8_t>(c << 4)};
  }
  rows.RowCount = kestrel::kRtdChannels;
}

void WriteRecording(const std::string& name, const kestrel::RtdHeader& header, int records) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  const kestrel::RtdRecord head = header.Encode();
  std::fwrite(head.data(), 1, head.size(), f);
  std::uint8_t frame[kestrel::kRtdRecordSize] = {0xA2, 0xF1, 0x10, 0x61, 0x0B};
  for (int r = 0; r < records; ++r) {
    for (std::size_t i = 5; i < sizeof frame; ++i) {
      frame[i] =
          static_cast<std::uint8_t>(128 + 100 * std::sin(r / 300.0 + static_cast<double>(i)));
    }
    std::fwrite(frame, 1, sizeof frame, f);
  }
  std::fclose(f);
}

// The longest call of an export (its start or one turn): how long the graphs
// window's thread is kept from its input.
double longestTurnMs = 0;

// An export as the program runs it: the process's response store, turns of
// kExportTurn as the graphs window takes them.
bool Export(const std::string& recording, ExportFormat format,
            const kestrel::ParameterTable& rows) {
  RecordingExport e;
  const auto timed = [](const auto& call) {
    const auto start = std::chrono::steady_clock::now();
    const RecordingExport::State s = call();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    longestTurnMs = std::max(longestTurnMs, took.count());
    return s;
  };
  RecordingExport::State s = timed([&] {
    return e.Start(recording, format, rows, kestrel::ResponseBlock, kestrel::VehicleModule.PIDVAL);
  });
  while (s == RecordingExport::State::Running) {
    s = timed([&] { return e.StepFor(kestrel::kExportTurn); });
  }
  if (s != RecordingExport::State::Done) {
    std::fprintf(stderr, "export failed: %s\n", kestrel::cp1251::ToUtf8(e.Error()).c_str());
    return false;
  }
  return true;
}

// The cells of every line as the export wrote them (seventeen doubles a line,
// NaN for an empty cell), taken once from an exported CSV table so that the
// bare writes write the very same cells, read back a line at a time.
constexpr int kCells = 17;
using Line = std::array<double, kCells>;

bool SaveCells(const std::string& csv, const std::string& cells) {
  std::ifstream in(csv);
  std::FILE* out = std::fopen(cells.c_str(), "wb");
  std::string text;
  std::getline(in, text);  // the heading
  while (std::getline(in, text)) {
    Line line;
    std::size_t at = 0;
    for (int f = 0; f < kCells; ++f) {
      const std::size_t end = std::min(text.find(',', at), text.size());
      line[f] = end > at ? std::strtod(text.c_str() + at, nullptr) : std::nan("");
      at = end + 1;
    }
    std::fwrite(line.data(), sizeof(double), kCells, out);
  }
  return std::fclose(out) == 0;
}

// Calls `use` with each line of the cells file.
void ForEachLine(const std::string& cells, const std::function<void(int, const Line&)>& use) {
  std::FILE* in = std::fopen(cells.c_str(), "rb");
  Line line;
  for (int t = 0; std::fread(line.data(), sizeof(double), kCells, in) == kCells; ++t) use(t, line);
  std::fclose(in);
}

bool BareWorkbook(const std::string& name, const std::string& cells) {
  lxw_workbook_options options{};
  options.constant_memory = LXW_TRUE;
  lxw_workbook* wb = workbook_new_opt(name.c_str(), &options);
  lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
  ForEachLine(cells, [ws](int t, const Line& line) {
    for (int f = 0; f < kCells; ++f) {
      if (!std::isnan(line[f])) {
        worksheet_write_number(ws, static_cast<lxw_row_t>(13 + t), static_cast<lxw_col_t>(f),
                               line[f], nullptr);
      }
    }
  });
  return workbook_close(wb) == LXW_NO_ERROR;
}

bool BareCsv(const std::string& name, const std::string& cells) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  std::string text;
  char buf[32];
  ForEachLine(cells, [&](int, const Line& line) {
    text.clear();
    for (int i = 0; i < kCells; ++i) {
      if (i > 0) text += ',';
      if (!std::isnan(line[i])) text.append(buf, std::to_chars(buf, buf + sizeof buf, line[i]).ptr);
    }
    text += '\n';
    std::fwrite(text.data(), 1, text.size(), f);
  });
  return std::fclose(f) == 0;
}

Figure Median(std::vector<Figure> runs) {
  std::sort(runs.begin(), runs.end(),
            [](const Figure& a, const Figure& b) { return a.seconds < b.seconds; });
  Figure m = runs[runs.size() / 2];
  for (const Figure& f : runs) m.peakMb = std::max(m.peakMb, f.peakMb);
  return m;
}

void Print(const char* what, const Figure& f, const char* target) {
  std::printf("%-34s %6.2f s  peak %6.1f MB%s\n", what, f.seconds, f.peakMb, target);
}

}  // namespace

int main(int argc, char** argv) {
  int records = 100000;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--records") == 0) records = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  if (!kestrel::BindFrom(VORTA_MODULE_PATH).Ok) {
    std::fprintf(stderr, "cannot load %s\n", VORTA_MODULE_PATH);
    return 1;
  }
  char pattern[] = "/tmp/kestrel-export-bench-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 1;
  const fs::path dir = pattern;
  const std::string recording = (dir / "rec.rtd").string();
  auto rows = std::make_unique<kestrel::ParameterTable>();
  kestrel::RtdHeader header;
  header.IntervalMs = kInterval;
  MakeRows(*rows, header);
  WriteRecording(recording, header, records);
  std::printf("recording: %d records, 8 channels on one identifier (every record ends a line)\n",
              records);

  const std::string cells = (dir / "cells.bin").string();
  if (!Export(recording, ExportFormat::Csv, *rows) ||
      !SaveCells((dir / "rec.csv").string(), cells)) {
    return 1;
  }

  std::vector<Figure> xlsx, bareXlsx, csv, bareCsv;
  longestTurnMs = 0;
  for (int r = 0; r < runs; ++r) {
    xlsx.push_back(Measure([&] { return Export(recording, ExportFormat::Xlsx, *rows); }));
    bareXlsx.push_back(Measure([&] { return BareWorkbook((dir / "bare.xlsx").string(), cells); }));
    csv.push_back(Measure([&] { return Export(recording, ExportFormat::Csv, *rows); }));
    bareCsv.push_back(Measure([&] { return BareCsv((dir / "bare.csv").string(), cells); }));
  }
  const Figure x = Median(xlsx), bx = Median(bareXlsx), c = Median(csv), bc = Median(bareCsv);
  std::printf("medians of %d runs; file sizes: workbook %.1f MB, CSV %.1f MB\n", runs,
              static_cast<double>(fs::file_size(dir / "rec.xlsx")) / 1e6,
              static_cast<double>(fs::file_size(dir / "rec.csv")) / 1e6);
  Print("workbook export with charts", x, "   (target <= 3 s, <= 60 MB)");
  Print("bare libxlsxwriter, same cells", bx, "");
  std::printf("%-34s %6.2f\n", "ratio export / bare", x.seconds / bx.seconds);
  Print("CSV export", c, "");
  Print("bare CSV write, same cells", bc, "");
  std::printf("%-34s %6.2f\n", "ratio export / bare", c.seconds / bc.seconds);
  std::printf("%-34s %6.1f ms (turns of %lld ms; target <= 50 ms)\n", "longest turn of the window",
              longestTurnMs, static_cast<long long>(kestrel::kExportTurn.count()));
  std::error_code ec;
  fs::remove_all(dir, ec);
  return x.seconds <= 3.0 && x.peakMb <= 60.0 && longestTurnMs <= 50.0 ? 0 : 2;
}
