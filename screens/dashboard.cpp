#include "screens/dashboard.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "link/link_globals.h"
#include "screenlogic/sessions.h"
#include "screens/pixel_view.h"
#include "uikit/ui_support.h"
#include "uikit/widgets.h"

namespace kestrel {

using namespace cp1251_literals;

std::uint8_t DashboardFirstShow = 0;

namespace {

constexpr int kTickMs = 100;

// The design's display face, and the packaged bold geometric face that
// stands in for it where it is missing: its digits are as wide as the
// design's, so "3000 ", "200 " and the other labels fit their places.
constexpr const char* kDisplayFamily = "Broadway";
constexpr const char* kStandInFamily = "League Spartan";

struct LabelSpec {
  int x, y;
  const char* text;
  int px;
  bool bold, italic;
  TColor colour;
  bool right;  // right-aligned: the right edge stays where the design text put it
  std::string_view hint = {};
};

void SetColour(QLabel* label, TColor colour) {
  QPalette pal = label->palette();
  if (pal.color(QPalette::WindowText) == ToQColor(colour)) return;
  pal.setColor(QPalette::WindowText, ToQColor(colour));
  label->setPalette(pal);
}

QLabel* MakeLabel(QWidget* parent, const LabelSpec& s) {
  auto* label = new QLabel(parent);
  QFont font;
  font.setFamilies(TForm5::FontFamilies());
  font.setPixelSize(s.px);
  font.setBold(s.bold);
  font.setItalic(s.italic);
  label->setFont(font);
  SetColour(label, s.colour);
  label->setAlignment((s.right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  const int overhang = ui::Overhang(label);
  label->setContentsMargins(0, 0, overhang, 0);
  const int width = label->fontMetrics().horizontalAdvance(QString::fromLatin1(s.text)) + overhang;
  label->setGeometry(s.x, s.y, width, label->fontMetrics().height());
  label->setText(QString::fromLatin1(s.text));
  if (!s.hint.empty()) label->setToolTip(ui::Text(s.hint));
  return label;
}

QLabel* MakePicture(QWidget* parent, int x, int y, int size, const char* file,
                    std::string_view hint = {}) {
  auto* picture = new QLabel(parent);
  picture->setGeometry(x, y, size, size);
  if (file != nullptr) picture->setPixmap(ui::Glyph(QString::fromLatin1(file)));
  if (!hint.empty()) picture->setToolTip(ui::Text(hint));
  return picture;
}

}  // namespace

QStringList TForm5::FontFamilies() {
  return {QString::fromLatin1(kDisplayFamily), QString::fromLatin1(kStandInFamily)};
}

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
  // A black panel without a border, shown maximised for use while driving.
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setWindowTitle(ui::Text("Приборная панель"_cpsv));
  resize(kClientWidth, kClientHeight);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);
  setWindowState(Qt::WindowMaximized);

  // Pictures first: the labels lie over them (engine speed over its arc).
  Image1 = new PixelView(this, logic_.Arc());
  Image1->move(305, 232);
  Image8 = new PixelView(this, logic_.Bar(kGaugeCoolant));
  Image8->move(8, 200);
  Image9 = new PixelView(this, logic_.Bar(kGaugeFluid));
  Image9->move(48, 199);
  Image10 = new PixelView(this, logic_.Bar(kGaugeLoad));
  Image10->move(88, 199);
  Image2 = MakePicture(this, 568, 64, 43, nullptr, "Положение переключателя АКПП"_cpsv);
  Image5 = MakePicture(this, 520, 64, 43, "od.bmp", "Выключение режима Овердрайв"_cpsv);
  Image5->setVisible(false);
  Image3 = MakePicture(this, 8, 72, 32, "checkoff.bmp");
  Image4 = MakePicture(this, 8, 144, 32, "coolant.bmp", "Температура охлаждающей жидкости"_cpsv);
  Image6 = MakePicture(this, 48, 144, 32, "atf.bmp", "Температура жидкости АКПП"_cpsv);
  Image7 = MakePicture(this, 88, 144, 32, "load.bmp", "Нагрузка на двигатель"_cpsv);

