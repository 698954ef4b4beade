#include "app/main_window.h"

#include <QAction>
#include <QCoreApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QToolButton>

#include "app/about.h"
#include "app/save_as.h"
#include "common/cp1251.h"
#include "common/program_folder.h"
#include "config/catalogue.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "config/settings_model.h"
#include "config/ui/catalogue_window.h"
#include "config/ui/settings_window.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "screens/dashboard.h"
#include "screens/ecu_info.h"
#include "screens/freeze_frames.h"
#include "screens/graphs.h"
#include "screens/live_table.h"
#include "screens/trouble_codes.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace kestrel::cp1251_literals;

namespace {

struct ButtonSpec {
  const char* hint;
  const char* glyph;
  const char* text;  // shown when the picture is missing
};

const ButtonSpec kButtons[TForm1::kButtonCount] = {
    {"Приборная панель"_cp, "main_panel.bmp", "Панель"_cp},
    {"Таблица параметров реального времени"_cp, "main_table.bmp", "Таблица"_cp},
    {"Стоп-кадры"_cp, "main_freeze.bmp", "Кадры"_cp},
    {"Ошибки ECU"_cp, "main_dtc.bmp", "Ошибки"_cp},
    {"Информация о ECU"_cp, "main_info.bmp", "Инфо"_cp},
    {"Графики параметров реального времени"_cp, "main_graph.bmp", "Графики"_cp},
    {"Выход из программы"_cp, "main_exit.bmp", "Выход"_cp},
};

constexpr int kButtonSize = 52;
constexpr int kButtonGap = 8;
constexpr int kButtonsTop = 78;

QString RunSaveDialog(QWidget* parent, const QString& folder) {
  QFileDialog dialog(parent, ui::Text("Сохранить как"_cpsv), folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::ExistingFile);  // only an existing file in an existing folder
  dialog.setNameFilter(QStringLiteral("*.ini"));
  dialog.setDefaultSuffix(QStringLiteral("ini"));
  dialog.selectFile(QString());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(ui::AppTitle());
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  auto* client = new QWidget(this);
  client->setFixedSize(kClientWidth, kClientHeight);
  setCentralWidget(client);

  label1_ = new QLabel(ui::Text("Автомобиль:"_cpsv), client);
  label1_->setGeometry(8, 3, 200, 16);
  edit1_ = new QLineEdit(client);
  edit1_->setObjectName(QStringLiteral("Edit1"));
  edit1_->setGeometry(8, 20, kClientWidth - 16, 22);
  label2_ = new QLabel(ui::Text("Тип ECU:"_cpsv), client);
  label2_->setGeometry(8, 48, 64, 22);
  edit2_ = new QLineEdit(client);
  edit2_->setObjectName(QStringLiteral("Edit2"));
  edit2_->setGeometry(72, 48, kClientWidth - 80, 22);
  label2_->setBuddy(edit2_);
  // The boxes are the car name and ECU type of the program: exports and
  // "Сохранить как..." take them as the user left them.
  connect(edit1_, &QLineEdit::textChanged, this,
          [](const QString& text) { CarName = ui::Cp(text); });
  connect(edit2_, &QLineEdit::textChanged, this,
          [](const QString& text) { EcuType = ui::Cp(text); });

  const int left =
      (kClientWidth - kButtonCount * kButtonSize - (kButtonCount - 1) * kButtonGap) / 2;
  for (int b = 0; b < kButtonCount; ++b) {
    auto* button = new QToolButton(client);
    button->setObjectName(QStringLiteral("SpeedButton%1").arg(b + 1));
    button->setGeometry(left + b * (kButtonSize + kButtonGap), kButtonsTop, kButtonSize,
                        kButtonSize);
    button->setToolTip(ui::Text(kButtons[b].hint));
    const QPixmap glyph = ui::Glyph(QString::fromLatin1(kButtons[b].glyph));
    if (glyph.isNull()) {
      button->setText(ui::Text(kButtons[b].text));
    } else {
      button->setIcon(glyph);
      button->setIconSize(glyph.size());
    }
    buttons_[b] = button;
  }
  connect(buttons_[kButtonDashboard], &QToolButton::clicked, this, &TForm1::SpeedButton1Click);
  connect(buttons_[kButtonLive], &QToolButton::clicked, this, &TForm1::SpeedButton2Click);
  connect(buttons_[kButtonFreeze], &QToolButton::clicked, this, &TForm1::SpeedButton3Click);
  connect(buttons_[kButtonDtc], &QToolButton::clicked, this, &TForm1::SpeedButton4Click);
  connect(buttons_[kButtonInfo], &QToolButton::clicked, this, &TForm1::SpeedButton5Click);
  connect(buttons_[kButtonGraphs], &QToolButton::clicked, this, &TForm1::SpeedButton6Click);
  connect(buttons_[kButtonExit], &QToolButton::clicked, this, &TForm1::SpeedButton7Click);

  QMenu* file = menuBar()->addMenu(ui::Text("Файл"_cpsv));
  items_[kItemSaveAs] =
      file->addAction(ui::Text("Сохранить как..."_cpsv), this, &TForm1::SaveAs1Click);
  items_[kItemCatalogue] =
      file->addAction(ui::Text("Выбор ECU"_cpsv), this, &TForm1::SelectEcu1Click);
  items_[kItemSettings] =
      file->addAction(ui::Text("Настройки"_cpsv), this, &TForm1::Settings1Click);
  file->addSeparator();
  items_[kItemExit] = file->addAction(ui::Text("Выход"_cpsv), this, &TForm1::SpeedButton7Click);

  QMenu* windows = menuBar()->addMenu(ui::Text("Окна"_cpsv));
  items_[kItemDashboard] =
      windows->addAction(ui::Text("Приборная панель"_cpsv), this, &TForm1::SpeedButton1Click);
  items_[kItemLive] =
      windows->addAction(ui::Text("Таблица"_cpsv), this, &TForm1::SpeedButton2Click);
  items_[kItemFreeze] =
      windows->addAction(ui::Text("Стоп-кадры"_cpsv), this, &TForm1::SpeedButton3Click);
  items_[kItemDtc] =
      windows->addAction(ui::Text("Ошибки ECU"_cpsv), this, &TForm1::SpeedButton4Click);
  items_[kItemInfo] =
      windows->addAction(ui::Text("Информация о ECU"_cpsv), this, &TForm1::SpeedButton5Click);
  items_[kItemGraphs] =
      windows->addAction(ui::Text("Графики параметров"_cpsv), this, &TForm1::SpeedButton6Click);

  QMenu* help = menuBar()->addMenu(ui::Text("Помощь"_cpsv));
  items_[kItemAbout] = help->addAction(ui::Text("О программе"_cpsv), this, &TForm1::About1Click);

  // Nothing to open before a configuration is loaded.
  ConfigLoaded();

  timer1_ = new QTimer(this);
  timer1_->setSingleShot(true);
  timer1_->setInterval(kStartupDelayMs);
  connect(timer1_, &QTimer::timeout, this, &TForm1::Timer1Timer);
  timer1_->start();

  adjustSize();
  ui::FixAndCentre(this, sizeHint().width(), sizeHint().height());
}

TForm1::~TForm1() = default;

void TForm1::Enable(Button b, Item i, bool on) {
  buttons_[b]->setEnabled(on);
  items_[i]->setEnabled(on);
}

void TForm1::ConfigLoaded() {
  edit1_->setText(ui::Text(CarName));
  edit2_->setText(ui::Text(EcuType));
  Enable(kButtonDashboard, kItemDashboard, ListsEnabled.Dashboard);
  Enable(kButtonLive, kItemLive, ListsEnabled.Live);
  Enable(kButtonGraphs, kItemGraphs, ListsEnabled.Live);
  Enable(kButtonFreeze, kItemFreeze, ListsEnabled.Freeze);
  Enable(kButtonDtc, kItemDtc, ListsEnabled.Dtc);
  Enable(kButtonInfo, kItemInfo, ListsEnabled.Info);
  if (forms_.Form12 != nullptr) forms_.Form12->ShowFields(SettingsWindowFields);
}

void TForm1::OpenModal(QDialog* window) {
  if (window == nullptr || ui::QuitRequested()) return;
  window->exec();
}

void TForm1::Timer1Timer() {
  timer1_->stop();
  DashboardFirstShow = 1;
  ResetExportCounters();
  // Without ecu.ini nothing is loaded yet: the catalogue comes back after a
  // choice that failed to load, until one loads or the user leaves it.
  if (ConfigMissing != 0) {
    while (!RunCatalogue()) {
      if (ui::QuitRequested()) return;
    }
  }
  if (ui::QuitRequested()) return;
  AutostartDashboard = StartRequest;
  const BindOutcome bound = Bind();
  if (!bound.Ok) {
    ui::RequestQuit(kConfigQuitStatus, bound.StderrLine);
    return;
  }
  if (StartRequest != 0) OpenModal(forms_.Form5);
}

bool TForm1::RunCatalogue() {
  if (ui::QuitRequested() || forms_.Form11 == nullptr) return false;
  forms_.Form11->exec();
  const ConfigOutcome& outcome = forms_.Form11->Outcome();
  if (!outcome.Error.empty()) ui::ShowErrorBox(this, outcome.Error);
  if (outcome.Quit) {
    ui::RequestQuit(forms_.Form11->QuitStatus(), outcome.StderrLine);
    return false;
  }
  // A choice that failed to load left the previous configuration in place.
  if (!outcome.Loaded) return false;
  ConfigLoaded();
  return true;
}

void TForm1::SelectEcu1Click() {
  if (!RunCatalogue()) return;
  const BindOutcome bound = Rebind();
  if (!bound.Ok) ui::RequestQuit(kConfigQuitStatus, bound.StderrLine);
}

void TForm1::Settings1Click() {
  OpenModal(forms_.Form12);
}
void TForm1::About1Click() {
  OpenModal(forms_.Form10);
}
void TForm1::SpeedButton1Click() {
  OpenModal(forms_.Form5);
}
void TForm1::SpeedButton2Click() {
  OpenModal(forms_.Form3);
}
void TForm1::SpeedButton3Click() {
  OpenModal(forms_.Form6);
}
void TForm1::SpeedButton4Click() {
  OpenModal(forms_.Form7);
}
void TForm1::SpeedButton5Click() {
  OpenModal(forms_.Form8);
}
void TForm1::SpeedButton6Click() {
  OpenModal(forms_.Form9);
}
void TForm1::SpeedButton7Click() {
  close();
}

QString TForm1::SaveAsFolder() {
  return QString::fromStdString(ProgramFolder()) + QStringLiteral("/ECU/");
}

void TForm1::SaveAs1Click() {
  const QString chosen =
      chooser_ ? chooser_(this, SaveAsFolder()) : RunSaveDialog(this, SaveAsFolder());
  if (chosen.isEmpty()) return;
  SaveAsInput input;
  input.ConfigFile = ConfigFileName;
  input.TargetFile = ui::Cp(chosen);
  input.CarName = ui::Cp(edit1_->text());
  input.EcuType = ui::Cp(edit2_->text());
  input.SettingsLines =
      FieldLines(forms_.Form12 != nullptr ? forms_.Form12->Fields() : SettingsWindowFields);
  const SaveAsOutcome outcome = SaveConfigurationAs(input, RequestTables[kLiveTable], LiveRows,
                                                    RequestTables[kFreezeTable], FreezeRows);
  if (outcome.Result == SaveAsResult::Failed) ui::ShowErrorBox(this, outcome.Error);
}

}  // namespace kestrel
