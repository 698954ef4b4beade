// The graphs window against the simulated ECU in-process: its controls,
// polling of exactly the chosen channels, both charts on screen, a recording
// that plays back the values shown live, pause and seek; recordings that
// cannot be made or read, and channels that match no row; the export to a
// workbook, given up when the window closes, and one that fails. Offscreen;
// the module is the built VORTA.so.
#include "screens/graphs.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "common/cp1251.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "screens/pixel_view.h"
#include "tests/support/window_test.h"
#include "tests/support/workbook.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  return testing::ProcessUntil(done, ms);
}

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

const char* const kRequests[] = {"82 10 F1 21 01", "82 10 F1 21 05", "82 10 F1 21 0C"};
// Selector items: 0 "Нет", then the rows.
enum : int { kItemMil = 1, kItemCoolant = 2, kItemRpm = 3 };
const ParameterKey kCoolant{0x21, 0x05, 0, 0};
const ParameterKey kRpm{0x21, 0x0C, 0, 0};

class GraphsTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    vorta::RequestTable& live = RequestTables[kLiveTable];
    std::memset(&live, 0, sizeof live);
    for (const char* line : kRequests)
      ASSERT_TRUE(ParseRequestLine(line, live.Entries[live.Count++]));
    auto def = [](const char* code, const char* name, const char* unit, const char* sel) {
      return ParameterDefinition{code, cp1251::FromUtf8(name), cp1251::FromUtf8(unit), sel, 0};
    };
    ASSERT_TRUE(LivePassOn({def("2101", "Лампа неисправности (MIL)", "", "08"),
                            def("2105", "Температура охлаждающей жидкости", "°C", "00"),
                            def("210C", "Обороты двигателя", "об/мин", "00")},
                           live, "VORTA.ini")
                    .Ok());
    RecordFileName.Set("");
  }

  void TearDown() override {
    RecordFileName.Set("");
    WindowTest::TearDown();
  }

  static void Choose(TForm9& f, int channel, int item) {
    f.ComboBox[channel]->setCurrentIndex(item);
    f.ComboBoxChange(channel);
  }

  static std::uint8_t Skip(int entry) { return GetSkip(RequestTables[kLiveTable].Entries[entry]); }

  // The value texts of a channel as the window shows them for each record
  // of a recording, filed and decoded as playback does.
  static std::set<std::string> RecordedTexts(const std::string& file, const ParameterKey& key,
                                             std::string* last = nullptr) {
    auto memory = std::make_unique<vorta::ResponseMemory>();
    RtdReader reader;
    std::string error;
    EXPECT_TRUE(reader.Open(file, error)) << error;
    std::set<std::string> texts;
    RtdRecord r{};
    while (reader.Read(r)) {
      if (!FileRtdRecord(r, memory->Store) || r[4] != key.Id1) continue;
      const std::string text = LabelText(QueryModule(*memory, VehicleModule.PIDVAL, key).Value);
      texts.insert(text);
      if (last != nullptr) *last = text;
    }
    return texts;
  }
};