  const TColor speed = clGradientInactiveCaption;
  Label1 = MakeLabel(this, {451, 398, "3000 ", 80, true, true, speed, true});
  Label2 = MakeLabel(this, {678, 434, "rpm ", 40, true, true, speed, false});
  Label3 = MakeLabel(this, {155, 64, "200 ", 160, true, true, speed, true});
  Label4 = MakeLabel(this, {509, 139, "km/h ", 80, true, true, speed, false});
  Label6 =
      MakeLabel(this, {621, 63, "1", 40, true, false, kWhite, false, "Текущая передача АКПП"_cpsv});
  Label7 = MakeLabel(this, {96, 8, "K-Line:", 19, false, false, kWhite, false});
  Label5 = MakeLabel(this, {176, 8, "Idle", 19, false, false, kWhite, false});
  Label8 = MakeLabel(this, {2, 112, "ECU Error:", 19, false, false, kWhite, false});
  Label9 = MakeLabel(this, {114, 112, "0", 19, false, false, kWhite, false});
  Label13 = MakeLabel(
      this, {114, 80, "0", 19, false, false, kWhite, true, "Израсходованное топливо (л)"_cpsv});
  Label11 = MakeLabel(this, {6, 179, "100", 19, false, false, kWhite, true});
  Label12 = MakeLabel(this, {46, 179, "100", 19, false, false, kWhite, true});
  Label10 = MakeLabel(this, {86, 179, "100", 19, false, false, kWhite, true});
  Label14 = MakeLabel(this, {158, 256, "000.00", 33, false, false, kYellow, false,
                             "Мгновенный расход (милилитр/час)"_cpsv});
  Label15 = MakeLabel(this, {177, 336, "ml/h", 33, false, false, kYellow, false});
  Label22 = MakeLabel(this, {158, 296, "000.00", 33, false, false, kYellow, false,
                             "Средний расход (милилитр/час)"_cpsv});
  Label18 = MakeLabel(this, {257, 384, "?", 33, false, false, kYellow, false,
                             "Мгновенный расход (литр/100 километров)"_cpsv});
  Label19 = MakeLabel(this, {153, 450, "L/100km", 33, false, false, kYellow, false});
  Label21 = MakeLabel(this, {257, 416, "?", 33, false, false, kYellow, false,
                             "Средний расход (литр/100 километров)"_cpsv});

  SpeedButton1 =
      ui::MakeSpeedButton(this, 8, 8, 38, "Старт/стоп циклического опроса параметров"_cpsv);
  SpeedButton2 = ui::MakeSpeedButton(this, 48, 8, 38, "Выход"_cpsv);
  SpeedButton3 = ui::MakeSpeedButton(this, 744, 8, 38, "Свернуть панель приборов"_cpsv);
  // Flat on the black panel: only the glyphs show.
  for (QToolButton* b : {SpeedButton1, SpeedButton2, SpeedButton3}) b->setAutoRaise(true);
  SetStartGlyph(false);
  ui::SetGlyph(SpeedButton2, "exit.bmp");
  ui::SetGlyph(SpeedButton3, "minimize.bmp");
  connect(SpeedButton1, &QToolButton::clicked, this, &TForm5::StartStopPolling);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm5::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm5::SpeedButton3Click);

  Timer1 = new QTimer(this);
  Timer1->setInterval(kTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm5::Timer1Timer);
}

TForm5::~TForm5() = default;

// ---------------------------------------------------------------- showing

void TForm5::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    FormShow();
    FormActivate();
  }
}

void TForm5::FormShow() {
  if (!isMaximized()) setWindowState(windowState() | Qt::WindowMaximized);
  if (DashboardFirstShow != 0) {
    // The size the window takes maximised (the window manager may not have
    // resized it yet).
    const QSize size = screen() != nullptr ? screen()->availableGeometry().size() : this->size();
    const QPoint offset((size.width() - kDesignWidth) / 2, (size.height() - kDesignHeight) / 2);
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      w->move(w->pos() + offset);
    DashboardFirstShow = 0;
  }
  logic_.Show();
  for (QWidget* w : {Image1, Image8, Image9, Image10}) w->update();
}

void TForm5::FormActivate() {
  logic_.Activate();
  SetStartGlyph(RunFlag.load() != 0);
  active_ = true;
  Timer1->start();
}

void TForm5::FormDeactivate() {
  active_ = false;
  Timer1->stop();
}

void TForm5::closeEvent(QCloseEvent* event) {
  FormDeactivate();
  QDialog::closeEvent(event);
}

void TForm5::done(int result) {
  FormDeactivate();
  QDialog::done(result);
}

