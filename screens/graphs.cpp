#include "screens/graphs.h"

#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPalette>
#include <QProgressBar>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>
#include <chrono>
#include <ctime>

#include "common/cp1251.h"
#include "common/disk_path.h"
#include "config/config_globals.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "screenlogic/export.h"
#include "screenlogic/sessions.h"
#include "screens/pixel_view.h"
#include "uikit/ui_support.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

constexpr std::string_view kCaption = "Графики параметров реального времени : "_cpsv;

// The right edge of the scale labels left of the charts (channels 1, 2, 5,
// 6): they grow to the left, clear of the chart at x 224.
constexpr int kLeftScaleRight = 222;

// Per channel: the selector's and the visibility box's y, and the label
// positions (value, unit, minimum, middle, maximum).
struct ChannelPlace {
  int selectorY, boxY;
  QPoint value, unit, min, middle, max;
};
constexpr int kBoxX = 760;
const ChannelPlace kPlaces[kGraphChannels] = {
    {40, 41, {8, 18}, {44, 18}, {206, 197}, {206, 109}, {204, 19}},
    {64, 65, {104, 18}, {140, 18}, {206, 184}, {206, 96}, {201, 6}},
    {128, 129, {8, 98}, {44, 98}, {758, 184}, {756, 96}, {758, 8}},
    {152, 153, {104, 98}, {140, 98}, {758, 198}, {756, 109}, {758, 21}},
    {248, 249, {8, 226}, {44, 226}, {206, 405}, {206, 317}, {204, 227}},
    {272, 273, {104, 226}, {140, 226}, {206, 392}, {206, 304}, {201, 214}},
    {336, 337, {8, 306}, {44, 306}, {758, 392}, {756, 304}, {758, 216}},
    {360, 361, {104, 306}, {140, 306}, {758, 406}, {756, 317}, {758, 229}},
};

void Apply(QWidget* w, Enable e) {
  if (e != Enable::Keep) w->setEnabled(e == Enable::On);
}

// A label of a channel in its colour, at its place, showing `text`. The
// scale labels left of a chart are right-aligned up to kLeftScaleRight.
QLabel* MakeChannelLabel(QWidget* parent, QPoint at, int px, bool bold, TColor colour,
                         bool rightAligned, const QString& text) {
  auto* label = new QLabel(parent);
  QFont font = parent->font();
  // The design's face, or the packaged face with its widths: the value
  // and its unit stand 36 pixels apart.
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
  font.setPixelSize(px);
  font.setBold(bold);
  label->setFont(font);
  QPalette pal = label->palette();
  pal.setColor(QPalette::WindowText, ToQColor(colour));
  label->setPalette(pal);
  label->setAlignment((rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignTop);
  const int width = rightAligned ? kLeftScaleRight - at.x() : 1;
  label->setGeometry(at.x(), at.y(), std::max(width, 1), label->fontMetrics().height());
  ui::ShowAutoSized(label, text);
  return label;
}

// Shows a label's text; it stays inside the window, whatever its length.
void ShowLabel(QLabel* label, const std::string& cp1251) {
  const QString text = ui::Text(cp1251);
  if (label->text() == text) return;
  ui::ShowAutoSized(label, text);
  const int room = label->parentWidget()->width() - label->x();
  if (label->width() > room) label->resize(std::max(room, 1), label->height());
}

QToolButton* MakeSmallButton(QWidget* parent, int x, std::string_view hint) {
  QToolButton* b = ui::MakeSpeedButton(parent, x, 422, 22, hint);
  b->setIconSize(QSize(16, 16));
  b->setEnabled(false);
  return b;
}

bool FileExists(const std::string& cp1251) {
  return !cp1251.empty() && ::access(ToDiskPath(cp1251).c_str(), F_OK) == 0;
}

}  // namespace

