// The graphs window's figures, with the shipped Camry configuration and the
// built module, eight numeric channels of its live list:
//
// Tick: the window's Timer1Timer while exchanging (status and controls, the
// eight PIDVAL calls, both charts drawn, the labels) followed by the repaint
// of what changed, every channel's bytes changing on every tick (target
// 1 ms). The drawing alone (the plain logic, no window) is timed as well.
// Full redraw: the same tick with both charts drawn whole, as after a scale
// or visibility change (target 3 ms).
// Seek: a recording of 1,000,000 records; a seek with the read of the record
// (the reader alone), and the slider's release in the playing window (seek,
// GrafInit and the repaint) (target 10 ms).
// Playback: a recording with a 1 ms interval played by the window for
// --seconds: records played per second against the 1000 asked for.
#include <QApplication>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <vector>

#include "bench/support/window_bench.h"
#include "config/load_init.h"
#include "config/module_binding.h"
#include "config/parameter_lists.h"
#include "link/link_globals.h"
#include "link/recording.h"
#include "module/response_store.h"
#include "screenlogic/graphs.h"
#include "screens/graphs.h"

namespace {

using namespace kestrel;
using namespace kestrel::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

void Print(const char* what, const Stats& s) {
  std::printf("  %-34s mean %.4f ms, median %.4f ms, p95 %.4f ms, max %.4f ms\n", what, s.mean,
              s.median, s.p95, s.max);
}

// The first eight live rows of services 01 and 21 whose value is a number
// (selector 00), as the channels' selector items.
bool ChooseChannels(GraphChannelKeys& keys) {
  int c = 0;
  for (int r = 0; r < LiveRows.RowCount && c < kGraphChannels; ++r) {
    const std::optional<ParameterKey> key = ChannelKeyOf(r + 1, LiveRows);
    if (!key || key->Format != 0 || (key->Service != 0x01 && key->Service != 0x21)) continue;
    GraphChannels[c].Selected = r + 1;
    keys[c++] = key;
  }
  return c == kGraphChannels;
}

// New bytes in the slot of every channel, inside a fixed range so that the
// scales settle after the first ticks.
void FillSlots(const GraphChannelKeys& keys, int round) {
  for (int c = 0; c < kGraphChannels; ++c) {
    const vorta::StoreArea area =
        keys[c]->Service == 0x01 ? vorta::kAreaMode01 : vorta::kAreaLocal21;
    std::uint8_t* slot = vorta::Slot(ResponseStore, area, keys[c]->Id1);
    for (int b = 0; b < 4; ++b)
      slot[b] = static_cast<std::uint8_t>(100 + (round * (7 + c) + b) % 50);
    slot[vorta::kSlotCountByte] = 4;
  }
}

// A recording of `records` frames for the channels' identifiers in turn.
void WriteRecording(const fs::path& file, const GraphChannelKeys& keys, std::size_t records,
                    std::uint16_t interval) {
  RtdHeader header;
  header.IntervalMs = interval;
  for (int c = 0; c < kGraphChannels; ++c) header.Channels[c] = *keys[c];
  std::FILE* f = std::fopen(file.c_str(), "wb");
  const RtdRecord h = header.Encode();
  std::fwrite(h.data(), 1, h.size(), f);
  for (std::size_t i = 0; i < records; ++i) {
    const ParameterKey& k = *keys[i % kGraphChannels];
    const std::uint8_t frame[] = {0x86,
                                  0xF1,
                                  0x10,
                                  static_cast<std::uint8_t>(k.Service | 0x40),
                                  k.Id1,
                                  static_cast<std::uint8_t>(i),
                                  static_cast<std::uint8_t>(i >> 8),
                                  static_cast<std::uint8_t>(i >> 16),
                                  0,
                                  0};
    const RtdRecord r = MakeRtdRecord(frame, sizeof frame);
    std::fwrite(r.data(), 1, r.size(), f);
  }
  std::fclose(f);
}

void Release(QSlider* slider, int x) {
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
    QMouseEvent e(type, QPointF(x, 12), slider->mapToGlobal(QPointF(x, 12)), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(slider, &e);
  }
}

}  // namespace

// The offscreen platform cannot raise the slider's hint: not worth a line
// for each of the hundreds of drags timed here.
void QuietHints(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (text.contains(QStringLiteral("does not support raise"))) return;
  std::fprintf(stderr, "%s%s\n", type >= QtWarningMsg ? "warning: " : "",
               text.toLocal8Bit().constData());
}

