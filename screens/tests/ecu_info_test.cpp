// The ECU information window against the simulated ECU in-process: the
// check list items from the PID name lists, a read filling every field and
// tab, ticks the user cannot change, and "InfoECU.txt" line by line.
// Offscreen; the module is the built VORTA.so.
#include "screens/ecu_info.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>
#include <cstring>
#include <string>
#include <vector>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "tests/support/window_test.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

using namespace cp1251_literals;

// The ECU-information list of the shipped configurations.
const char* const kRequests[] = {
    "82 10 F1 01 00",    "82 10 F1 01 20", "82 10 F1 01 40", "82 10 F1 01 13", "82 10 F1 01 1C",
    "83 10 F1 02 00 00", "82 10 F1 21 00", "82 10 F1 21 20", "82 10 F1 21 40", "82 10 F1 21 60",
    "82 10 F1 21 80",    "82 10 F1 21 A0", "82 10 F1 21 C0", "82 10 F1 21 E0", "82 10 F1 21 D3",
    "82 10 F1 30 00",    "82 10 F1 09 00", "82 10 F1 09 02",
};

std::vector<ParameterDefinition> Definitions() {
  auto def = [](const char* code, const char* name) {
    return ParameterDefinition{code, cp1251::FromUtf8(name), "", "00", 0};
  };
  return {def("010C", "Обороты двигателя"), def("2105", "Температура ОЖ"),
          def("3018", "Обороты ХХ"), def("0902", "VIN")};
}

class EcuInfoWindowTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    vorta::RequestTable& info = RequestTables[kInfoTable];
    std::memset(&info, 0, sizeof info);
    for (const char* line : kRequests) {
      ASSERT_TRUE(ParseRequestLine(line, info.Entries[info.Count++]));
    }
    PidNamePassOn(Definitions());
    CarName = "Toyota Camry";
    EcuType = "2AZ-FE";
  }

  static std::vector<int> Checked(const QListWidget* box) {
    std::vector<int> ids;
    for (int i = 0; i < box->count(); ++i) {
      if (box->item(i)->checkState() == Qt::Checked) ids.push_back(i);
    }
    return ids;
  }
};

TEST_F(EcuInfoWindowTest, ReadFillsEveryTabAndTheExportMatchesLineByLine) {
  UseSimulator();
  TForm8& f = OpenWindow<TForm8>();
  ASSERT_EQ(f.CheckListBox[4]->count(), 33);
  EXPECT_EQ(f.CheckListBox[1]->item(0x0C)->text(), QStringLiteral("PID=0C Обороты двигателя"));
  EXPECT_EQ(f.CheckListBox[2]->item(0x05)->text(), QStringLiteral("PID=05 Температура ОЖ"));
  EXPECT_EQ(f.CheckListBox[3]->item(0xFF)->text(), QStringLiteral("PID=FF "));
  f.Timer1Timer();  // nothing answered yet
  EXPECT_EQ(f.Edit2->text(), QStringLiteral("Неизвестно"));
  EXPECT_TRUE(Checked(f.CheckListBox[0]).empty());

  f.SpeedButton1->click();
  EXPECT_FALSE(f.SpeedButton2->isEnabled());
  ASSERT_TRUE(testing::ProcessUntil([&] { return f.SpeedButton3->isEnabled(); }))
      << CurrentLinkStatusText();
  ASSERT_EQ(LinkStatus.load(), lsIdle) << CurrentLinkStatusText();
  f.Timer1Timer();
  EXPECT_EQ(f.Edit1->text(), QStringLiteral("89661"));
  EXPECT_EQ(f.Edit2->text(), QStringLiteral("JOBD и OBDII"));
  EXPECT_EQ(f.Label4->text(), QStringLiteral("№1 После двигателя (Головка 1)\n"
                                             "№2 После 1-го нейтрализатора (Головка 1)\n"));
  EXPECT_EQ(Checked(f.CheckListBox[3]),
            (std::vector<int>{0x00, 0x01, 0x02, 0x03, 0x08, 0x0C, 0x13, 0x14, 0x15, 0x18}));

  // The user cannot tick or untick an item.
  QListWidget* sid01 = f.CheckListBox[0];
  sid01->setCurrentRow(2);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
  QApplication::sendEvent(sid01, &press);
  QApplication::sendEvent(sid01, &release);
  EXPECT_EQ(sid01->item(2)->checkState(), Qt::Unchecked);

  // The file is replaced whole, a longer old one included.
  testing::WriteCp1251(Dir() / "Kadr" / "InfoECU.txt", std::vector<std::string>(80, "old"));
  f.SpeedButton3->click();
  ASSERT_TRUE(errors_.empty());
  const std::vector<std::string> expected = {
      "Автомобиль: Toyota Camry",
      "Тип ECU: 2AZ-FE",
      "ID ECU:89661",
      "Тип OBD:JOBD и OBDII",
      "Датчики кислорода и их расположение:",
      "№1 После двигателя (Головка 1)",
      "№2 После 1-го нейтрализатора (Головка 1)",
      "",
      "",
      "Список PID у Mode01:",
      " 00 01 03 04 05 06 07 0C 0D 0E 0F 10 11 13 14 15",
      " 1C 1F 20 21 2E 2F 30 31 33 3C 40 42 43 44 45 46",
      " 47 49 4A 4C",
      "",
      "Список PID у Mode02:",
      " 00 02 03 04 05 06 07 0C 0D 0E 0F 10",  // the count of 16 runs on over the lists
      " 11",
      "",
      "Список PID у Mode21:",
      " 00 01 03 04 05 06 07 0C 0D 0E 0F 10 11 13 14",
      " 15 1C 1F 20 21 2E 2F 30 31 33 3C 40 42 43 44 45",
      " 46 47 49 4A 4C 60 80 81 82 83 84 85 86 87 88 89",
      " 95 96 97 98 99 9A 9B 9C 9D A0 B1 B2 B3 B4 B5 B6",
      " B7 B8 B9 BA BB C0 D0 D3 D5 DA E0 E1 E2 E3 E4 E5",
      " E6 E7 E8 E9 EA EB EC ED EE EF F0 F1 F2 F3 F4 F5",
      " F6 F7 F8 F9 FA FB FC FD FE",
      "",
      "Список PID у Mode30:",
      " 00 01 02 03 08 0C 13",
      " 14 15 18",
      "",
      "Список PID у Mode09:",
      " 00 01 02 03 04 05 06",
  };
  std::vector<std::string> lines = testing::ReadCrLfLines(Dir() / "Kadr" / "InfoECU.txt");
  for (std::string& line : lines) line = cp1251::ToUtf8(line);
  EXPECT_EQ(lines, expected);
}

}  // namespace
}  // namespace kestrel