TEST_F(GraphsTest, PollsItsChannelsRecordsAndPlaysBackTheValuesShownLive) {
  UseSimulator();
  TForm9& f = OpenWindow<TForm9>();

  EXPECT_EQ(f.SpeedButton6->toolTip(), U("Экспорт сохраненных графиков в Excel"));
  EXPECT_EQ(f.SpeedButton8->text(), QStringLiteral("..."));
  EXPECT_EQ(f.SpeedButton8->toolTip(), U("Открытие файла графиков"));
  EXPECT_EQ(f.CheckBox[4]->text(), QStringLiteral("5"));
  EXPECT_EQ(f.ComboBox[5]->count(), 4);
  EXPECT_EQ(f.ComboBox[5]->itemText(0), U("Нет"));
  EXPECT_EQ(f.ComboBox[5]->itemText(kItemRpm), U("Обороты двигателя"));
  EXPECT_EQ(f.Channel[0].Unit->text(), QStringLiteral("-"));

  // Without a link: open, play and export, but no recording.
  f.Timer1Timer();
  EXPECT_TRUE(f.SpeedButton8->isEnabled());
  EXPECT_TRUE(f.SpeedButton4->isEnabled());
  EXPECT_TRUE(f.SpeedButton6->isEnabled());
  EXPECT_FALSE(f.SpeedButton3->isEnabled());
  EXPECT_FALSE(f.SpeedButton7->isEnabled());

  // Channels 1 and 5: their requests alone are polled.
  Choose(f, 0, kItemCoolant);
  Choose(f, 4, kItemRpm);
  EXPECT_EQ(f.ComboBox[0]->toolTip(), U("Температура охлаждающей жидкости"));
  EXPECT_EQ(f.Channel[0].Unit->text(), U("°C"));
  EXPECT_EQ(Skip(0), 1);
  EXPECT_EQ(Skip(1), 0);
  EXPECT_EQ(Skip(2), 0);
  f.SpeedButton1->click();
  ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton3->isEnabled(); })) << CurrentLinkStatusText();
  EXPECT_FALSE(f.SpeedButton2->isEnabled());
  EXPECT_FALSE(f.ComboBox[0]->isEnabled());

  // Record: "Kadr" beside the program, named by the date and time.
  f.SpeedButton3->click();
  ASSERT_EQ(RecordEnabled.load(), 1);
  const std::string file = RecordFileName.Get();
  EXPECT_TRUE(std::regex_match(file, std::regex(".*/Kadr/[0-9]{6}_[0-9]{6}\\.rtd"))) << file;
  EXPECT_EQ(fs::path(file).parent_path(), Dir() / "Kadr");
  EXPECT_EQ(f.windowTitle(), U("Графики параметров реального времени : ") + file.c_str());
  ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton5->isEnabled(); }));

  // The values shown while recording, once both channels are in the file.
  std::set<std::string> shown[2];
  const auto collect = [&] {
    if (fs::file_size(file) < 3 * kRtdRecordSize) return;
    shown[0].insert(ui::Cp(f.Channel[0].Value->text()));
    shown[1].insert(ui::Cp(f.Channel[4].Value->text()));
  };
  auto connection = QObject::connect(f.Timer1, &QTimer::timeout, collect);
  ASSERT_TRUE(WaitUntil([&] { return fs::file_size(file) >= 24 * kRtdRecordSize; }));
  EXPECT_EQ(frames_.Count("82 10 F1 21 01"), 0);
  EXPECT_GT(frames_.Count("82 10 F1 21 05"), 3);

  // Both charts on screen: channel 1 (red) on the first, channel 5 (red)
  // on the second, and the grey frames.
  QApplication::processEvents();
  const QImage shot = f.grab().toImage();
  const QByteArray folder = qgetenv("KESTREL_SCREENSHOTS");
  if (!folder.isEmpty()) shot.save(QString::fromLocal8Bit(folder) + "/graphs_polling.png");
  for (PixelView* chart : {f.Image1, f.Image2}) {
    const QImage part = shot.copy(chart->geometry());
    int red = 0;
    for (int x = 0; x < part.width(); ++x) {
      for (int y = 0; y < part.height(); ++y) red += part.pixelColor(x, y) == QColor(Qt::red);
    }
    EXPECT_GT(red, 5);
    EXPECT_EQ(part.pixelColor(0, 100), QColor(0x80, 0x80, 0x80));
  }

  // Stopping the poll ends the recording once the link is idle.
  f.SpeedButton1->click();
  ASSERT_TRUE(WaitUntil([&] { return RecordEnabled.load() == 0 && f.SpeedButton2->isEnabled(); }));
  QObject::disconnect(connection);
  const std::size_t records = fs::file_size(file) / kRtdRecordSize;
  RtdReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(file, error)) << error;
  EXPECT_EQ(reader.Header().IntervalMs, 57);  // P2 + P3
  EXPECT_EQ(reader.Header().Channels[0], kCoolant);
  EXPECT_EQ(reader.Header().Channels[4], kRpm);
  EXPECT_EQ(reader.Header().Channels[1], ChannelDescriptor{});  // "Нет"
  std::string lastCoolant;
  const std::set<std::string> recorded[2] = {RecordedTexts(file, kCoolant, &lastCoolant),
                                             RecordedTexts(file, kRpm)};
  for (int c = 0; c < 2; ++c) {
    ASSERT_FALSE(shown[c].empty());
    for (const std::string& text : shown[c]) EXPECT_TRUE(recorded[c].count(text)) << text;
  }

  // Play it back: the channels follow the file, the same values come back.
  Choose(f, 0, 0);
  Choose(f, 4, kItemMil);
  f.Timer1Timer();
  f.SpeedButton4->click();
  ASSERT_EQ(f.Logic().Playing, 1);
  EXPECT_EQ(f.ComboBox[0]->currentIndex(), kItemCoolant);
  EXPECT_EQ(f.ComboBox[4]->currentIndex(), kItemRpm);
  EXPECT_EQ(f.Channel[4].Unit->text(), U("об/мин"));
  EXPECT_EQ(f.TrackBar1->maximum(), static_cast<int>(records - 1));
  EXPECT_EQ(f.Timer2->interval(), 57);
  std::set<std::string> played[2];
  connection = QObject::connect(f.Timer1, &QTimer::timeout, [&] {
    if (f.Logic().Playing == 0 || f.TrackBar1->value() < 3) return;
    played[0].insert(ui::Cp(f.Channel[0].Value->text()));
    played[1].insert(ui::Cp(f.Channel[4].Value->text()));
  });
  ASSERT_TRUE(WaitUntil([&] { return f.TrackBar1->value() >= 6; }));
  EXPECT_TRUE(f.SpeedButton7->isEnabled());
  EXPECT_FALSE(f.SpeedButton4->isEnabled());
  EXPECT_FALSE(f.ComboBox[0]->isEnabled());

  // Pause holds both timers; the stop button waits with them.
  f.SpeedButton7->click();
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_FALSE(f.Timer2->isActive());
  EXPECT_FALSE(f.SpeedButton5->isEnabled());
  const int held = f.TrackBar1->value();
  testing::ProcessUntil([] { return false; }, 300);
  EXPECT_EQ(f.TrackBar1->value(), held);
  f.SpeedButton7->click();
  EXPECT_TRUE(f.Timer2->isActive());
  EXPECT_TRUE(f.SpeedButton5->isEnabled());

  // Dragged to the start: playback goes on from record 1, never filing the
  // header (its 'A' with the interval 57 = 0x39 as PID) as a Mode 01 answer.
  auto mouse = [&](QEvent::Type type, int x) {
    QMouseEvent e(type, QPointF(x, 12), f.TrackBar1->mapToGlobal(QPointF(x, 12)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(f.TrackBar1, &e);
  };
  mouse(QEvent::MouseButtonPress, 120);
  EXPECT_EQ(f.Logic().Dragging, 1);
  mouse(QEvent::MouseMove, 9);
  EXPECT_EQ(f.TrackBar1->value(), 0);
  EXPECT_EQ(f.TrackBar1->toolTip(), QStringLiteral("0"));
  mouse(QEvent::MouseButtonRelease, 9);
  EXPECT_EQ(f.Logic().Dragging, 0);
  ASSERT_TRUE(WaitUntil([&] { return f.TrackBar1->value() >= 1; }));
  ASSERT_TRUE(WaitUntil([&] { return f.Logic().Playing == 0; }, 20000));
  EXPECT_EQ(vorta::SlotCount(vorta::Slot(ResponseStore, vorta::kAreaMode01, 0x39)), 0);
  EXPECT_EQ(f.TrackBar1->value(), static_cast<int>(records - 1));
  ASSERT_TRUE(WaitUntil([&] { return !f.Timer2->isActive(); }));
  QObject::disconnect(connection);
  for (int c = 0; c < 2; ++c) {
    ASSERT_FALSE(played[c].empty());
    for (const std::string& text : played[c]) EXPECT_TRUE(recorded[c].count(text)) << text;
  }
  EXPECT_EQ(LabelText(QueryModule(ResponseBlock, VehicleModule.PIDVAL, kCoolant).Value),
            lastCoolant);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(GraphsTest, RecordingsThatCannotBeMadeOrReadAndChannelsThatMatchNoRow) {
  TForm9& f = OpenWindow<TForm9>();
  const QString caption = U("Графики параметров реального времени : ");
  f.Timer1Timer();  // the buttons of a window without a link

  // Play without a file: the open dialog, and a cancel leaves nothing.
  auto watch = testing::OnModal<QFileDialog>([](QFileDialog* d) {
    EXPECT_EQ(d->windowTitle(), U("Открытие файла архива"));
    EXPECT_EQ(d->nameFilters(), QStringList{QStringLiteral("*.rtd")});
    EXPECT_EQ(d->defaultSuffix(), QStringLiteral("rtd"));
    d->reject();
  });
  f.SpeedButton4->click();
  EXPECT_TRUE(watch->Seen());
  EXPECT_EQ(f.Logic().Playing, 0);
  EXPECT_EQ(RecordFileName.Get(), "");
  EXPECT_EQ(f.windowTitle(), caption);

  // Recorded channels the parameter list does not have play as "Нет";
  // an interval of 0 plays at 1 ms; a partial record at the end is left.
  RtdHeader header;
  header.IntervalMs = 0;
  header.Channels[0] = {0x21, 0x99, 0, 0};
  header.Channels[1] = {0x21, 0x05, 0, 0x08};  // the code of a row, another format
  const RtdRecord h = header.Encode();
  std::string bytes(h.begin(), h.end());
  for (int i = 0; i < 50; ++i) {
    const std::uint8_t frame[] = {0x83, 0xF1, 0x10, 0x61, 0x99, static_cast<std::uint8_t>(i), 0};
    const RtdRecord r = MakeRtdRecord(frame, sizeof frame);
    bytes.append(r.begin(), r.end());
  }
  testing::WriteRaw("Kadr/Архив.rtd", bytes + "tail");
  Choose(f, 0, kItemRpm);
  auto pick = testing::OnModal<QFileDialog>([](QFileDialog* d) {
    // Typed, as the list of the folder may not be read yet.
    d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(U("Архив.rtd"));
    static_cast<QDialog*>(d)->accept();  // QFileDialog::accept, which checks the choice
  });
  f.SpeedButton8->click();  // open
  EXPECT_TRUE(pick->Seen());
  const std::string chosen = (Dir() / "Kadr" / "Архив.rtd").string();
  EXPECT_EQ(RecordFileName.Get(), cp1251::FromUtf8(chosen));
  EXPECT_EQ(f.windowTitle(), caption + QString::fromStdString(chosen));
  f.SpeedButton4->click();
  EXPECT_EQ(f.Logic().Playing, 1);
  EXPECT_EQ(f.Timer2->interval(), 1);
  for (QComboBox* box : f.ComboBox) EXPECT_EQ(box->currentIndex(), 0);
  EXPECT_EQ(f.Channel[0].Unit->text(), QStringLiteral("-"));
  EXPECT_EQ(Skip(2), 1);  // nothing to poll
  ASSERT_TRUE(WaitUntil([&] { return f.Logic().Playing == 0; }));
  EXPECT_EQ(f.TrackBar1->value(), 50);
  EXPECT_EQ(f.Channel[0].Value->text(), QStringLiteral("0.000"));

  // A file that cannot be read: the error box names it with the reason.
  fs::create_directory("Kadr/folder.rtd");
  RecordFileName.Set((Dir() / "Kadr" / "folder.rtd").string());
  f.Timer1Timer();
  f.SpeedButton4->click();
  EXPECT_EQ(f.Logic().Playing, 0);
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].contains(QStringLiteral("folder.rtd"))) << errors_[0].toStdString();

  // A recording that cannot be created ("Kadr" is a file here): the error
  // box, and no recording.
  fs::remove_all("Kadr");
  testing::WriteRaw("Kadr", "not a folder");
  LinkStatus.store(lsExchange);
  f.Timer1Timer();
  ASSERT_TRUE(f.SpeedButton3->isEnabled());
  f.SpeedButton3->click();
  LinkStatus.store(lsIdle);
  EXPECT_EQ(RecordEnabled.load(), 0);
  ASSERT_EQ(errors_.size(), 2u);
  EXPECT_TRUE(errors_[1].contains(QStringLiteral("/Kadr/"))) << errors_[1].toStdString();
  EXPECT_TRUE(errors_[1].contains(U("часть пути не является папкой"))) << errors_[1].toStdString();
}

