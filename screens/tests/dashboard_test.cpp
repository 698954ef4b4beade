// The dashboard against the simulated ECU in-process: centring on the first
// showing, the font and where its texts fall, polling with the gauges drawn
// on screen, stop, polling after the window closes, and the autostart with
// its reconnect after a link error. Offscreen; the module is the built
// VORTA.so.
#include "screens/dashboard.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontInfo>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <cstring>
#include <memory>

#include "config/config_globals.h"
#include "config/load_init.h"
#include "link/link_globals.h"
#include "link/session.h"
#include "tests/support/window_test.h"

namespace kestrel {
namespace {

bool WaitUntil(const std::function<bool()>& done, int ms = 10000) {
  return testing::ProcessUntil(done, ms);
}

// The shipped Camry's dashboard list: lamp and codes, load, coolant, engine
// speed, road speed, injection, fuel cut, fluid temperature, gear, lever.
const char* const kRequests[] = {
    "82 10 F1 21 01", "82 10 F1 21 04", "82 10 F1 21 05", "82 10 F1 21 0C", "82 10 F1 21 0D",
    "82 10 F1 21 E4", "82 10 F1 21 E8", "82 10 F1 21 B4", "82 10 F1 21 F8", "82 10 F1 21 F9"};

class DashboardTest : public testing::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    vorta::RequestTable& table = RequestTables[kDashboardTable];
    std::memset(&table, 0, sizeof table);
    for (const char* line : kRequests)
      ASSERT_TRUE(ParseRequestLine(line, table.Entries[table.Count++]));
    ValueQuery.Cylinders = 4;
    ValueQuery.InjectorFlow = 250.0;
    ValueQuery.Displacement = 2400;
    ValueQuery.FuelFactor = 14;
    ValueQuery.MapCorrection = 100;
    StartRequest = 0;
    AutostartDashboard = 0;
    ReconnectTime = 0;
  }

  void TearDown() override {
    form_.reset();
    StartRequest = 0;
    AutostartDashboard = 0;
    ReconnectTime = 0;
    DashboardFirstShow = 0;
    WindowTest::TearDown();
  }

  TForm5& Open() {
    form_ = std::make_unique<TForm5>();
    form_->show();
    QApplication::processEvents();
    return *form_;
  }

  bool Exchanging() const {
    return form_->Label5->text() == QStringLiteral("Recive ISO-14230/9141");
  }

  std::unique_ptr<TForm5> form_;
};