TForm9::TForm9(QWidget* parent)
    : ui::DiagnosticWindow(parent, kCaption, kClientWidth, kClientHeight) {
  Image1 = new PixelView(this, logic_.Charts(0).Picture());
  Image1->move(224, 8);
  Image2 = new PixelView(this, logic_.Charts(1).Picture());
  Image2->move(224, 216);

  const QString none = ui::Text("Нет"_cpsv);
  for (int c = 0; c < kGraphChannels; ++c) {
    const ChannelPlace& p = kPlaces[c];
    const TColor pen = kChartPens[c % kChartChannels];
    const bool left = c % kChartChannels < 2;  // its scale labels are left of the chart

    ComboBox[c] = new QComboBox(this);
    ComboBox[c]->setGeometry(8, p.selectorY, 209, 21);
    ComboBox[c]->addItem(none);
    ComboBox[c]->setToolTip(none);
    connect(ComboBox[c], &QComboBox::activated, this, [this, c] { ComboBoxChange(c); });

    CheckBox[c] = new QCheckBox(QString::number(c + 1), this);
    CheckBox[c]->setGeometry(kBoxX, p.boxY, kClientWidth - kBoxX, 17);
    CheckBox[c]->setChecked(true);
    connect(CheckBox[c], &QCheckBox::clicked, this, [this, c] { CheckBoxClick(c); });

    ChannelLabelSet& l = Channel[c];
    const QString zero = QStringLiteral("0");
    l.Value = MakeChannelLabel(this, p.value, 13, true, pen, false, zero);
    l.Unit = MakeChannelLabel(this, p.unit, 13, true, pen, false, QStringLiteral("-"));
    l.Min = MakeChannelLabel(this, p.min, 11, false, pen, left, zero);
    l.Middle = MakeChannelLabel(this, p.middle, 11, false, pen, left, zero);
    l.Max = MakeChannelLabel(this, p.max, 11, false, pen, left, zero);
  }

  SpeedButton1 =
      ui::MakeSpeedButton(this, 8, 400, 38, "Старт/стоп циклического опроса параметров"_cpsv);
  SpeedButton2 = ui::MakeSpeedButton(this, 48, 400, 38, "Выход"_cpsv);
  const ui::StatusPair status =
      ui::MakeStatusPair(this, 96, 423, 152, 420, ui::StatusFont(), ui::Text("Простой"_cpsv));
  Label1 = status.Caption;
  Label2 = status.Status;

  SpeedButton6 = ui::MakeSpeedButton(this, 8, 184, 38, "Экспорт сохраненных графиков в Excel"_cpsv);
  Gauge1 = new QProgressBar(this);
  Gauge1->setGeometry(56, 192, 105, 25);
  Gauge1->setRange(0, 100);
  Gauge1->setValue(0);
  QPalette teal = Gauge1->palette();
  teal.setColor(QPalette::Highlight, QColor(0x00, 0x80, 0x80));
  Gauge1->setPalette(teal);

  SpeedButton8 = MakeSmallButton(this, 424, "Открытие файла графиков"_cpsv);
  SpeedButton8->setText(QStringLiteral("..."));
  // The caption fits the 22-pixel button without the style's margins.
  SpeedButton8->setStyleSheet(QStringLiteral("QToolButton { padding: 0px; }"));
  SpeedButton3 = MakeSmallButton(this, 448, "Запись"_cpsv);
  SpeedButton4 = MakeSmallButton(this, 472, "Воспроизведение"_cpsv);
  SpeedButton5 = MakeSmallButton(this, 496, "Стоп"_cpsv);
  SpeedButton7 = MakeSmallButton(this, 520, "Пауза"_cpsv);

  // 249 pixels wide as designed would reach one pixel past the window.
  TrackBar1 = new QSlider(Qt::Horizontal, this);
  TrackBar1->setGeometry(544, 420, kClientWidth - 544, 25);
  TrackBar1->setRange(0, 100);
  TrackBar1->setTickPosition(QSlider::NoTicks);
  TrackBar1->setFocusPolicy(Qt::NoFocus);
  TrackBar1->installEventFilter(this);

  Label3 = new QLabel(ui::Text("№записи"_cpsv), this);
  Label3->move(104, 389);
  Label3->adjustSize();
  Label4 = new QLabel(QStringLiteral("0"), this);
  Label4->move(160, 405);
  Label4->adjustSize();

  OpenDialog1 = new QFileDialog(this, ui::Text("Открытие файла архива"_cpsv));
  OpenDialog1->setNameFilter(QStringLiteral("*.rtd"));
  OpenDialog1->setDefaultSuffix(QStringLiteral("rtd"));
  OpenDialog1->setFileMode(QFileDialog::ExistingFile);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm9::SpeedButton1Click);
  connect(SpeedButton2, &QToolButton::clicked, this, &TForm9::SpeedButton2Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TForm9::SpeedButton3Click);
  connect(SpeedButton4, &QToolButton::clicked, this, &TForm9::SpeedButton4Click);
  connect(SpeedButton5, &QToolButton::clicked, this, &TForm9::SpeedButton5Click);
  connect(SpeedButton6, &QToolButton::clicked, this, &TForm9::ExportButtonClick);
  connect(SpeedButton7, &QToolButton::clicked, this, &TForm9::SpeedButton7Click);
  connect(SpeedButton8, &QToolButton::clicked, this, &TForm9::SpeedButton8Click);

  Timer1 = new QTimer(this);
  Timer1->setInterval(kGraphTickMs);
  connect(Timer1, &QTimer::timeout, this, &TForm9::Timer1Timer);
  Timer2 = new QTimer(this);
  Timer2->setInterval(kGraphTickMs);
  Timer2->setTimerType(Qt::PreciseTimer);  // recordings may play at 1 ms
  connect(Timer2, &QTimer::timeout, this, &TForm9::Timer2Timer);
  // Each turn takes kExportTurn; input is handled between turns.
  ExportTimer = new QTimer(this);
  ExportTimer->setInterval(0);
  connect(ExportTimer, &QTimer::timeout, this, &TForm9::ExportTimerTimer);
}

