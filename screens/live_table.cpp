#include "screens/live_table.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "screenlogic/live.h"
#include "screenlogic/sessions.h"
#include "screenlogic/table_rows.h"
#include "screens/param_grid.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr int kTickMs = 100;

using ui::MakeSpeedButton;
using ui::SetGlyph;

void Apply(QWidget* w, Enable e) {
  if (e != Enable::Keep) w->setEnabled(e == Enable::On);
}

}  // namespace

TForm3::TForm3(QWidget* parent)
    : ui::DiagnosticWindow(parent, "Таблица параметров реального времени"_cpsv, kClientWidth,
                           kClientHeight) {
  StringGrid1 = new ParamGrid(this);
  StringGrid1->setGeometry(8, 8, 777, 382);
  connect(StringGrid1, &ParamGrid::TableDoubleClicked, this, &TForm3::StringGrid1DblClick);

  SpeedButton1 =
      MakeSpeedButton(this, 8, 400, 38, "Старт/стоп циклического опроса параметров"_cpsv);
  SpeedButton2 = MakeSpeedButton(this, 48, 400, 38, "Выход"_cpsv);

  const ui::StatusPair status =
      ui::MakeStatusPair(this, 96, 422, 152, 640, ui::StatusFont(), ui::Text("Простой"_cpsv));
  Label1 = status.Caption;
  Label2 = status.Status;

  ComboBox1 = new QComboBox(this);
  ComboBox1->setGeometry(96, 400, 241, 21);
  ComboBox1->addItem(ui::Text("Нет"_cpsv));
  ComboBox1->setEnabled(false);
  connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });

  SpeedButton8 = MakeSpeedButton(this, 344, 400, 19, "Включить"_cpsv);
  SpeedButton9 = MakeSpeedButton(this, 368, 400, 19, "Выключить"_cpsv);
  Edit1 = new QLineEdit(QStringLiteral("0"), this);
  Edit1->setGeometry(400, 400, 81, 21);
  Edit1->installEventFilter(this);
  SpeedButton10 = MakeSpeedButton(this, 488, 400, 19, "Включить режим теста"_cpsv);
  SpeedButton11 = MakeSpeedButton(this, 512, 400, 19, "Выключить режим теста"_cpsv);
  rowButtons_ = MakeRowButtons(this, 400);
  SpeedButton6 = rowButtons_.ShowAll;
  SpeedButton7 = rowButtons_.HideInactive;
  SpeedButton4 = rowButtons_.ActivateAll;
  SpeedButton5 = rowButtons_.DeactivateAll;
  SpeedButton3 = MakeSpeedButton(this, 744, 400, 38, "Копировать параметры в файл"_cpsv);
  for (QWidget* w : {static_cast<QWidget*>(SpeedButton8), static_cast<QWidget*>(SpeedButton9),
                     static_cast<QWidget*>(Edit1), static_cast<QWidget*>(SpeedButton10),
                     static_cast<QWidget*>(SpeedButton11)}) {
    w->setEnabled(false);
  }

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm3::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm3::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm3::SpeedButton3Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm3::SpeedButton4Click);
  connect(SpeedButton5, &QToolButton::clicked, this, &TForm3::SpeedButton5Click);
  connect(SpeedButton6, &QToolButton::clicked, this, &TForm3::SpeedButton6Click);
  connect(SpeedButton7, &QToolButton::clicked, this, &TForm3::SpeedButton7Click);
  connect(SpeedButton8, &QToolButton::clicked, this, &TForm3::SpeedButton8Click);
  connect(SpeedButton9, &QToolButton::clicked, this, &TForm3::SpeedButton9Click);
  connect(SpeedButton10, &QToolButton::clicked, this, &TForm3::SpeedButton10Click);
  connect(SpeedButton11, &QToolButton::clicked, this, &TForm3::SpeedButton11Click);

  Timer1 = new QTimer(this);
  Timer1->setInterval(kTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm3::Timer1Timer);
}