void TForm5::reject() {
  // Escape closes the panel only when the exit button would.
  if (SpeedButton2->isEnabled()) QDialog::reject();
}

void TForm5::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isVisible()) return;
  const bool wasMinimised =
      (static_cast<QWindowStateChangeEvent*>(event)->oldState() & Qt::WindowMinimized) != 0;
  if (isMinimized() && !wasMinimised) FormDeactivate();
  if (!isMinimized() && wasMinimised) FormActivate();
}

void TForm5::SpeedButton2Click() {
  close();
}

void TForm5::SpeedButton3Click() {
  showMinimized();
}

// ---------------------------------------------------------------- polling

void TForm5::SetStartGlyph(bool polling) {
  ui::SetGlyph(SpeedButton1, polling ? "stop.bmp" : "start.bmp");
}

void TForm5::StartStopPolling() {
  if (RunFlag.load() != 0) {
    RunFlag.store(0);  // the session ends after its pass
    SetStartGlyph(false);
    return;
  }
  SpeedButton1->setEnabled(false);
  SetStartGlyph(true);
  // Every dashboard request, cyclic; waits for a previous session to end.
  StartDashboardPolling();
}

// ---------------------------------------------------------------- the tick

void TForm5::Timer1Timer() {
  Timer1->stop();  // ticks never overlap
  if (logic_.TakeStartRequest(LinkStatus.load(), AutostartDashboard, ReconnectTime, StartRequest)) {
    StartStopPolling();
  }
  const DashboardTick tick = logic_.Update(LinkStatus.load(), LinkError.load(), RunFlag.load(),
                                           VehicleModule.Panel, ResponseStore, ValueQuery);
  ShowTick(tick);
  if (active_) Timer1->start();
}

void TForm5::ShowTick(const DashboardTick& tick) {
  const DashboardView& v = logic_.View();
  const unsigned changed = tick.Changed;
  if (changed & kChangedStatus) {
    ui::ShowAutoSized(Label5, ui::Text(v.Status));
    ui::ShowLinkErrorTip(Label5, LinkStatus.load(), LinkError.load());
  }
  if (v.StartEnable) SpeedButton1->setEnabled(true);
  SpeedButton2->setEnabled(v.ExitEnabled);
  if (tick.StopPolling) {
    SetStartGlyph(false);
    RunFlag.store(0);
  }
  if (changed & kChangedLamp) {
    Image3->setPixmap(ui::Glyph(QString::fromLatin1(v.Lamp != 0 ? "checkon.bmp" : "checkoff.bmp")));
  }
  if (changed & kChangedCodes) ui::ShowAutoSized(Label9, ui::Text(v.Codes));

  QWidget* const bars[kBarGauges] = {Image8, Image9, Image10};
  QLabel* const values[kBarGauges] = {Label11, Label12, Label10};
  for (int i = 0; i < kBarGauges; ++i) {
    if ((changed & (kChangedBar0 << i)) == 0) continue;
    bars[i]->update();
    SetColour(values[i], v.Bars[i].Colour);
    ui::ShowAutoSized(values[i], ui::Text(v.Bars[i].Text));
  }
  if (changed & kChangedArc) {
    Image1->update();
    ui::ShowAutoSized(Label1, ui::Text(v.Rpm));
    ui::ShowAutoSized(Label14, ui::Text(v.FlowMlh));
    ui::ShowAutoSized(Label22, ui::Text(v.AvgMlh));
    ui::ShowAutoSized(Label18, ui::Text(v.FlowL100));
    ui::ShowAutoSized(Label21, ui::Text(v.AvgL100));
    ui::ShowAutoSized(Label13, ui::Text(v.FuelUsed));
  }
  if (changed & kChangedSpeed) ui::ShowAutoSized(Label3, ui::Text(v.Speed));
  if (changed & kChangedGear) {
    if (v.GearVisible) ui::ShowAutoSized(Label6, ui::Text(v.Gear));
    Label6->setVisible(v.GearVisible);
  }
  if (changed & kChangedSelector) {
    if (v.SelectorVisible) {
      const char* file = SelectorPictureFile(v.Selector);
      if (file[0] != '\0') Image2->setPixmap(ui::Glyph(QString::fromLatin1(file)));
      Image5->setVisible(v.OverdriveOff);
    }
    Image2->setVisible(v.SelectorVisible);
  }
}

}  // namespace kestrel
