// The settings window: activation, clamping, closing, the reader and writer
// buttons and the port device line.
#include "config/ui/settings_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "app/tests/test_support.h"
#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/settings_model.h"
#include "link/link_globals.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using testing::ConfigLines;
using testing::OnModal;
using testing::ReadLinesUtf8;
using testing::WriteCp1251;

class SettingsWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetProgramState();
    testing::MakeEcuFolder("ECU/ONE");
    lines_ = ConfigLines("Авто", "ЭБУ", "ECU\\ONE");
    lines_[4] = "19200";  // line 5: a speed the window does not offer
    lines_[8] = "10";     // line 9: P3 below the window's minimum of 12
    lines_.push_back("строка после списков");
    WriteCp1251("ecu.ini", lines_);
    ASSERT_TRUE(LoadInit("ecu.ini").Ok());
    ConfigFileName = "ecu.ini";
    ui::SetErrorBoxHandler([this](const QString& text) { boxes_.push_back(text.toStdString()); });
    window_.ShowFields(FieldsFromSettings());  // as on activation
  }
  void TearDown() override { testing::ResetProgramState(); }

  // Shows the window modally and runs `act` on it, then closes it.
  void ShowAndClose(const std::function<void(TForm12*)>& act) {
    auto watch = OnModal<TForm12>([&](TForm12* w) {
      act(w);
      w->close();
    });
    window_.exec();
    EXPECT_TRUE(watch->Seen());
  }
  QSpinBox* Number(FieldId id) { return static_cast<QSpinBox*>(window_.Editor(id)); }
  QComboBox* List(FieldId id) { return static_cast<QComboBox*>(window_.Editor(id)); }
  QLineEdit* Hex(FieldId id) { return static_cast<QLineEdit*>(window_.Editor(id)); }
  QCheckBox* Check(FieldId id) { return static_cast<QCheckBox*>(window_.Editor(id)); }

  testing::ScratchDir dir_;
  std::vector<std::string> lines_;
  std::vector<std::string> boxes_;
  TForm12 window_;
};

TEST_F(SettingsWindowTest, OpeningAndClosingClampsTheLoadedValues) {
  // Loaded values are used as they stand until the window is closed.
  EXPECT_EQ(LinkSettings.BaudRate, 19200);
  EXPECT_EQ(LinkSettings.P3, 10);
  ShowAndClose([&](TForm12*) {
    EXPECT_EQ(List(kFieldBaud)->currentText(), QStringLiteral("10400"));
    EXPECT_EQ(Number(kFieldP3)->value(), 12);
    EXPECT_EQ(List(kFieldPort)->currentText(), QStringLiteral("COM2"));
    EXPECT_EQ(List(kFieldProtocol)->currentIndex(), 1);
    EXPECT_EQ(Hex(kFieldKw2)->text(), QStringLiteral("8F"));
    EXPECT_EQ(Number(kFieldInjectorFlow)->value(), 210);
  });
  EXPECT_EQ(LinkSettings.BaudRate, 10400);
  EXPECT_EQ(LinkSettings.P3, 12);
  EXPECT_EQ(LinkSettings.W5, 300);  // unchanged values survive the round trip
}

TEST_F(SettingsWindowTest, EditsTakeEffectOnClosingByAnyMeans) {
  ShowAndClose([&](TForm12*) {
    List(kFieldPort)->setCurrentIndex(11);
    Number(kFieldW5)->setValue(450);
    Hex(kFieldEcuAddress)->setText(QStringLiteral("1A"));
    Check(kFieldLog)->setChecked(true);
    Check(kFieldAutostart)->setChecked(true);
  });
  EXPECT_EQ(LinkSettings.PortName, "COM12");
  EXPECT_EQ(LinkSettings.W5, 450);
  EXPECT_EQ(LinkSettings.EcuAddress, 0x1A);
  EXPECT_EQ(LogEnabled.load(), 1);
  EXPECT_EQ(AutostartDashboard, 1);
  EXPECT_EQ(StartRequest, 0) << "the dashboard's start request is not the window's to set";
}