TForm3::~TForm3() {
  // A window that goes away while polling must not leave the session cycling.
  if (Timer1 != nullptr && Timer1->isActive()) FormClose();
}

bool TForm3::Polling() const {
  return RunFlag.load() != 0;
}

// ---------------------------------------------------------------- opening and closing

void TForm3::FormActivate() {
  StringGrid1->Bind(&LiveRows);
  ResetValueCache();
  StringGrid1->ApplyColumnWidths();
  SyncTestSelector();
  SetGlyph(SpeedButton2, "exit.bmp");
  SetGlyph(SpeedButton3, "copy.bmp");
  SetRowButtonGlyphs(rowButtons_);
  SetGlyph(SpeedButton8, "on.bmp");
  SetGlyph(SpeedButton9, "off.bmp");
  SetGlyph(SpeedButton10, "teston.bmp");
  SetGlyph(SpeedButton11, "testoff.bmp");
  SetStartGlyph(Polling());
  Timer1->start();
}

void TForm3::FormClose() {
  RunFlag.store(0);  // the running session finishes its pass and ends
  startPending_ = false;
  Timer1->stop();
}

void TForm3::ResetValueCache() {
  StringGrid1->ResetValues();
}

void TForm3::SyncTestSelector() {
  const int count = std::clamp(TestSelectorCount, 1, kMaxTestPositions);
  std::vector<std::string> items(TestSelectorItems.begin(), TestSelectorItems.begin() + count);
  if (items == selectorItems_ && ComboBox1->count() == count) return;  // keep the choice
  selectorItems_ = std::move(items);
  ComboBox1->blockSignals(true);
  ComboBox1->clear();
  for (const std::string& item : selectorItems_) ComboBox1->addItem(ui::Text(item));
  ComboBox1->setCurrentIndex(0);
  ComboBox1->blockSignals(false);
  ComboBox1->setEnabled(false);
  SpeedButton8->setEnabled(false);
  SpeedButton9->setEnabled(false);
  Edit1->setEnabled(false);
  testRequest_ = vorta::TestRequest{};
}

void TForm3::SetStartGlyph(bool polling) {
  SetGlyph(SpeedButton1, polling ? "stop.bmp" : "start.bmp");
}

// ---------------------------------------------------------------- start/stop

void TForm3::SpeedButton1Click() {
  if (RunFlag.load() != 0 || startPending_) {
    RunFlag.store(0);
    startPending_ = false;
    SetStartGlyph(false);
    return;
  }
  SpeedButton1->setEnabled(false);
  SpeedButton2->setEnabled(false);
  SpeedButton3->setEnabled(false);
  SetStartGlyph(true);
  // The previous session must have ended before RunFlag is set again: a
  // cyclic session that still runs its last pass would otherwise see the flag
  // and go on cycling. Rather than block the window for that pass (seconds
  // with a long request list, while it still showed the old exchange), the
  // start waits for the tick that sees the link idle.
  if (NoLink(LinkStatus.load())) {
    StartLivePolling();
  } else {
    startPending_ = true;
  }
}

void TForm3::SpeedButton2Click() {
  close();
}

// ---------------------------------------------------------------- the tick

void TForm3::ApplyControls(const LiveControls& c) {
  Apply(SpeedButton1, c.startStop);
  Apply(SpeedButton3, c.copy);
  Apply(SpeedButton2, c.exit);
  Apply(ComboBox1, c.selector);
  Apply(SpeedButton8, c.switchOn);
  Apply(SpeedButton9, c.switchOff);
  Apply(Edit1, c.valueBox);
  Apply(SpeedButton10, c.modeOn);
  Apply(SpeedButton11, c.modeOff);
}

void TForm3::Timer1Timer() {
  if (startPending_ && NoLink(LinkStatus.load())) {
    startPending_ = false;
    StartLivePolling();
  }
  const std::uint16_t status = LinkStatus.load();
  ui::ShowLinkStatus(Label2, status, LinkError.load());

  const LiveControls c =
      TickControls(status, RunFlag.load(), ComboBox1->count(), ComboBox1->currentIndex(),
                   testRequest_, RequestTables[kLiveTable]);
  ApplyControls(c);
  if (c.stopPolling) {
    RunFlag.store(0);
    SetStartGlyph(false);
  }

  StringGrid1->RefreshValues(RowKeys::Live());
}