TEST_F(DashboardTest, PollsDrawsTheGaugesStopsAndPollsOnAfterClosing) {
  UseSimulator();
  DashboardFirstShow = 1;
  TForm5& f = Open();

  // Maximised and, on this first showing, the design area centred.
  EXPECT_TRUE(f.windowState() & Qt::WindowMaximized);
  const QSize screen = f.screen()->availableGeometry().size();
  const QPoint offset((screen.width() - 800) / 2, (screen.height() - 480) / 2);
  EXPECT_EQ(f.SpeedButton1->pos(), QPoint(8, 8) + offset);
  EXPECT_EQ(f.SpeedButton3->pos(), QPoint(744, 8) + offset);
  EXPECT_EQ(f.Image1->pos(), QPoint(305, 232) + offset);
  EXPECT_EQ(DashboardFirstShow, 0);

  // The texts are in the design face or its stand-in, which must be
  // installed, and at their design captions none runs into its neighbour.
  EXPECT_TRUE(TForm5::FontFamilies().contains(QFontInfo(f.Label3->font()).family()))
      << QFontInfo(f.Label3->font()).family().toStdString();
  EXPECT_EQ(f.Label3->text(), QStringLiteral("200 "));
  EXPECT_LE(f.Label1->geometry().right(), f.Label2->x());
  EXPECT_LE(f.Label3->geometry().right(), f.Label4->x());
  EXPECT_LE(f.Label4->geometry().right(), offset.x() + 800);
  EXPECT_LE(f.Label3->geometry().bottom(), f.Label14->y());
  EXPECT_LE(f.Label14->geometry().bottom(), f.Label22->y());
  EXPECT_LE(f.Label18->geometry().bottom(), f.Label21->y());
  EXPECT_LE(f.Label1->geometry().bottom(), offset.y() + 480);
  EXPECT_LE(f.Label8->geometry().right(), f.Label9->x());
  EXPECT_LE(f.Label7->geometry().right(), f.Label5->x());
  EXPECT_EQ(f.Label5->text(), QStringLiteral("Idle"));

  f.SpeedButton1->click();
  ASSERT_TRUE(WaitUntil([&] { return Exchanging() && f.SpeedButton1->isEnabled(); }))
      << f.Label5->text().toStdString();
  EXPECT_FALSE(f.SpeedButton2->isEnabled());  // no exit while exchanging
  ASSERT_TRUE(WaitUntil([&] { return f.Label1->text() != QStringLiteral("3000 "); }));

  // What the labels show is the logic's view of the module's values.
  const DashboardView& v = f.Logic().View();
  const vorta::PanelRecord& r = f.Logic().Record();
  EXPECT_EQ(f.Label11->text().toStdString(), v.Bars[kGaugeCoolant].Text);
  EXPECT_EQ(f.Label3->text().toStdString(), FixedText(r.Speed, 5, 0) + " ");
  EXPECT_GT(r.Gauges[kGaugeRpm].Value, 500);
  EXPECT_TRUE(f.Image2->isVisibleTo(&f));  // the simulated gearbox reports its lever
  EXPECT_TRUE(f.Label6->isVisibleTo(&f));
  EXPECT_EQ(f.Label6->text().toStdString(), GearText(r.Gear));
  EXPECT_EQ(f.Label9->text(), QStringLiteral("4"));  // the simulated car's stored codes

  // On screen, in the colours of the pictures: the load bar's lowest lit
  // row is lime (its green band starts at 0) between grey end pixels; the
  // arc's column 20 (a full column, rows 224..229) is below the green band,
  // in the caption colour 0x00D1B499, RGB 99 B4 D1.
  QApplication::processEvents();
  const QImage shot = f.grab().toImage();
  const QPoint row1 = f.Image10->pos() + QPoint(0, kBarHeight - 2);
  EXPECT_EQ(shot.pixelColor(row1 + QPoint(1, 0)), QColor(0x00, 0xFF, 0x00));
  EXPECT_EQ(shot.pixelColor(row1), QColor(0x80, 0x80, 0x80));
  EXPECT_EQ(shot.pixelColor(row1 + QPoint(kBarWidth - 1, 0)), QColor(0x80, 0x80, 0x80));
  EXPECT_EQ(shot.pixelColor(f.Image1->pos() + QPoint(20, 226)), QColor(0x99, 0xB4, 0xD1));
  const QByteArray folder = qgetenv("KESTREL_SCREENSHOTS");
  if (!folder.isEmpty()) shot.save(QString::fromLocal8Bit(folder) + "/dashboard_polling.png");

  // Stop: the session ends, exit is possible again.
  f.SpeedButton1->click();
  EXPECT_EQ(RunFlag.load(), 0);
  ASSERT_TRUE(WaitUntil([&] { return f.Label5->text() == QStringLiteral("Idle"); }));
  EXPECT_TRUE(f.SpeedButton2->isEnabled());

  // Closing does not stop polling.
  f.SpeedButton1->click();
  ASSERT_TRUE(WaitUntil([&] { return Exchanging(); }));
  f.close();
  EXPECT_FALSE(f.Timer1->isActive());
  EXPECT_EQ(RunFlag.load(), 1);
  const int before = frames_.Count("82 10 F1 21 0C");
  EXPECT_TRUE(WaitUntil([&] { return frames_.Count("82 10 F1 21 0C") > before + 3; }));
  EXPECT_EQ(LinkStatus.load(), lsExchange);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(DashboardTest, AutostartPollsByItselfAndReconnectsAfterALinkError) {
  // The adapter vanishes after a few answers; the reconnect finds a new one.
  ecusim::Faults vanish;
  vanish.vanish_after = 20;
  UseSimulator(vanish);
  StartRequest = 1;  // as the settings loader leaves it with the autostart line set
  AutostartDashboard = 1;
  ReconnectTime = 3;
  TForm5& f = Open();
  ASSERT_TRUE(WaitUntil([&] { return Exchanging(); })) << f.Label5->text().toStdString();
  EXPECT_EQ(StartRequest, 0);
  ASSERT_TRUE(WaitUntil([&] { return f.Label5->text().startsWith(QStringLiteral("Error ")); }));
  EXPECT_EQ(RunFlag.load(), 0);  // the error ended the run
  UseSimulator();
  ASSERT_TRUE(WaitUntil([&] { return Exchanging(); })) << f.Label5->text().toStdString();
  EXPECT_EQ(RunFlag.load(), 1);
}

}  // namespace
}  // namespace kestrel