TEST_F(GraphsTest, ExportsARecordingBesideItAndLeavesNothingWhenClosedOrFailing) {
  TForm9& f = OpenWindow<TForm9>();
  // Channel 1 coolant, channel 5 engine speed, in turns: a line of the table
  // per pair of records, 57 ms apart.
  RtdHeader header;
  header.IntervalMs = 57;
  header.Channels[0] = kCoolant;
  header.Channels[4] = kRpm;
  const auto record = [&](const char* name, int records) {
    const RtdRecord h = header.Encode();
    std::string bytes(h.begin(), h.end());
    for (int i = 0; i < records; ++i) {
      const std::uint8_t id = i % 2 == 0 ? kCoolant.Id1 : kRpm.Id1;
      const auto data = static_cast<std::uint8_t>((i % 2 == 0 ? 0x70 : 0x20) + i / 2 % 50);
      const std::uint8_t frame[] = {0x83, 0xF1, 0x10, 0x61, id, data, 0x10};
      const RtdRecord r = MakeRtdRecord(frame, sizeof frame);
      bytes.append(r.begin(), r.end());
    }
    testing::WriteRaw(fs::path("Kadr") / name, bytes);
    RecordFileName.Set((Dir() / "Kadr" / name).string());
  };
  const auto files = [] {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator("Kadr")) names.insert(e.path().filename());
    return names;
  };
  const auto disabledWhileExporting = [&] {
    const QWidget* const held[] = {f.SpeedButton6, f.SpeedButton4, f.SpeedButton8, f.ComboBox[0],
                                   f.SpeedButton1};
    for (const QWidget* w : held) EXPECT_FALSE(w->isEnabled()) << w->toolTip().toStdString();
    EXPECT_TRUE(f.SpeedButton2->isEnabled());
  };
  fs::create_directory("Kadr");

  // A long recording: the progress moves while the window takes its turns,
  // with no file choice, playback, second export or link start; closing
  // the window gives the export up and leaves the older workbook as it was.
  record("long.rtd", 100000);
  testing::WriteRaw("Kadr/long.xlsx", "old");
  f.Timer1Timer();
  f.SpeedButton6->click();
  ASSERT_EQ(f.Logic().ExportBusy, 1);
  disabledWhileExporting();
  ASSERT_TRUE(WaitUntil([&] { return f.Gauge1->value() > 0; }));
  disabledWhileExporting();
  f.SpeedButton2->click();  // exit
  EXPECT_EQ(f.Logic().ExportBusy, 0);
  EXPECT_EQ(f.Gauge1->value(), 0);
  EXPECT_TRUE(WaitUntil([&] { return files().size() == 2; }));
  EXPECT_EQ(files(), (std::set<std::string>{"long.rtd", "long.xlsx"}));
  EXPECT_EQ(testing::ReadRaw("Kadr/long.xlsx"), "old");
  fs::remove("Kadr/long.rtd");
  fs::remove("Kadr/long.xlsx");

  // To the end: the workbook beside the recording.
  f.show();
  constexpr int kRecords = 6000;
  record("rec.rtd", kRecords);
  const fs::path book = Dir() / "Kadr" / "rec.xlsx";
  f.Timer1Timer();
  f.SpeedButton6->click();
  ASSERT_EQ(f.Logic().ExportBusy, 1);
  ASSERT_TRUE(WaitUntil([&] { return f.Logic().ExportBusy == 0; }));
  EXPECT_EQ(f.Gauge1->value(), 0);
  EXPECT_TRUE(f.SpeedButton6->isEnabled());
  EXPECT_TRUE(errors_.empty());
  EXPECT_EQ(files(), (std::set<std::string>{"rec.rtd", "rec.xlsx"}));

  // The window hands the export its rows and module: names and values as
  // the module gives them (the table's lines are checked end to end in
  // cli/tests/export_e2e_test.cpp).
  auto memory = std::make_unique<vorta::ResponseMemory>();
  const std::uint8_t frame[] = {0x83, 0xF1, 0x10, 0x61, kRpm.Id1, 0x20, 0x10};
  FileRtdRecord(MakeRtdRecord(frame, sizeof frame), memory->Store);
  const testing::Workbook w = testing::ReadWorkbook(book);
  ASSERT_EQ(w.Error, "");
  EXPECT_EQ(w.Text("Данные", "B7"), "Обороты двигателя");
  EXPECT_EQ(w.Text("Данные", "P3"), "°C");
  EXPECT_DOUBLE_EQ(w.Number("Данные", "K14"),
                   QueryModule(*memory, VehicleModule.PIDVAL, kRpm).Value);
  EXPECT_DOUBLE_EQ(w.Number("Данные", testing::CellName(14 + kRecords / 2 - 1, 1)),
                   kRecords / 2 - 1);

  // A recording cut short under the export: the error box names it with the
  // reason, and nothing is left of the export. A header alone: nothing to
  // export, quietly.
  f.Timer1Timer();
  fs::remove(book);
  f.SpeedButton6->click();
  fs::resize_file("Kadr/rec.rtd", 38 * 3);
  ASSERT_TRUE(WaitUntil([&] { return f.Logic().ExportBusy == 0; }));
  ASSERT_EQ(errors_.size(), 1u);
  EXPECT_TRUE(errors_[0].contains(QStringLiteral("rec.rtd"))) << errors_[0].toStdString();
  EXPECT_TRUE(errors_[0].contains(U("ошибка ввода-вывода"))) << errors_[0].toStdString();
  EXPECT_EQ(f.Gauge1->value(), 0);
  EXPECT_EQ(files(), std::set<std::string>{"rec.rtd"});
  fs::resize_file("Kadr/rec.rtd", 38);
  f.Timer1Timer();
  f.SpeedButton6->click();
  EXPECT_EQ(f.Logic().ExportBusy, 0);
  EXPECT_EQ(errors_.size(), 1u);
  EXPECT_EQ(files(), std::set<std::string>{"rec.rtd"});
}

}  // namespace
}  // namespace kestrel
