#include "screens/trouble_codes.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <cmath>

#include "common/cp1251.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "screenlogic/sessions.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr int kTickMs = 100;
constexpr int kRowHeight = 20;

// The three columns' parts of the grid width, out of 777: number, code,
// description. Together less than the width: room for the grid lines and
// the vertical scroll bar.
constexpr int kColumnParts[3] = {40, 50, 663};
constexpr double kBaseWidth = 777.0;

QTableWidget* MakeCodeGrid(QWidget* parent, int x, int y, int w, int h) {
  auto* grid = new QTableWidget(1, 3, parent);
  grid->setGeometry(x, y, w, h);
  grid->horizontalHeader()->hide();  // no fixed rows
  grid->verticalHeader()->hide();    // nor fixed columns
  grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight + 1);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  grid->horizontalHeader()->setMinimumSectionSize(1);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setWordWrap(false);
  grid->setFocusPolicy(Qt::ClickFocus);
  grid->setCornerButtonEnabled(false);
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(true);
  grid->setFont(font);
  QPalette pal = grid->palette();
  pal.setColor(QPalette::Base, Qt::white);
  grid->setPalette(pal);
  grid->setStyleSheet(QStringLiteral("QTableWidget { gridline-color: #C0C0C0; }"));
  return grid;
}

void SetCell(QTableWidget* grid, int row, int column, const std::string& cp1251) {
  QTableWidgetItem* item = grid->item(row, column);
  if (item == nullptr) {
    item = new QTableWidgetItem;
    grid->setItem(row, column, item);
  }
  item->setText(ui::Text(cp1251));
}

}  // namespace

TForm7::TForm7(QWidget* parent) : QDialog(parent) {
  // A fixed dialog: a title and the close box, nothing to minimise or maximise.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(ui::Text("Ошибки ECU"_cpsv));
  QFont base(QStringLiteral("MS Sans Serif"));
  base.setPixelSize(11);
  setFont(base);
  ui::FixAndCentre(this, kClientWidth, kClientHeight);

  QFont labelFont(QStringLiteral("Times New Roman"));
  labelFont.setPixelSize(15);
  labelFont.setBold(true);

  Label1 = new QLabel(ui::Text("Текущие ошибки:"_cpsv), this);
  Label1->setFont(labelFont);
  Label1->setGeometry(8, 2, 300, 22);
  StringGrid1 = MakeCodeGrid(this, 8, 24, 777, 106);
  Label2 = new QLabel(ui::Text("Сохраненные ошибки:"_cpsv), this);
  Label2->setFont(labelFont);
  Label2->setGeometry(8, 134, 300, 22);
  StringGrid2 = MakeCodeGrid(this, 8, 156, 777, 232);

  SpeedButton1 = ui::MakeSpeedButton(this, 8, 400, 38, "Считывание ошибок ECU"_cpsv);
  SpeedButton2 = ui::MakeSpeedButton(this, 48, 400, 38, "Удаление всех ошибок с ECU"_cpsv);
  SpeedButton3 = ui::MakeSpeedButton(this, 88, 400, 38, "Выход"_cpsv);
  SpeedButton4 = ui::MakeSpeedButton(this, 744, 400, 38, "Копировать параметры в файл"_cpsv);

  Label5 = new QLabel(ui::Text("Количество ошибок:"_cpsv), this);
  Label6 = new QLabel(QStringLiteral("0"), this);
  Label7 = new QLabel(QStringLiteral("/"), this);
  Label8 = new QLabel(QStringLiteral("0"), this);
  for (QLabel* l : {Label5, Label6, Label7, Label8}) l->setFont(labelFont);
  PlaceCounts();

  const ui::StatusPair status =
      ui::MakeStatusPair(this, 136, 422, 192, 520, labelFont, ui::Text("Простой"_cpsv));
  Label3 = status.Caption;
  Label4 = status.Status;

  CheckBox1 = new QCheckBox(ui::Text("Сброс внутренней памяти ECU"_cpsv), this);
  CheckBox1->setGeometry(528, 410, 210, 17);
  // The hint keeps its line breaks; a tool tip breaks lines at LF alone.
  QString hint = ui::Text(
      "ВНИМАНИЕ!!!\r\nПосле этого сброса НЕОБХОДИМО подождать около 1 минуты, \r\n"
      "чтобы сброс произошел внутри ECU!!! После этого нужно\r\n"
      "выключить и включить зажигание."_cpsv);
  hint.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  CheckBox1->setToolTip(hint);

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm7::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm7::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm7::SpeedButton3Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm7::SpeedButton4Click);

  Timer1 = new QTimer(this);
  Timer1->setInterval(kTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm7::Timer1Timer);

  // Until the first decode each grid holds one empty row and both counts are 0.
  lists_.Current.Rows.emplace_back();
  lists_.Stored.Rows.emplace_back();
}

