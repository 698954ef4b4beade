// The freeze-frame window against the simulated ECU in-process (two stored
// frames, 0 and 1): frames read in turn, the frame number in the requests, a
// row left out of the reads, and the export. Offscreen; the module is the
// built VORTA.so.
#include "screens/freeze_frames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSpinBox>
#include <QToolButton>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "tests/support/window_test.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

// The freeze-frame list: the stored code of the frame, then three values.
const char* const kRequests[] = {
    "83 10 F1 02 02 00",  // the code that stored the frame; keeps frame 00
    "83 10 F1 02 05 00",  // coolant
    "83 10 F1 02 0C 00",  // engine speed
    "83 10 F1 02 0D 00",  // road speed
};
enum : int { kRowCode, kRowCoolant, kRowRpm, kRowSpeed };

// What the module shows for a slot without data.
const std::string kMissing = "Не поддерживается"_cp;
const std::vector<std::string> kAllMissing(4, kMissing);

std::vector<ParameterDefinition> Definitions() {
  auto def = [](const char* code, const char* name, const char* unit) {
    return ParameterDefinition{code, cp1251::FromUtf8(name), cp1251::FromUtf8(unit), "00", 0};
  };
  // Service 01 definitions serve the freeze frames too, shown with service 02.
  return {
      def("0202", "Код, сохранивший стоп-кадр", ""),
      def("0105", "Температура охлаждающей жидкости", "°C"),
      def("010C", "Обороты двигателя", "об/мин"),
      def("010D", "Скорость автомобиля", "км/ч"),
  };
}

class FreezeFramesTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    vorta::RequestTable& freeze = RequestTables[kFreezeTable];
    std::memset(&freeze, 0, sizeof freeze);
    for (const char* line : kRequests) {
      ASSERT_TRUE(ParseRequestLine(line, freeze.Entries[freeze.Count++]));
    }
    FreezeRows.RowInactive.fill(0);
    ASSERT_TRUE(FreezePassOn(Definitions(), freeze, "VORTA.ini").Ok());
    ASSERT_EQ(FreezeRows.RowCount, 4);
    CarName = "Toyota Camry";
    EcuType = "2AZ-FE";
  }

  // Reads the chosen frame: the controls wait for the pass, the tick shows it.
  void Read(TForm6& f) {
    frames_.Clear();
    f.SpeedButton1->click();
    EXPECT_FALSE(f.SpinEdit1->isEnabled());  // the frame stays as sent
    ASSERT_TRUE(testing::ProcessUntil([&] { return f.SpeedButton1->isEnabled(); }))
        << CurrentLinkStatusText();
    EXPECT_EQ(LinkStatus.load(), lsIdle) << CurrentLinkStatusText();
    EXPECT_TRUE(f.SpinEdit1->isEnabled() && f.SpeedButton2->isEnabled());
    f.Timer1Timer();
  }

  std::vector<std::string> Values() const {
    std::vector<std::string> v;
    for (int r = 0; r < FreezeRows.RowCount; ++r) v.push_back(FreezeRows.Rows[r].Cells[kColValue]);
    return v;
  }
};

TEST_F(FreezeFramesTest, FramesReadInTurnLeaveOutInactiveRowsAndExportEveryRow) {
  UseSimulator();
  TForm6& f = OpenWindow<TForm6>();
  f.StringGrid1->SelectCell(kRowCoolant, 2);
  f.StringGrid1DblClick();  // coolant inactive: never asked for
  Read(f);
  const std::vector<std::string> frame0 = Values();
  EXPECT_EQ(frame0[kRowCode], "P0171");
  EXPECT_EQ(frame0[kRowCoolant], kMissing);
  EXPECT_NE(frame0[kRowRpm], kMissing);
  EXPECT_EQ(frames_.Count("83 10 F1 02 05"), 0);

  // A new number goes into every request but the first; the tick decodes the
  // new frame at once, which nothing has filled yet.
  f.SpinEdit1->setValue(1);
  const auto& entries = RequestTables[kFreezeTable].Entries;
  EXPECT_EQ((std::vector<int>{entries[0].Data[5], entries[1].Data[5], entries[3].Data[5]}),
            (std::vector<int>{0, 1, 1}));
  f.Timer1Timer();
  EXPECT_EQ(Values(), kAllMissing);
  Read(f);
  EXPECT_EQ(frames_.Count("83 10 F1 02 02 00"), 1);  // the code of frame 0 again
  EXPECT_EQ(frames_.Count("83 10 F1 02 0C 01"), 1);
  const std::string rpm = FreezeRows.Rows[kRowRpm].Cells[kColValue];
  const std::string speed = FreezeRows.Rows[kRowSpeed].Cells[kColValue];
  EXPECT_EQ(Values()[kRowCode], kMissing);  // its frame-1 slot was never asked for
  ASSERT_NE(rpm, frame0[kRowRpm]);

  f.SpeedButton3->click();
  ASSERT_TRUE(errors_.empty());
  const std::vector<std::string> lines = testing::ReadCrLfLines(Dir() / "Kadr" / "kadrM2_1.txt");
  ASSERT_EQ(lines.size(), 6u + 4u);
  EXPECT_EQ(lines[0].rfind("Дата: "_cp, 0), 0u);
  // Names padded to 63 characters, values right-aligned in 20.
  auto row = [](const char* head, std::string_view name, const std::string& value,
                std::string_view unit) {
    std::string line = std::string(head) + std::string(name);
    line.resize(11 + 63, ' ');
    return line + " " + std::string(20 - value.size(), ' ') + value + " " + std::string(unit);
  };
  const std::vector<std::string> expected = {
      lines[0],
      "",
      "Автомобиль: Toyota Camry"_cp,
      "Тип ECU: 2AZ-FE"_cp,
      "Стоп-Кадр №1 параметров"_cp,
      "",
      row(" 001  0202 ", "Код, сохранивший стоп-кадр"_cpsv, kMissing, ""),
      row(" 002  0205 ", "Температура охлаждающей жидкости"_cpsv, kMissing, "°C"_cpsv),
      row(" 003  020C ", "Обороты двигателя"_cpsv, rpm, "об/мин"_cpsv),
      row(" 004  020D ", "Скорость автомобиля"_cpsv, speed, "км/ч"_cpsv)};
  EXPECT_EQ(lines, expected);
  f.SpeedButton3->click();  // the window's own numbering
  EXPECT_TRUE(fs::exists(Dir() / "Kadr" / "kadrM2_2.txt"));
  EXPECT_EQ(ExportCounter[kExportLive], 0);

  // Frame 3 is not stored: nothing is shown, and the frames read before keep
  // their slots, so going back to frame 0 shows it without a read.
  f.SpinEdit1->setValue(3);
  Read(f);
  EXPECT_EQ(frames_.Count("83 10 F1 02 0C 03"), 1);
  EXPECT_EQ(Values(), kAllMissing);
  f.SpinEdit1->setValue(0);
  f.Timer1Timer();
  EXPECT_EQ(f.StringGrid1->Model()->Cell(kRowRpm, kColValue), ui::Text(frame0[kRowRpm]));
}

}  // namespace
}  // namespace kestrel