TForm9::~TForm9() {
  // A window that goes away while polling must not leave the session cycling.
  if (Timer1 != nullptr && Timer1->isActive()) FormClose();
}

// ---------------------------------------------------------------- opening and closing

void TForm9::FormActivate() {
  SyncSelectors();
  ui::SetGlyph(SpeedButton2, "exit.bmp");
  ui::SetGlyph(SpeedButton6, "export.bmp");
  ui::SetGlyph(SpeedButton3, "record.bmp");
  ui::SetGlyph(SpeedButton4, "play.bmp");
  ui::SetGlyph(SpeedButton5, "stopplay.bmp");
  ui::SetGlyph(SpeedButton7, "pause.bmp");
  SetStartGlyph(RunFlag.load() != 0);
  GrafInit();
  Timer1->start();
  logic_.Dragging = 0;
  logic_.ExportBusy = logic_.Exporting() ? 1 : 0;
  UpdateChannelRequests();
}

void TForm9::FormClose() {
  logic_.EndPlayback();
  Timer2->stop();
  // An export is given up: nothing of it is left, an older workbook stays.
  ExportTimer->stop();
  logic_.CancelExport();
  Gauge1->setValue(0);
  RecordEnabled.store(0);
  RunFlag.store(0);  // the running session finishes its pass and ends
  startPending_ = false;
  Timer1->stop();
}