TForm7::~TForm7() = default;

// ---------------------------------------------------------------- opening and closing

void TForm7::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormActivate();
}

void TForm7::FormActivate() {
  ui::FixAndCentre(this, kClientWidth, kClientHeight);
  for (QTableWidget* grid : {StringGrid1, StringGrid2}) {
    const double w = grid->width();
    for (int c = 0; c < 3; ++c) {
      grid->setColumnWidth(c, static_cast<int>(std::lround(w * kColumnParts[c] / kBaseWidth)));
    }
  }
  ui::SetGlyph(SpeedButton1, "readcodes.bmp");
  ui::SetGlyph(SpeedButton2, "clear.bmp");
  ui::SetGlyph(SpeedButton3, "exit.bmp");
  ui::SetGlyph(SpeedButton4, "copy.bmp");
  Timer1->start();
  CheckBox1->setEnabled(NormalizeResetCount(RequestTables[kDtcClearTable]) != 0);
}

void TForm7::FormClose() {
  Timer1->stop();
}

void TForm7::closeEvent(QCloseEvent* event) {
  FormClose();
  QDialog::closeEvent(event);
}

void TForm7::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TForm7::SpeedButton3Click() {
  close();
}

// ---------------------------------------------------------------- read and clear

void TForm7::EnableControls(bool buttons, bool resetBox) {
  for (QToolButton* b : {SpeedButton1, SpeedButton2, SpeedButton3, SpeedButton4}) {
    b->setEnabled(buttons);
  }
  CheckBox1->setEnabled(resetBox);
}

void TForm7::SpeedButton1Click() {
  EnableControls(false, false);
  StartDtcRead();  // zeroes the code areas, waits for a previous session, one pass
  ticker_.SessionStarted();
}

bool TForm7::ConfirmClear() {
  QMessageBox box(QMessageBox::Question, ui::AppTitle(),
                  ui::Text("Вы действительно хотите удалить все ошибки с ECU?"_cpsv),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void TForm7::SpeedButton2Click() {
  if (!ConfirmClear()) return;
  const bool withReset = CheckBox1->isChecked();
  EnableControls(false, false);
  StartDtcClear(withReset);  // the store is left as it is
  ticker_.SessionStarted();
}

// ---------------------------------------------------------------- the tick

void TForm7::Timer1Timer() {
  Timer1->stop();
  const std::uint16_t status = LinkStatus.load();
  ui::ShowLinkStatus(Label4, status, LinkError.load());
  const DtcTickActions a =
      ticker_.Tick(status, PassCount.load(), RequestTables[kDtcClearTable].ResetCount);
  if (a.enableControls) EnableControls(true, a.enableResetBox);
  if (a.decode) {
    lists_ = DecodeDtcLists(VehicleModule.DTCError, ResponseStore, DtcTexts);
    ShowList(StringGrid1, Label6, lists_.Current);
    ShowList(StringGrid2, Label8, lists_.Stored);
    PlaceCounts();
  }
  if (isVisible()) Timer1->start();
}

void TForm7::ShowList(QTableWidget* grid, QLabel* count, const DtcListView& list) {
  count->setText(QString::number(list.Count()));
  grid->setUpdatesEnabled(false);
  grid->setRowCount(static_cast<int>(list.Rows.size()));
  for (int r = 0; r < static_cast<int>(list.Rows.size()); ++r) {
    const DtcRow& row = list.Rows[r];
    SetCell(grid, r, 0, row.Number);
    SetCell(grid, r, 1, row.Code);
    SetCell(grid, r, 2, row.Text);
  }
  grid->setUpdatesEnabled(true);
}

// "Количество ошибок:", the current count, "/" and the stored count in a row,
// each as wide as its text.
void TForm7::PlaceCounts() {
  int x = 136;
  for (QLabel* l : {Label5, Label6, Label7, Label8}) {
    l->adjustSize();
    l->move(x, 400);
    x += l->width() + 4;
  }
}

// ---------------------------------------------------------------- export

void TForm7::SpeedButton4Click() {
  const ExportResult result = WriteDtcExport(CarName, EcuType, lists_);
  if (!result.ok) ui::ShowErrorBox(this, result.error);
}

}  // namespace kestrel
