// kestrel-cli export end to end: recordings made as the graphs window makes
// them (its channel requests polled from the in-process simulated ECU, the
// receiver appending every frame) or written record by record, exported by
// the program into a workbook and a CSV table, and the workbook read back by
// an independent reader (openpyxl).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/load_init.h"
#include "config/parameter_lists.h"
#include "ecusim/sim_port.h"
#include "link/link_globals.h"
#include "link/recording.h"
#include "link/serial_port.h"
#include "link/session.h"
#include "screenlogic/sessions.h"
#include "screenlogic/table_rows.h"
#include "tests/support/support.h"
#include "tests/support/workbook.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::ReadRaw;
using testing::Workbook;

constexpr const char* kConfig = "ECU/CAMRY_2AZ.ini";
const std::string kData = "Данные";

std::string Utf8(const std::string& cp) {
  return cp1251::ToUtf8(cp);
}

// A number as the CSV table writes it (shortest form that reads back the same).
std::string Shortest(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

class ExportE2eTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory_symlink(fs::path(KESTREL_RUNTIME) / "ECU", dir_.Path() / "ECU");
    fs::create_directory(dir_.Path() / "Kadr");
    ASSERT_TRUE(LoadInit(kConfig).Ok());
  }

  // Runs the program in the scratch folder; its exit status.
  int Cli(const std::string& args) {
    const std::string command =
        std::string(KESTREL_CLI) + " --config " + kConfig + " " + args + " >cli.out 2>cli.err";
    const int status = std::system(command.c_str());
    out_ = ReadRaw("cli.out");
    err_ = ReadRaw("cli.err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The live-data row of a code and selector, and its channel descriptor.
  static int Row(const std::string& code, const std::string& selector) {
    for (int r = 0; r < LiveRows.RowCount; ++r) {
      const auto& c = LiveRows.Rows[r].Cells;
      if (c[kColCode] == " " + code && c[kColSelector] == selector) return r;
    }
    ADD_FAILURE() << "no row " << code << "/" << selector;
    return 0;
  }

  // Line `line` of the sheet as a CSV line: the seventeen cells of its row,
  // numbers in their shortest form.
  static std::string SheetLine(const Workbook& book, int line) {
    std::string text;
    for (int col = 1; col <= 17; ++col) {
      if (col > 1) text += ',';
      const double v = book.Number(kData, testing::CellName(14 + line, col));
      if (!std::isnan(v)) text += Shortest(v);
    }
    return text;
  }

  // The lines of a CSV table after its heading.
  static std::vector<std::string> CsvLines(const std::string& file) {
    std::vector<std::string> lines = Split(ReadRaw(file), '\n');
    if (!lines.empty()) lines.erase(lines.begin());
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }

  testing::ScratchDir dir_{"kestrel-export-e2e"};
  std::string out_, err_;
};

TEST_F(ExportE2eTest, RecordingOfTheSimulatorAsTheGraphsWindowMakesIt) {
  // Eight channels as the graphs window sets them; two share 21 E4.
  const std::pair<const char*, const char*> picked[kRtdChannels] = {
      {"210C", "00"}, {"2105", "00"}, {"210D", "00"}, {"2111", "00"},
      {"21E4", "00"}, {"21E4", "10"}, {"2104", "00"}, {"21E3", "00"}};
  GraphChannelKeys keys;
  RtdHeader header;
  header.IntervalMs = PlaybackInterval(LinkSettings.P2, LinkSettings.P3);
  int rows[kRtdChannels];
  for (int c = 0; c < kRtdChannels; ++c) {
    rows[c] = Row(picked[c].first, picked[c].second);
    keys[c] = RowKeys::Live().Of(LiveRows.Rows[rows[c]]);
    header.Channels[c] = *keys[c];
  }
  auto ecu = std::make_shared<ecusim::SimEcu>(ecusim::DefaultScenario(), ecusim::EngineOptions{});
  const PortFactory previous = SetPortFactory(ecusim::SimPort::Factory(ecu));
  UpdateChannelRequests(RequestTables[kLiveTable], keys);
  std::string error;
  ASSERT_TRUE(CreateRecording("Kadr/rec.rtd", header, error)) << error;
  RecordFileName.Set("Kadr/rec.rtd");
  RecordEnabled = 1;
  StartGraphPolling();
  const bool polled = testing::WaitUntil([] { return PassCount.load() >= 4; }, 60000);
  RecordEnabled = 0;
  RunFlag = 0;
  WaitLinkIdle(5000);
  StopSession();
  SetPortFactory(previous);
  ASSERT_TRUE(polled) << "link status " << LinkStatus.load() << " error " << LinkError.load();

  ASSERT_EQ(Cli("export Kadr/rec.rtd"), 0) << err_;
  EXPECT_EQ(out_, "Записан файл Kadr/rec.xlsx\n");
  ASSERT_EQ(Cli("export Kadr/rec.rtd --csv"), 0) << err_;
  const Workbook book = testing::ReadWorkbook("Kadr/rec.xlsx");
  ASSERT_EQ(book.Error, "");
  EXPECT_EQ(book.Sheets, (std::vector<std::string>{kData, "Графики"}));
  EXPECT_EQ(book.Frozen.at(kData), "A14");
  EXPECT_EQ(book.Text(kData, "A13"), "№");
  for (int c = 0; c < kRtdChannels; ++c) {
    const auto& cells = LiveRows.Rows[rows[c]].Cells;
    const std::string n = std::to_string(c + 1);
    EXPECT_EQ(book.Text(kData, "B" + std::to_string(c + 3)), Utf8(cells[kColName]));
    EXPECT_EQ(book.Text(kData, "P" + std::to_string(c + 3)), Utf8(cells[kColUnit]));
    EXPECT_EQ(book.Text(kData, testing::CellName(13, 2 + 2 * c)), "Время " + n + ", мс");
    EXPECT_EQ(book.Text(kData, testing::CellName(13, 3 + 2 * c)), "Значение " + n);
  }

  // The lines: numbered from 0, times on the interval's grid, the same in
  // both files.
  const std::vector<std::string> csv = CsvLines("Kadr/rec.csv");
  const int lines = static_cast<int>(csv.size());
  ASSERT_GE(lines, 3);
  EXPECT_FALSE(book.Has(kData, "A" + std::to_string(14 + lines)));
  for (int t = 0; t < lines; ++t) {
    EXPECT_EQ(book.Number(kData, "A" + std::to_string(14 + t)), t);
    const std::vector<std::string> sheet = Split(SheetLine(book, t), ',');
    const std::vector<std::string> table = Split(csv[t], ',');
    ASSERT_EQ(sheet.size(), table.size()) << t;
    for (std::size_t f = 0; f < sheet.size(); ++f) {
      ASSERT_EQ(sheet[f].empty(), table[f].empty()) << "line " << t << " field " << f;
      if (sheet[f].empty()) continue;
      const double a = std::stod(sheet[f]), b = std::stod(table[f]);
      EXPECT_NEAR(a, b, 1e-12 * std::max(1.0, std::fabs(b))) << "line " << t << " field " << f;
      if (f % 2 == 1) {
        EXPECT_EQ(std::fmod(a, header.IntervalMs), 0) << "a time off the grid";
      }
    }
  }
  // Channels 5 and 6 share 21 E4: the same times, each its own format's value.
  const std::string lastRow = std::to_string(13 + lines);
  EXPECT_EQ(book.Number(kData, "J" + lastRow), book.Number(kData, "L" + lastRow));
  EXPECT_NE(book.Number(kData, "K" + lastRow), book.Number(kData, "M" + lastRow));

  // One chart per channel over its own columns of the data rows, in the
  // graphs window's colours.
  ASSERT_EQ(book.Series.size(), 8u);
  const char* colours[] = {"FF0000", "0000FF", "008000", "FF00FF"};
  for (int c = 0; c < kRtdChannels; ++c) {
    const testing::WorkbookSeries& s = book.Series[c];
    const std::string time(1, static_cast<char>('B' + 2 * c));
    const std::string value(1, static_cast<char>('C' + 2 * c));
    EXPECT_EQ(s.X, "'Данные'!$" + time + "$14:$" + time + "$" + lastRow);
    EXPECT_EQ(s.Y, "'Данные'!$" + value + "$14:$" + value + "$" + lastRow);
    EXPECT_EQ(s.Colour, colours[c % 4]);
    const auto& cells = LiveRows.Rows[rows[c]].Cells;
    EXPECT_EQ(s.Title,
              std::to_string(c + 1) + ". " + Utf8(cells[kColName]) + ", " + Utf8(cells[kColUnit]));
  }
}

// A recording written record by record: channel 1 engine speed (21 0C), 2
// coolant temperature (21 05), the others on "Нет" unless a case says.
using Frame = std::vector<std::uint8_t>;
Frame Rpm(int rpm) {
  const int raw = rpm * 4;
  return {0x84,
          0xF1,
          0x10,
          0x61,
          0x0C,
          static_cast<std::uint8_t>(raw >> 8),
          static_cast<std::uint8_t>(raw & 0xFF)};
}
Frame Coolant(int celsius) {
  return {0x83, 0xF1, 0x10, 0x61, 0x05, static_cast<std::uint8_t>(celsius + 40)};
}
const Frame kNegative{0x83, 0xF1, 0x10, 0x7F, 0x21, 0x12};
const Frame kStartCommunication{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F};

void WriteRecording(const std::string& name, const std::vector<ChannelDescriptor>& channels,
                    const std::vector<Frame>& frames) {
  RtdHeader h;
  h.IntervalMs = 100;
  for (std::size_t c = 0; c < channels.size(); ++c) h.Channels[c] = channels[c];
  std::string error;
  ASSERT_TRUE(CreateRecording(name, h, error)) << error;
  for (const Frame& f : frames) ASSERT_TRUE(AppendRtdRecord(name, f.data(), f.size()));
}

TEST_F(ExportE2eTest, LinesOfHandWrittenRecordings) {
  const ChannelDescriptor rpm{0x21, 0x0C, 0, 0}, coolant{0x21, 0x05, 0, 0};
  const ChannelDescriptor unknown{0x21, 0x77, 0, 0};  // no row has it
  const struct Case {
    const char* what;
    std::vector<ChannelDescriptor> channels;
    std::vector<Frame> frames;
    std::vector<std::string> lines;  // the first five fields of each line; the rest are empty
    std::size_t charts;              // channels with values
  } cases[] = {
      {"the same channel twice gives two lines",
       {rpm, coolant},
       {Rpm(800), Rpm(900)},
       {"0,0,800,,", "1,100,900,,"},
       1},
      {"channels fill one line until one repeats, the next starts as its copy; every record "
       "counts an interval",
       {rpm, coolant},
       {kStartCommunication, Rpm(800), Coolant(20), kNegative, Coolant(25), Coolant(30), Rpm(900)},
       {"0,100,800,200,20", "1,100,800,400,25", "2,600,900,500,30"},
       2},
      {"channels matching no row",
       {unknown, unknown},
       {Frame{0x83, 0xF1, 0x10, 0x61, 0x77, 1}},
       {},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteRecording("Kadr/hand.rtd", c.channels, c.frames);
    ASSERT_EQ(Cli("export Kadr/hand.rtd"), 0) << err_;
    ASSERT_EQ(Cli("export Kadr/hand.rtd --csv"), 0) << err_;
    const Workbook book = testing::ReadWorkbook("Kadr/hand.xlsx");
    ASSERT_EQ(book.Error, "");
    const std::vector<std::string> csv = CsvLines("Kadr/hand.csv");
    ASSERT_EQ(csv.size(), c.lines.size());
    EXPECT_FALSE(book.Has(kData, "A" + std::to_string(14 + c.lines.size())));
    for (std::size_t t = 0; t < c.lines.size(); ++t) {
      const std::string expected = c.lines[t] + std::string(12, ',');
      EXPECT_EQ(csv[t], expected);
      EXPECT_EQ(SheetLine(book, static_cast<int>(t)), expected);
    }
    const bool matched = c.channels[0] == rpm;
    EXPECT_EQ(book.Text(kData, "B3"), matched ? "Обороты двигателя" : "Нет");
    EXPECT_EQ(book.Text(kData, "P3"), matched ? "об/мин" : "-");
    EXPECT_EQ(book.Text(kData, "B10"), "Нет");
    EXPECT_EQ(book.Text(kData, "P10"), "-");
    EXPECT_EQ(book.Series.size(), c.charts);
    EXPECT_EQ(book.Sheets.size(), c.charts > 0 ? 2u : 1u);  // no chart sheet without values
  }

  // A recording of its header alone: nothing to export, no file.
  WriteRecording("Kadr/empty.rtd", {rpm}, {});
  EXPECT_EQ(Cli("export Kadr/empty.rtd"), 0);
  EXPECT_EQ(out_, "В записи нет данных, файл не записан: Kadr/empty.xlsx\n");
  EXPECT_FALSE(fs::exists("Kadr/empty.xlsx"));
  // No recording at all: the reason, and the export's exit status.
  EXPECT_EQ(Cli("export Kadr/none.rtd"), 4);
  EXPECT_EQ(err_,
            "kestrel-cli: Не удается открыть файл \"Kadr/none.rtd\": нет такого файла или папки\n");
}

}  // namespace
}  // namespace kestrel
