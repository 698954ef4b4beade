#include "screens/ecu_info.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/sessions.h"
#include "screenlogic/table_rows.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr int kTickMs = 300;

// The left column: identification, OBD type and sensors.
constexpr int kLeftX = 8;
constexpr int kLeftWidth = 296;

QLabel* MakeCaption(QWidget* parent, std::string_view cp1251, int x, int y) {
  auto* label = new QLabel(ui::Text(cp1251), parent);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QLineEdit* MakeField(QWidget* parent, int x, int y) {
  auto* edit = new QLineEdit(parent);
  edit->setGeometry(x, y, kLeftWidth, 21);
  edit->setReadOnly(true);
  return edit;
}

void SetTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit->text() != text) edit->setText(text);
}

}  // namespace

TForm8::TForm8(QWidget* parent)
    : ui::DiagnosticWindow(parent, "Информация о ECU"_cpsv, kClientWidth, kClientHeight) {
  Label1 = MakeCaption(this, "ID ECU:"_cpsv, kLeftX, 8);
  Edit1 = MakeField(this, kLeftX, 24);
  Label2 = MakeCaption(this, "Тип OBD:"_cpsv, kLeftX, 56);
  Edit2 = MakeField(this, kLeftX, 72);
  Label3 = MakeCaption(this, "Датчики кислорода и их расположение:"_cpsv, kLeftX, 104);
  Label4 = new QLabel(this);
  Label4->setGeometry(kLeftX, 122, kLeftWidth, 260);
  Label4->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label4->setTextFormat(Qt::PlainText);

  PageControl1 = new QTabWidget(this);
  PageControl1->setGeometry(312, 8, 473, 382);
  for (int list = 0; list < kSupportLists; ++list) {
    auto* box = new QListWidget(PageControl1);
    box->setSelectionMode(QAbstractItemView::SingleSelection);
    box->setUniformItemSizes(true);
    CheckListBox[list] = box;
    PageControl1->addTab(box, QString::fromLatin1(kSupportTabNames[list]));
  }

  SpeedButton1 = ui::MakeSpeedButton(this, 8, 400, 38, "Считывание параметров с ECU"_cpsv);
  SpeedButton2 = ui::MakeSpeedButton(this, 48, 400, 38, "Выход"_cpsv);
  SpeedButton3 = ui::MakeSpeedButton(this, 744, 400, 38, "Копировать параметры в файл"_cpsv);
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm8::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm8::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm8::SpeedButton3Click);

  const ui::StatusPair status =
      ui::MakeStatusPair(this, 96, 416, 152, 736, ui::StatusFont(), ui::Text("Простой"_cpsv));
  Label5 = status.Caption;
  Label6 = status.Status;

  Timer1 = new QTimer(this);
  Timer1->setInterval(kTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm8::Timer1Timer);
}

TForm8::~TForm8() = default;

// ---------------------------------------------------------------- opening and closing

void TForm8::FormActivate() {
  FillLists();
  ui::SetGlyph(SpeedButton1, "read.bmp");
  ui::SetGlyph(SpeedButton2, "exit.bmp");
  ui::SetGlyph(SpeedButton3, "copy.bmp");
  Timer1->start();
}

void TForm8::FormClose() {
  Timer1->stop();
}

void TForm8::FillLists() {
  SupportItems items = SupportItemsFrom(PidNames);
  for (int list = 0; list < kSupportLists; ++list) {
    const std::vector<std::string>& texts = items.Texts[list];
    QListWidget* box = CheckListBox[list];
    if (texts == items_.Texts[list] && box->count() == static_cast<int>(texts.size())) continue;
    ticks_.Items[list] = {};
    box->clear();
    for (const std::string& text : texts) {
      auto* item = new QListWidgetItem(ui::Text(text), box);
      // Shown with its tick box, which only the decoding sets.
      item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      item->setCheckState(Qt::Unchecked);
    }
  }
  items_ = std::move(items);
}

// ---------------------------------------------------------------- buttons

void TForm8::SpeedButton1Click() {
  SpeedButton1->setEnabled(false);
  SpeedButton2->setEnabled(false);
  SpeedButton3->setEnabled(false);
  StartInfoRead();
}

void TForm8::SpeedButton2Click() {
  close();
}

void TForm8::SpeedButton3Click() {
  const ExportResult result = WriteInfoExport(CarName, EcuType, view_, ticks_, items_);
  if (!result.ok) ui::ShowErrorBox(this, result.error);
}

// ---------------------------------------------------------------- the tick

void TForm8::Timer1Timer() {
  const std::uint16_t status = LinkStatus.load();
  ui::ShowLinkStatus(Label6, status, LinkError.load());
  if (NoLink(status)) {
    SpeedButton1->setEnabled(true);
    SpeedButton2->setEnabled(true);
    SpeedButton3->setEnabled(true);
  }
  view_ = DecodeInfo(ResponseStore, ticks_);
  ShowView();
  ShowTicks();
}

void TForm8::ShowView() {
  SetTextIfChanged(Edit1, ui::Text(view_.Ident));
  SetTextIfChanged(Edit2, ui::Text(view_.ObdType));
  QString sensors = ui::Text(view_.SensorText());
  sensors.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (Label4->text() != sensors) Label4->setText(sensors);
}

void TForm8::ShowTicks() {
  for (int list = 0; list < kSupportLists; ++list) {
    QListWidget* box = CheckListBox[list];
    const int count = std::min(box->count(), kSupportItems[list]);
    for (int i = 0; i < count; ++i) {
      const Qt::CheckState state = ticks_.Items[list][i] ? Qt::Checked : Qt::Unchecked;
      QListWidgetItem* item = box->item(i);
      if (item->checkState() != state) item->setCheckState(state);
    }
  }
}

}  // namespace kestrel
