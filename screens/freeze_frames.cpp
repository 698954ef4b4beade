#include "screens/freeze_frames.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/freeze.h"
#include "screenlogic/sessions.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr int kTickMs = 100;

}  // namespace

TForm6::TForm6(QWidget* parent)
    : ui::DiagnosticWindow(parent, "Стоп-кадры"_cpsv, kClientWidth, kClientHeight) {
  StringGrid1 = new ParamGrid(this, {.GridLines = true, .ThumbTracking = true});
  StringGrid1->setGeometry(8, 8, 777, 382);
  connect(StringGrid1, &ParamGrid::TableDoubleClicked, this, &TForm6::StringGrid1DblClick);

  SpeedButton1 = ui::MakeSpeedButton(this, 8, 400, 38, "Считывание параметров"_cpsv);
  SpeedButton2 = ui::MakeSpeedButton(this, 48, 400, 38, "Выход"_cpsv);

  const ui::StatusPair status =
      ui::MakeStatusPair(this, 96, 416, 152, 512, ui::StatusFont(), ui::Text("Простой"_cpsv));
  Label1 = status.Caption;
  Label2 = status.Status;

  Label3 = new QLabel(ui::Text("№ кадра:"_cpsv), this);
  Label3->move(520, 400);
  Label3->adjustSize();

  SpinEdit1 = new QSpinBox(this);
  SpinEdit1->setGeometry(592, 398, 49, 22);
  SpinEdit1->setRange(0, 255);
  SpinEdit1->setValue(0);
  QFont spinFont(QStringLiteral("Arial"));
  spinFont.setPixelSize(13);
  spinFont.setBold(true);
  SpinEdit1->setFont(spinFont);
  if (QLineEdit* edit = SpinEdit1->findChild<QLineEdit*>()) edit->setMaxLength(3);
  connect(SpinEdit1, &QSpinBox::valueChanged, this, [this] { SpinEdit1Change(); });

  rowButtons_ = MakeRowButtons(this, 400);
  SpeedButton6 = rowButtons_.ShowAll;
  SpeedButton7 = rowButtons_.HideInactive;
  SpeedButton4 = rowButtons_.ActivateAll;
  SpeedButton5 = rowButtons_.DeactivateAll;
  SpeedButton3 = ui::MakeSpeedButton(this, 744, 400, 38, "Копировать параметры в файл"_cpsv);

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm6::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm6::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm6::SpeedButton3Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm6::SpeedButton4Click);
  connect(SpeedButton5, &QToolButton::clicked, this, &TForm6::SpeedButton5Click);
  connect(SpeedButton6, &QToolButton::clicked, this, &TForm6::SpeedButton6Click);
  connect(SpeedButton7, &QToolButton::clicked, this, &TForm6::SpeedButton7Click);

  Timer1 = new QTimer(this);
  Timer1->setInterval(kTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm6::Timer1Timer);
}

TForm6::~TForm6() = default;

// ---------------------------------------------------------------- opening and closing

void TForm6::FormActivate() {
  StringGrid1->Bind(&FreezeRows);
  // The configuration may have been reloaded meanwhile: every row is written anew.
  StringGrid1->ResetValues();
  StringGrid1->ApplyColumnWidths();
  ui::SetGlyph(SpeedButton1, "read.bmp");
  ui::SetGlyph(SpeedButton2, "exit.bmp");
  ui::SetGlyph(SpeedButton3, "copy.bmp");
  SetRowButtonGlyphs(rowButtons_);
  Timer1->start();
}

void TForm6::FormClose() {
  Timer1->stop();
}

// ---------------------------------------------------------------- the frame number

void TForm6::SpinEdit1Change() {
  frame_ = static_cast<std::uint8_t>(SpinEdit1->value());
  SetFreezeFrameNumber(RequestTables[kFreezeTable], frame_);
}

// ---------------------------------------------------------------- read

void TForm6::EnableReadControls(bool on) {
  SpeedButton1->setEnabled(on);
  SpeedButton2->setEnabled(on);
  SpeedButton3->setEnabled(on);
  // The session sends the requests the frame number is written into: it is
  // changed only between reads.
  SpinEdit1->setEnabled(on);
}

void TForm6::SpeedButton1Click() {
  EnableReadControls(false);
  StartFreezeRead(frame_);
}

void TForm6::SpeedButton2Click() {
  close();
}

// ---------------------------------------------------------------- the tick

void TForm6::Timer1Timer() {
  const std::uint16_t status = LinkStatus.load();
  ui::ShowLinkStatus(Label2, status, LinkError.load());
  if (NoLink(status)) EnableReadControls(true);
  StringGrid1->RefreshValues(RowKeys::FreezeFrame(frame_));
}

// ---------------------------------------------------------------- rows

void TForm6::StringGrid1DblClick() {
  StringGrid1->ToggleSelectedRequest();
}

void TForm6::SpeedButton4Click() {
  StringGrid1->ActivateAll();
}

void TForm6::SpeedButton5Click() {
  StringGrid1->DeactivateAll();
}

void TForm6::SpeedButton6Click() {
  StringGrid1->ShowAll();
}

void TForm6::SpeedButton7Click() {
  StringGrid1->HideInactive();
}

// ---------------------------------------------------------------- export

void TForm6::SpeedButton3Click() {
  const ExportResult result = WriteFreezeExport(CarName, EcuType, frame_, FreezeRows);
  if (!result.ok) ui::ShowErrorBox(this, result.error);
}

}  // namespace kestrel