TEST_F(SettingsWindowTest, AddressFieldsTakeTypedAndPastedDigitsInUpperCase) {
  ShowAndClose([&](TForm12*) {
    QLineEdit* kw2 = Hex(kFieldKw2);
    kw2->clear();
    for (const char c : {'8', 'f'}) {
      QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(c)));
      QApplication::sendEvent(kw2, &press);
    }
    EXPECT_EQ(kw2->text(), QStringLiteral("8F"));
    Hex(kFieldTesterAddress)->selectAll();
    Hex(kFieldTesterAddress)->insert(QStringLiteral("e1"));  // what a paste does
    EXPECT_EQ(Hex(kFieldTesterAddress)->text(), QStringLiteral("E1"));
  });
  EXPECT_EQ(LinkSettings.Kw2, 0x8F);
  EXPECT_EQ(LinkSettings.TesterAddress, 0xE1);
}

TEST_F(SettingsWindowTest, NumberFieldsClampTypedTextOnLeaving) {
  QSpinBox* w4 = Number(kFieldW4);  // 10..50
  auto type = [&](const char* text) {
    w4->findChild<QLineEdit*>()->setText(QString::fromUtf8(text));
    w4->interpretText();
    return w4->value();
  };
  EXPECT_EQ(type("70"), 50);
  EXPECT_EQ(type("3"), 10);
  EXPECT_EQ(type(""), 10);
  EXPECT_EQ(type("25"), 25);
  EXPECT_EQ(window_.Fields().Value[kFieldW4], 25);
}

TEST_F(SettingsWindowTest, WriterRewritesOnlyTheSettingsLines) {
  ShowAndClose([&](TForm12* w) {
    Number(kFieldW5)->setValue(500);
    Check(kFieldLog)->setChecked(true);
    Hex(kFieldEcuAddress)->setText(QStringLiteral("1a"));  // the field holds it as 1A
    w->SpeedButton2Click();
  });
  const std::vector<std::string> got = ReadLinesUtf8("ecu.ini");
  std::vector<std::string> want = lines_;
  want[4] = "10400";
  want[5] = "500";
  want[8] = "12";
  want[15] = "-1";
  want[18] = "1A";
  EXPECT_EQ(got, want);
  EXPECT_FALSE(fs::exists("$.$$$"));
  EXPECT_TRUE(boxes_.empty());

  // Without the configuration file nothing is written and nothing reported.
  ConfigFileName = "none.ini";
  window_.SpeedButton2Click();
  EXPECT_FALSE(fs::exists("none.ini"));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(SettingsWindowTest, ReaderFillsTheFieldsButNotTheSettings) {
  std::vector<std::string> edited = lines_;
  edited[5] = "700";   // W5
  edited[6] = "зеро";  // W1..4: not a number, stops the reading here
  edited[10] = "7";    // P4, after the bad line: not read
  WriteCp1251("ecu.ini", edited);
  window_.SpeedButton1Click();
  EXPECT_EQ(Number(kFieldW5)->value(), 700);
  EXPECT_EQ(Number(kFieldP4)->value(), 0);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "'зеро' is not a valid integer value");
  EXPECT_EQ(LinkSettings.W5, 300) << "settings change only when the window closes";

  edited[6] = "120";
  WriteCp1251("ecu.ini", edited);
  window_.SpeedButton1Click();
  EXPECT_EQ(Number(kFieldP4)->value(), 7);
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(SettingsWindowTest, ShowsTheDeviceOfThePortAndWhetherItExists) {
  std::ofstream("ports.ini") << "/dev/null-not-here\n"
                             << (dir_.Path() / "adapter").string() << "\n";
  std::ofstream("adapter") << "";
  window_.ShowFields(FieldsFromSettings());  // activation: COM2, line 2 of ports.ini
  QString text = window_.DeviceLabel()->text();
  EXPECT_TRUE(text.contains(QString::fromStdString((dir_.Path() / "adapter").string())))
      << text.toStdString();
  EXPECT_TRUE(text.contains(ui::Text(cp1251::FromUtf8("найдено"))));
  EXPECT_FALSE(text.contains(ui::Text(cp1251::FromUtf8("не найдено"))));

  // Each port item names its device too.
  const QString com1 = List(kFieldPort)->itemData(0, Qt::ToolTipRole).toString();
  EXPECT_TRUE(com1.contains(QStringLiteral("/dev/null-not-here"))) << com1.toStdString();
  EXPECT_TRUE(com1.contains(ui::Text(cp1251::FromUtf8("не найдено"))));

  List(kFieldPort)->setCurrentIndex(4);  // COM5: no line, the default device
  text = window_.DeviceLabel()->text();
  EXPECT_TRUE(text.contains(QStringLiteral("/dev/ttyUSB4"))) << text.toStdString();
  EXPECT_TRUE(text.contains(ui::Text(cp1251::FromUtf8("не найдено"))));
}

}  // namespace
}  // namespace kestrel