void TForm9::SyncSelectors() {
  for (int c = 0; c < kGraphChannels; ++c) {
    GraphChannelList& list = GraphChannels[c];
    const int count = std::clamp(list.Count, 1, kMaxRows + 1);
    std::vector<std::string> items(list.Items.begin(), list.Items.begin() + count);
    list.Selected = std::clamp(list.Selected, 0, count - 1);
    QComboBox* box = ComboBox[c];
    if (items != selectorItems_[c] || box->count() != count) {
      selectorItems_[c] = std::move(items);
      box->blockSignals(true);
      box->clear();
      for (const std::string& item : selectorItems_[c]) box->addItem(ui::Text(item));
      box->blockSignals(false);
    }
    box->setCurrentIndex(list.Selected);
    box->setToolTip(box->currentText());
    ShowLabel(Channel[c].Unit, ChannelUnit(list.Selected, LiveRows));
    PlaceUnit(c);
  }
}

// ---------------------------------------------------------------- channels

void TForm9::UpdateChannelRequests() {
  kestrel::UpdateChannelRequests(RequestTables[kLiveTable],
                                 SelectedChannelKeys(GraphChannels, LiveRows));
}

void TForm9::ShowChannel(int channel) {
  QComboBox* box = ComboBox[channel];
  box->setToolTip(box->currentText());
  GraphChannels[channel].Selected = std::max(box->currentIndex(), 0);
  ShowLabel(Channel[channel].Unit, ChannelUnit(GraphChannels[channel].Selected, LiveRows));
  PlaceUnit(channel);
}

void TForm9::ComboBoxChange(int channel) {
  ShowChannel(channel);
  UpdateChannelRequests();
}

void TForm9::CheckBoxClick(int channel) {
  logic_.SetVisible(channel, CheckBox[channel]->isChecked());
}

// ---------------------------------------------------------------- drawing

void TForm9::GrafInit() {
  logic_.GrafInit();
  ShowAll();
}

void TForm9::ShowAll() {
  ShowCharts({ChartDamage{0, kChartWidth - 1, true}, ChartDamage{0, kChartWidth - 1, true}});
  ShowLabels();
}

void TForm9::ShowCharts(const std::array<ChartDamage, kCharts>& damage) {
  PixelView* const views[kCharts] = {Image1, Image2};
  for (int i = 0; i < kCharts; ++i) views[i]->UpdateColumns(damage[i].First, damage[i].Last);
}

void TForm9::ShowLabels() {
  for (int c = 0; c < kGraphChannels; ++c) {
    const ChannelLabels& texts = logic_.Labels(c);
    ShowLabel(Channel[c].Value, texts.Value);
    PlaceUnit(c);
    ShowLabel(Channel[c].Min, texts.Min);
    ShowLabel(Channel[c].Middle, texts.Middle);
    ShowLabel(Channel[c].Max, texts.Max);
  }
}

void TForm9::PlaceUnit(int channel) {
  // A value wider than designed (a long number in scientific notation)
  // pushes its unit to the right rather than running into it.
  const QLabel* value = Channel[channel].Value;
  QLabel* unit = Channel[channel].Unit;
  const int x = std::max(kPlaces[channel].unit.x(), value->x() + value->width() + 2);
  if (unit->x() != x) unit->move(x, unit->y());
  const int room = width() - unit->x();
  if (unit->width() > room) unit->resize(std::max(room, 1), unit->height());
}

void TForm9::ShowCaption() {
  setWindowTitle(ui::Text(std::string(kCaption) + RecordFileName.Get()));
}

void TForm9::ShowSliderPos() {
  if (TrackBar1->value() != logic_.SliderPos) {
    TrackBar1->blockSignals(true);
    TrackBar1->setValue(logic_.SliderPos);
    TrackBar1->blockSignals(false);
  }
}

// ---------------------------------------------------------------- polling

void TForm9::SetStartGlyph(bool polling) {
  ui::SetGlyph(SpeedButton1, polling ? "stop.bmp" : "start.bmp");
}