// ---------------------------------------------------------------- rows

void TForm3::StringGrid1DblClick() {
  StringGrid1->ToggleSelectedRequest();
}

void TForm3::SpeedButton4Click() {
  StringGrid1->ActivateAll();
}

void TForm3::SpeedButton5Click() {
  StringGrid1->DeactivateAll();
}

void TForm3::SpeedButton6Click() {
  StringGrid1->ShowAll();
}

void TForm3::SpeedButton7Click() {
  StringGrid1->HideInactive();
}

// ---------------------------------------------------------------- export

void TForm3::SpeedButton3Click() {
  const ExportResult result =
      WriteTableExport(kExportLive, CarName, EcuType, LiveExportTitle(), LiveRows, false);
  if (!result.ok) ui::ShowErrorBox(this, result.error);
}

// ---------------------------------------------------------------- actuator tests

void TForm3::CallTest() {
  if (VehicleModule.ACTTESTProc == nullptr) return;
  // The module writes into the table: never hand it a record without one.
  if (testRequest_.Table == nullptr) testRequest_.Table = &RequestTables[kLiveTable];
  VehicleModule.ACTTESTProc(&testRequest_);
}

void TForm3::ComboBox1Change() {
  const int item = ComboBox1->currentIndex();
  if (item <= 0 || item >= kMaxTestPositions) {
    SpeedButton8->setEnabled(false);
    SpeedButton9->setEnabled(false);
    Edit1->setEnabled(false);
    return;
  }
  const TestEntry& test = TestList[item];
  testRequest_.Table = &RequestTables[kLiveTable];
  testRequest_.Command = 0;
  testRequest_.Service = test.Service;
  testRequest_.Id1 = test.Id1;
  testRequest_.Id2 = test.Id2;
  testRequest_.Flags = test.Flags;
  CallTest();
  valueHint_ = MinMaxHint(testRequest_.Min, testRequest_.Max);
  QString tip = ui::Text(valueHint_);
  tip.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Edit1->setToolTip(tip);
  const TestInputs inputs = InputsForFlags(test.Flags);
  SpeedButton8->setEnabled(inputs.switches);
  SpeedButton9->setEnabled(inputs.switches);
  Edit1->setEnabled(inputs.valueBox);
}

void TForm3::SpeedButton8Click() {
  testRequest_.Command = 1;
  testRequest_.Value = 1.0;
  CallTest();
  SpeedButton8->setEnabled(false);
  ComboBox1->setEnabled(false);
}

void TForm3::SpeedButton9Click() {
  testRequest_.Command = 1;
  testRequest_.Value = 0.0;
  CallTest();
  SpeedButton9->setEnabled(false);
  ComboBox1->setEnabled(false);
}

void TForm3::Edit1DblClick() {
  const std::string text = ui::Cp(Edit1->text());
  double value = 0.0;
  if (!ParseFloat(text, value)) {
    ui::ShowErrorBox(this, ConversionError(kNotFloat, text));
    return;
  }
  testRequest_.Command = 1;
  testRequest_.Value = value;
  CallTest();
  Edit1->setEnabled(false);
  ComboBox1->setEnabled(false);
}

void TForm3::SpeedButton10Click() {
  testRequest_.ModeOn = 1;
  testRequest_.Table = &RequestTables[kLiveTable];
  CallTest();
}

void TForm3::SpeedButton11Click() {
  testRequest_.ModeOff = 1;
  testRequest_.Table = &RequestTables[kLiveTable];
  CallTest();
}

bool TForm3::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Edit1 && event->type() == QEvent::MouseButtonDblClick && Edit1->isEnabled()) {
    Edit1DblClick();
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace kestrel
