// The freeze-frame window against the simulated ECU in-process (two stored
// frames, 0 and 1): reading frames one after another, the frame number in the
// requests, rows left out of a read, and the export. Offscreen; the module is
// the built VORTA.so.
#include "screens/freeze_frames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "module/response_store.h"
#include "screenlogic/export.h"
#include "tests/support/window_test.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;
namespace fs = std::filesystem;

bool WaitUntil(const std::function<bool()>& done, int ms = 15000) {
  return testing::ProcessUntil(done, ms);
}

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
    f.SpeedButton1->click();
    EXPECT_FALSE(f.SpeedButton1->isEnabled());
    EXPECT_FALSE(f.SpeedButton2->isEnabled());
    EXPECT_FALSE(f.SpinEdit1->isEnabled());  // the frame stays as sent
    ASSERT_TRUE(WaitUntil([&] { return f.SpeedButton1->isEnabled(); })) << CurrentLinkStatusText();
    EXPECT_EQ(LinkStatus.load(), lsIdle) << CurrentLinkStatusText();
    EXPECT_TRUE(f.SpeedButton3->isEnabled());
    EXPECT_TRUE(f.SpinEdit1->isEnabled());
    f.Timer1Timer();
  }

  std::vector<std::string> Values() const {
    std::vector<std::string> v;
    for (int r = 0; r < FreezeRows.RowCount; ++r) v.push_back(FreezeRows.Rows[r].Cells[kColValue]);
    return v;
  }
  static bool Filled(std::uint8_t pid, std::uint8_t frame) {
    return vorta::HasData(
        vorta::Slot(ResponseStore, vorta::kAreaMode02, vorta::Mode02Slot(pid, frame)));
  }
  static std::uint8_t FrameByte(int entry) {
    return RequestTables[kFreezeTable].Entries[entry].Data[5];
  }
};

TEST_F(FreezeFramesTest, EachReadClearsOnlyItsFrameAndTheFirstRequestKeepsItsFrameNumber) {
  UseSimulator();
  TForm6& f = OpenWindow<TForm6>();
  EXPECT_EQ(f.Label2->text(), ui::Text("Простой"_cpsv));
  Read(f);
  const std::vector<std::string> frame0 = Values();
  EXPECT_EQ(frame0[kRowCode], "P0171");
  for (int r : {kRowCoolant, kRowRpm, kRowSpeed}) EXPECT_NE(frame0[r], kMissing) << r;

  // A new number goes into every request but the first; the tick decodes the
  // new frame at once, which nothing has filled yet.
  f.SpinEdit1->setValue(1);
  EXPECT_EQ(f.FrameNumber(), 1);
  EXPECT_EQ((std::vector<int>{FrameByte(0), FrameByte(1), FrameByte(2), FrameByte(3)}),
            (std::vector<int>{0, 1, 1, 1}));
  f.Timer1Timer();
  EXPECT_EQ(Values(), kAllMissing);

  frames_.Clear();
  Read(f);
  EXPECT_EQ(frames_.Count("83 10 F1 02 02 00"), 1);  // the code of frame 0 again
  EXPECT_EQ(frames_.Count("83 10 F1 02 0C 01"), 1);
  const std::vector<std::string> frame1 = Values();
  EXPECT_EQ(frame1[kRowCode], kMissing);  // its frame-1 slot was never asked for
  EXPECT_NE(frame1[kRowRpm], kMissing);
  EXPECT_NE(frame1, frame0);

  // Frame 3 is not stored: the ECU refuses its values and nothing is shown,
  // while the frames read before keep their slots.
  f.SpinEdit1->setValue(3);
  frames_.Clear();
  Read(f);
  EXPECT_EQ(frames_.Count("83 10 F1 02 05 03"), 1);
  EXPECT_EQ(Values(), kAllMissing);
  EXPECT_TRUE(Filled(0x0C, 0));
  EXPECT_TRUE(Filled(0x0C, 1));

  // Back to frame 0: shown from the store without a read.
  f.SpinEdit1->setValue(0);
  f.Timer1Timer();
  EXPECT_EQ(Values(), frame0);
  EXPECT_EQ(f.StringGrid1->Model()->Cell(kRowRpm, kColValue), ui::Text(frame0[kRowRpm]));
}

TEST_F(FreezeFramesTest, InactiveRowsAreNotReadButTheExportHoldsEveryRow) {
  UseSimulator();
  TForm6& f = OpenWindow<TForm6>();
  f.StringGrid1->SelectCell(kRowCoolant, 2);
  f.StringGrid1DblClick();
  ASSERT_EQ(FreezeRows.RowInactive[kRowCoolant], 1);
  f.SpinEdit1->setValue(1);
  Read(f);
  EXPECT_EQ(frames_.Count("83 10 F1 02 05"), 0);
  EXPECT_EQ(frames_.Count("83 10 F1 02 0D 01"), 1);
  EXPECT_EQ(FreezeRows.Rows[kRowCoolant].Cells[kColValue], kMissing);
  const std::string rpm = FreezeRows.Rows[kRowRpm].Cells[kColValue];
  const std::string speed = FreezeRows.Rows[kRowSpeed].Cells[kColValue];
  ASSERT_NE(rpm, kMissing);
  ASSERT_LE(speed.size(), 20u);

  f.SpeedButton3->click();
  ASSERT_TRUE(errors_.empty());
  const std::vector<std::string> lines = testing::ReadCrLfLines(Dir() / "Kadr" / "kadrM2_1.txt");
  ASSERT_EQ(lines.size(), 6u + 4u);
  EXPECT_EQ(lines[0].rfind("Дата: "_cp, 0), 0u);
  // Names padded to 63 characters, values right-aligned in 20.
  auto name = [](std::string_view text) {
    std::string s(text);
    s.resize(63, ' ');
    return s;
  };
  auto value = [](const std::string& text) { return std::string(20 - text.size(), ' ') + text; };
  const std::vector<std::string> expected = {
      lines[0],
      "",
      "Автомобиль: Toyota Camry"_cp,
      "Тип ECU: 2AZ-FE"_cp,
      "Стоп-Кадр №1 параметров"_cp,
      "",
      " 001  0202 " + name("Код, сохранивший стоп-кадр"_cpsv) + " " + value(kMissing) + " ",
      " 002  0205 " + name("Температура охлаждающей жидкости"_cpsv) + " " + value(kMissing) + " " +
          "°C"_cp,
      " 003  020C " + name("Обороты двигателя"_cpsv) + " " + value(rpm) + " " + "об/мин"_cp,
      " 004  020D " + name("Скорость автомобиля"_cpsv) + " " + value(speed) + " " + "км/ч"_cp,
  };
  EXPECT_EQ(lines, expected);

  // The window's own numbering, apart from the live table's.
  f.SpeedButton3->click();
  EXPECT_TRUE(fs::exists(Dir() / "Kadr" / "kadrM2_2.txt"));
  EXPECT_EQ(ExportCounter[kExportFreeze], 2);
  EXPECT_EQ(ExportCounter[kExportLive], 0);
}

}  // namespace
}  // namespace kestrel