void TForm9::SpeedButton1Click() {
  if (RunFlag.load() != 0 || startPending_) {
    RunFlag.store(0);  // the session ends after its pass
    startPending_ = false;
    SetStartGlyph(false);
    return;
  }
  SpeedButton1->setEnabled(false);
  SetStartGlyph(true);
  GrafInit();
  // A link session ends playback: from now on the receiver fills the store.
  logic_.Playing = 0;
  // The previous session must have ended before RunFlag is set again; the
  // tick starts polling once it has, so the window never blocks meanwhile.
  if (NoLink(LinkStatus.load())) {
    StartGraphPolling();
  } else {
    startPending_ = true;
  }
}

void TForm9::SpeedButton2Click() {
  close();
}

// ---------------------------------------------------------------- the ticks

void TForm9::Timer1Timer() {
  if (startPending_ && NoLink(LinkStatus.load())) {
    startPending_ = false;
    StartGraphPolling();
  }
  const std::uint16_t status = LinkStatus.load();
  ui::ShowLinkStatus(Label2, status, LinkError.load());

  const GraphControls c = GraphTickControls(status, RecordEnabled.load(), logic_.Playing,
                                            logic_.ExportBusy, RunFlag.load());
  if (c.EndRecording) RecordEnabled.store(0);
  if (c.EndPlaying) logic_.Playing = 0;
  Apply(SpeedButton3, c.Record);
  Apply(SpeedButton5, c.Stop);
  Apply(SpeedButton8, c.Open);
  Apply(SpeedButton4, c.Play);
  for (QComboBox* box : ComboBox) Apply(box, c.Selectors);
  Apply(SpeedButton6, c.Export);
  Apply(SpeedButton1, c.StartStop);
  Apply(SpeedButton2, c.Exit);
  if (c.StopPolling) {
    SetStartGlyph(false);
    RunFlag.store(0);
  }
  Apply(SpeedButton7, c.Pause);
  const QString position = QString::number(TrackBar1->value());
  if (Label4->text() != position) {
    Label4->setText(position);
    Label4->adjustSize();
  }
  if (c.Sample) {
    ShowCharts(logic_.SampleAndDraw(SelectedChannelKeys(GraphChannels, LiveRows), ResponseBlock,
                                    VehicleModule.PIDVAL));
    ShowLabels();
  }
}

void TForm9::Timer2Timer() {
  const double now =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
          .count();
  const PlaybackStep step = logic_.PlaybackTick(ResponseStore, now);
  if (step.StopTimer) Timer2->stop();
  if (step.Moved) ShowSliderPos();
}

// ---------------------------------------------------------------- recording and playback

std::string TForm9::ChooseRecording() {
  OpenDialog1->setDirectory(QDir::current().absoluteFilePath(QString::fromLatin1(kExportFolder)));
  if (OpenDialog1->exec() != QDialog::Accepted) return {};
  const QStringList files = OpenDialog1->selectedFiles();
  return files.isEmpty() ? std::string() : FromDiskPath(files.front().toStdString());
}

bool TForm9::RecordingExists() {
  if (FileExists(RecordFileName.Get())) return true;
  RecordFileName.Set(ChooseRecording());
  ShowCaption();
  return false;
}

void TForm9::SpeedButton8Click() {
  const std::string file = ChooseRecording();
  if (FileExists(file)) RecordFileName.Set(file);
  ShowCaption();
}

void TForm9::SpeedButton3Click() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const std::string file = RecordingPath(local);
  const RtdHeader header = RecordingHeader(SelectedChannelKeys(GraphChannels, LiveRows),
                                           LinkSettings.P2, LinkSettings.P3);
  std::string error;
  if (!StartRecording(file, header, error)) {
    ui::ShowErrorBox(this, error);
    return;
  }
  ShowCaption();
  SpeedButton3->setEnabled(false);
  SpeedButton5->setEnabled(true);
}