int main(int argc, char** argv) {
  const BenchArgs args = ParseBenchArgs(argc, argv);
  QApplication app(argc, argv);
  qInstallMessageHandler(QuietHints);
  if (!LoadShippedCamry(KESTREL_RUNTIME_DIR)) return 1;
  if (!BindBuiltModule(VORTA_MODULE_PATH)) return 1;
  GraphChannelKeys keys;
  if (!ChooseChannels(keys)) {
    std::fprintf(stderr, "the live list has fewer than eight numeric channels\n");
    return 1;
  }

  constexpr int kRounds = 600;  // more than a chart's width: one wrap included
  std::vector<double> tick, tickLogic, full, fullLogic;
  TForm9 form;
  form.show();
  form.Timer1->stop();  // ticks are driven here
  QApplication::processEvents();
  LinkStatus.store(lsExchange);
  for (int i = 0; i < kRounds; ++i) {
    FillSlots(keys, i);
    tick.push_back(TimeTick(form));
  }
  for (int i = 0; i < kRounds; ++i) {
    FillSlots(keys, i);
    for (int c = 0; c < kCharts; ++c) form.Logic().Charts(c).Redraw = 1;
    full.push_back(TimeTick(form));
  }
  LinkStatus.store(lsIdle);
  form.Timer1Timer();
  {
    auto logic = std::make_unique<GraphsLogic>();
    logic->GrafInit();
    for (int i = 0; i < kRounds; ++i) {
      FillSlots(keys, i);
      const auto start = Clock::now();
      logic->SampleAndDraw(keys, ResponseBlock, VehicleModule.PIDVAL);
      tickLogic.push_back(Ms(start));
    }
    for (int i = 0; i < kRounds; ++i) {
      FillSlots(keys, i);
      for (int c = 0; c < kCharts; ++c) logic->Charts(c).Redraw = 1;
      const auto start = Clock::now();
      logic->SampleAndDraw(keys, ResponseBlock, VehicleModule.PIDVAL);
      fullLogic.push_back(Ms(start));
    }
  }
  std::printf("graphs tick, eight changing channels, %d ticks each:\n", kRounds);
  Print("tick with repaint:", Summarise(tick));
  Print("drawing alone:", Summarise(tickLogic));
  std::printf("    (target <= 1 ms)\n");
  Print("full redraw, tick with repaint:", Summarise(full));
  Print("full redraw alone:", Summarise(fullLogic));
  std::printf("    (target <= 3 ms)\n");

  // Seeks in a recording of 1,000,000 records (38 MB).
  const fs::path folder =
      fs::temp_directory_path() / ("kestrel-graphs-bench-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path big = folder / "big.rtd";
  constexpr std::size_t kBig = 1000000;
  WriteRecording(big, keys, kBig, 57);
  std::mt19937 dice(7);
  std::uniform_int_distribution<std::size_t> anywhere(1, kBig);
  std::vector<double> seek, release;
  {
    RtdReader reader;
    std::string error;
    if (!reader.Open(big.string(), error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    RtdRecord record{};
    for (int i = 0; i < 1000; ++i) {
      const auto start = Clock::now();
      reader.Seek(anywhere(dice));
      reader.Read(record);
      seek.push_back(Ms(start));
    }
  }
  RecordFileName.Set(big.string());
  form.SpeedButton4Click();
  form.Timer2->stop();  // the slider alone moves the file here
  std::uniform_int_distribution<int> along(9, form.TrackBar1->width() - 9);
  for (int i = 0; i < 300; ++i) {
    const auto start = Clock::now();
    Release(form.TrackBar1, along(dice));
    QApplication::processEvents();
    release.push_back(Ms(start));
  }
  form.SpeedButton5Click();
  form.Timer2Timer();  // playback over: the file is closed
  std::printf("seek in a recording of %zu records:\n", kBig);
  Print("seek and read:", Summarise(seek));
  Print("slider release in the window:", Summarise(release));
  std::printf("    (target <= 10 ms; the release includes GrafInit and the repaint)\n");

  // Playback at a 1 ms interval, Timer1 drawing as usual.
  const fs::path fast = folder / "fast.rtd";
  WriteRecording(fast, keys, 200000, 1);
  RecordFileName.Set(fast.string());
  form.Timer1->start();
  form.SpeedButton4Click();
  const auto start = Clock::now();
  const double cpu0 = CpuSeconds();
  RunFor(args.seconds * 1000, [&] { return form.Logic().Playing == 0; });
  const double wall = Ms(start) / 1000;
  const double cpu = CpuSeconds() - cpu0;
  const int played = form.TrackBar1->value();
  if (args.png != nullptr) {
    form.grab().save(QString::fromLocal8Bit(args.png));
    std::printf("window picture: %s\n", args.png);
  }
  form.SpeedButton5Click();
  form.Timer2Timer();
  form.close();
  std::printf("playback at a 1 ms interval for %.1f s:\n", wall);
  std::printf(
      "  %d records played, %.0f per second of %.0f asked (%.1f %%), CPU %.0f %% of one core\n",
      played, played / wall, 1000.0, 100.0 * played / wall / 1000.0, 100.0 * cpu / wall);

  RecordFileName.Set("");
  fs::remove_all(folder);
  Unbind();
  return 0;
}