void TForm9::SpeedButton4Click() {
  if (!RecordingExists()) return;  // the user presses play again
  const std::string file = RecordFileName.Get();
  std::string error;
  if (!logic_.OpenPlayback(ToDiskPath(file), error, file)) {
    ui::ShowErrorBox(this, error);
    return;
  }
  const RtdHeader& header = logic_.PlaybackHeader();
  for (int c = 0; c < kGraphChannels; ++c) {
    ComboBox[c]->setCurrentIndex(MatchChannel(header.Channels[c], LiveRows, ComboBox[c]->count()));
    ShowChannel(c);
  }
  UpdateChannelRequests();
  TrackBar1->setRange(0, logic_.LastRecord());
  logic_.BeginPlayback(ResponseStore, SelectedChannelKeys(GraphChannels, LiveRows));
  ShowSliderPos();
  ShowAll();
  Timer2->setInterval(logic_.PlaybackIntervalMs());
  Timer2->start();
}

void TForm9::SpeedButton5Click() {
  RecordEnabled.store(0);
  logic_.Playing = 0;
}

void TForm9::SpeedButton7Click() {
  for (QTimer* timer : {Timer1, Timer2}) {
    if (timer->isActive()) {
      timer->stop();
    } else {
      timer->start();
    }
  }
  logic_.RestartPacing();  // the paused time is not made up
  SpeedButton5->setEnabled(Timer1->isActive());
}

void TForm9::ExportButtonClick() {
  if (!RecordingExists()) return;  // the user presses export again
  ExportRecording();
}

void TForm9::ExportRecording() {
  if (logic_.ExportBusy != 0) return;
  Gauge1->setValue(0);
  const RecordingExport::State s =
      logic_.StartExport(RecordFileName.Get(), LiveRows, ResponseBlock, VehicleModule.PIDVAL);
  if (s != RecordingExport::State::Running) {
    EndExport(s);  // an empty recording ends quietly: nothing to export
    return;
  }
  // The tick's decisions at once: no file choice, playback or link start
  // while the export runs.
  Timer1Timer();
  ExportTimer->start();
}

void TForm9::ExportTimerTimer() {
  const RecordingExport::State s = logic_.ExportTurn();
  if (s != RecordingExport::State::Running) {
    EndExport(s);
    return;
  }
  Gauge1->setValue(logic_.ExportPercent());
}

void TForm9::EndExport(RecordingExport::State end) {
  ExportTimer->stop();
  Gauge1->setValue(0);
  logic_.ExportBusy = 0;
  Timer1Timer();
  if (end == RecordingExport::State::Failed) ui::ShowErrorBox(this, logic_.ExportError());
}

// ---------------------------------------------------------------- the slider

void TForm9::DragSliderTo(int x) {
  logic_.SliderPos = SliderPosition(TrackBar1->maximum(), TrackBar1->width(), x);
  ShowSliderPos();
  const QString hint = QString::number(logic_.SliderPos);
  TrackBar1->setToolTip(hint);
  if (TrackBar1->isVisible()) {
    QToolTip::showText(TrackBar1->mapToGlobal(QPoint(x, 0)), hint, TrackBar1);
  }
}

bool TForm9::eventFilter(QObject* watched, QEvent* event) {
  if (watched != TrackBar1) return ui::DiagnosticWindow::eventFilter(watched, event);
  // The slider is moved by the mouse alone, by the window's own formula.
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton) return true;
      logic_.Dragging = 1;
      DragSliderTo(static_cast<int>(mouse->position().x()));
      return true;
    }
    case QEvent::MouseMove:
      if (logic_.Dragging != 0) {
        DragSliderTo(static_cast<int>(static_cast<QMouseEvent*>(event)->position().x()));
      }
      return true;
    case QEvent::MouseButtonRelease:
      if (logic_.Dragging != 0) {
        const bool playing = logic_.Playing != 0;
        logic_.EndDrag();
        if (playing) ShowAll();
      }
      return true;
    case QEvent::Wheel:
    case QEvent::KeyPress:
      return true;
    default:
      return ui::DiagnosticWindow::eventFilter(watched, event);
  }
}

}  // namespace kestrel
