// How the windows look: captions, client areas, hints, menus, texts that fit
// their controls, the catalogue grid, the About text and the pictures. With
// KESTREL_SCREENSHOTS set to a folder, every window is also saved there as PNG.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include "app/about.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/tests/test_support.h"
#include "common/cp1251.h"
#include "config/config_globals.h"
#include "config/ui/catalogue_window.h"
#include "config/ui/settings_window.h"
#include "screens/dashboard.h"
#include "screens/ecu_info.h"
#include "screens/freeze_frames.h"
#include "screens/graphs.h"
#include "screens/live_table.h"
#include "screens/trouble_codes.h"
#include "uikit/ui_support.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

// Saves a picture of the window when screenshots are asked for.
void Snapshot(QWidget* w, const char* name) {
  const QByteArray folder = qgetenv("KESTREL_SCREENSHOTS");
  if (folder.isEmpty()) return;
  w->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
}

// Every caption of a label, check box or button must fit its control.
void ExpectTextsFit(QWidget* window) {
  for (QLabel* l : window->findChildren<QLabel*>()) {
    if (l->text().isEmpty() || l->wordWrap() || !l->isVisibleTo(window)) continue;
    EXPECT_LE(l->sizeHint().width(), l->width()) << l->text().toStdString();
    EXPECT_LE(l->sizeHint().height(), l->height() + 2) << l->text().toStdString();
  }
  for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
    if (b->text().isEmpty() || !b->isVisibleTo(window)) continue;
    EXPECT_LE(b->sizeHint().width(), b->width()) << b->text().toStdString();
  }
  // And every child lies inside the window.
  for (QWidget* c : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!c->isVisibleTo(window) || c->isWindow()) continue;
    EXPECT_TRUE(window->rect().contains(c->geometry())) << c->metaObject()->className();
  }
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetProgramState();
    testing::MakeCatalogue();
    fs::copy("ECU/A.ini", "ecu.ini");
    // The pictures, as the build draws them into the runtime tree.
    fs::create_directory("pic");
    QProcess picgen;
    picgen.start(QStringLiteral(KESTREL_TEST_PICGEN), {QStringLiteral("pic")});
    ASSERT_TRUE(picgen.waitForFinished(20000));
    ASSERT_EQ(picgen.exitCode(), 0);
    form_ = StartProgram();
    ASSERT_FALSE(ui::QuitRequested());
  }
  void TearDown() override {
    form_.reset();
    testing::ResetProgramState();
  }

  testing::ScratchDir dir_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(WindowsTest, MainWindowPanelButtonsAndMenus) {
  EXPECT_EQ(form_->windowTitle(), U("Тестер ECU Kestrel"));
  EXPECT_EQ(form_->centralWidget()->size(), QSize(454, 134));
  const char* hints[] = {
      "Приборная панель", "Таблица параметров реального времени", "Стоп-кадры",        "Ошибки ECU",
      "Информация о ECU", "Графики параметров реального времени", "Выход из программы"};
  int lastRight = -1;
  for (int b = 0; b < TForm1::kButtonCount; ++b) {
    QToolButton* button = form_->SpeedButton(TForm1::Button(b));
    EXPECT_EQ(button->toolTip(), U(hints[b]));
    EXPECT_FALSE(button->icon().isNull()) << "picture of button " << b + 1;
    EXPECT_GT(button->x(), lastRight) << "left to right";
    EXPECT_EQ(button->y(), form_->SpeedButton(TForm1::kButtonDashboard)->y());
    lastRight = button->geometry().right();
  }
  std::vector<std::vector<std::string>> menus;
  for (QAction* top : form_->menuBar()->actions()) {
    std::vector<std::string> items{top->text().toStdString()};
    for (QAction* a : top->menu()->actions()) {
      if (!a->isSeparator()) items.push_back(a->text().toStdString());
    }
    menus.push_back(items);
  }
  const std::vector<std::vector<std::string>> want = {
      {"Файл", "Сохранить как...", "Выбор ECU", "Настройки", "Выход"},
      {"Окна", "Приборная панель", "Таблица", "Стоп-кадры", "Ошибки ECU", "Информация о ECU",
       "Графики параметров"},
      {"Помощь", "О программе"}};
  EXPECT_EQ(menus, want);
  ExpectTextsFit(form_->centralWidget());
  form_->show();
  Snapshot(form_.get(), "main");

  // The exit button closes the main window.
  form_->SpeedButton(TForm1::kButtonExit)->click();
  EXPECT_FALSE(form_->isVisible());
}

TEST_F(WindowsTest, EveryWindowOpensModallyWithItsCaption) {
  const TForm1::Windows& w = form_->Forms();
  struct Entry {
    QDialog* window;
    std::function<void()> open;
    const char* caption;
    const char* shot;
  };
  const std::vector<Entry> entries = {
      {w.Form5, [&] { form_->SpeedButton(TForm1::kButtonDashboard)->click(); }, "Приборная панель",
       "dashboard"},
      {w.Form3, [&] { form_->MenuItem(TForm1::kItemLive)->trigger(); },
       "Таблица параметров реального времени", "live"},
      {w.Form6, [&] { form_->SpeedButton(TForm1::kButtonFreeze)->click(); }, "Стоп-кадры",
       "freeze"},
      {w.Form7, [&] { form_->MenuItem(TForm1::kItemDtc)->trigger(); }, "Ошибки ECU", "dtc"},
      {w.Form8, [&] { form_->SpeedButton(TForm1::kButtonInfo)->click(); }, "Информация о ECU",
       "info"},
      {w.Form9, [&] { form_->MenuItem(TForm1::kItemGraphs)->trigger(); },
       "Графики параметров реального времени : ", "graphs"},
      {w.Form10, [&] { form_->MenuItem(TForm1::kItemAbout)->trigger(); }, "О программе", "about"},
      {w.Form12, [&] { form_->MenuItem(TForm1::kItemSettings)->trigger(); }, "Настройки",
       "settings"},
  };
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.shot);
    bool modal = false;
    auto watch = testing::OnModal<QDialog>([&](QDialog* d) {
      modal = d == e.window && d->isModal();
      EXPECT_EQ(d->windowTitle(), U(e.caption));
      Snapshot(d, e.shot);
      if (e.window != w.Form5 && e.window != w.Form3) ExpectTextsFit(d);
      d->close();
    });
    e.open();
    EXPECT_TRUE(watch->Seen());
    EXPECT_TRUE(modal);
  }
  EXPECT_EQ(w.Form6->size(), QSize(792, 446));
  EXPECT_EQ(w.Form9->size(), QSize(792, 446));
}

TEST_F(WindowsTest, AboutWindowShowsTheNineLinesOnEveryActivation) {
  TForm10* about = form_->Forms().Form10;
  about->Label1()->setText(QString());
  auto watch = testing::OnModal<TForm10>([](TForm10* d) { d->close(); });
  about->exec();
  QString want = ui::Text(AboutText());
  want.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  EXPECT_EQ(about->Label1()->text(), want);
  EXPECT_EQ(about->Label1()->text().count('\n'), 8);
  const auto buttons = about->findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 1);
  EXPECT_EQ(buttons[0]->toolTip(), U("Выход"));
}

TEST_F(WindowsTest, CatalogueGridColumnsRowsAndSelection) {
  for (int i = 0; i < 30; ++i) {
    testing::WriteCp1251("ECU/C" + std::to_string(i) + ".ini",
                         testing::ConfigLines("Машина " + std::to_string(i), "ЭБУ", "ECU\\ONE"));
  }
  TForm11* cat = form_->Forms().Form11;
  auto watch = testing::OnModal<TForm11>([&](TForm11* d) {
    QTableWidget* g = d->Grid();
    EXPECT_EQ(d->windowTitle(), U("Выбор ECU"));
    EXPECT_EQ(g->rowCount(), 32);
    EXPECT_EQ(g->columnWidth(0), qRound(g->width() * 34 / 777.0));
    EXPECT_EQ(g->columnWidth(1), qRound(g->width() * 444 / 777.0));
    EXPECT_EQ(g->columnWidth(2), qRound(g->width() * 230 / 777.0));
    EXPECT_EQ(g->columnWidth(3), qRound(g->width() * 45 / 777.0));
    EXPECT_TRUE(g->isColumnHidden(4));
    EXPECT_EQ(g->rowHeight(5), 20);
    EXPECT_EQ(g->item(0, 0)->text(), U("0001"));
    EXPECT_EQ(g->item(0, 3)->text(), U("A"));
    EXPECT_EQ(g->item(0, 4)->text(), U("A.ini"));
    EXPECT_EQ(g->item(1, 1)->text(), U("Тойота Королла"));
    EXPECT_EQ(g->item(31, 0)->text(), U("0032"));
    EXPECT_FALSE(g->item(0, 1)->flags() & Qt::ItemIsEditable);
    g->setCurrentCell(1, 2);  // selecting any cell chooses its row
    EXPECT_EQ(d->ChosenRow(), 1);
    ExpectTextsFit(d);
    Snapshot(d, "catalogue");
    d->Button1Click();
  });
  cat->exec();
  EXPECT_TRUE(watch->Seen());
  EXPECT_TRUE(cat->Chosen());
  EXPECT_FALSE(cat->Outcome().Quit);
  EXPECT_EQ(ConfigFileName, "ECU/B.ini");
}

TEST_F(WindowsTest, PicturesAreReadableBitmapsOfTheirSizes) {
  const std::map<std::string, QSize> sizes = {
      {"start.bmp", {32, 32}},    {"stop.bmp", {32, 32}}, {"checkon.bmp", {32, 32}},
      {"checkoff.bmp", {32, 32}}, {"L.bmp", {43, 43}},    {"2.bmp", {43, 43}},
      {"R.bmp", {43, 43}},        {"3.bmp", {43, 43}},    {"D.bmp", {43, 43}},
      {"S.bmp", {43, 43}},        {"N.bmp", {43, 43}},    {"main_panel.bmp", {40, 40}},
      {"exit.bmp", {32, 32}},     {"on.bmp", {15, 15}},   {"fileread.bmp", {32, 32}}};
  for (const auto& [name, size] : sizes) {
    SCOPED_TRACE(name);
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString("pic/" + name)));
    EXPECT_EQ(image.size(), size);
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 2u) << "a drawing, not a blank";
  }
  // A glyph's bottom-left colour is transparent, its drawing is not.
  const QImage glyph = ui::Glyph(QStringLiteral("start.bmp")).toImage();
  EXPECT_EQ(qAlpha(glyph.pixel(0, glyph.height() - 1)), 0);
  EXPECT_EQ(qAlpha(glyph.pixel(glyph.width() / 2, glyph.height() / 2)), 255);
  EXPECT_TRUE(ui::Glyph(QStringLiteral("none.bmp")).isNull());

  // The generator is reproducible: a second run gives the same bytes.
  fs::create_directory("pic2");
  QProcess picgen;
  picgen.start(QStringLiteral(KESTREL_TEST_PICGEN), {QStringLiteral("pic2")});
  ASSERT_TRUE(picgen.waitForFinished(20000));
  for (const auto& entry : fs::directory_iterator("pic")) {
    EXPECT_EQ(testing::ReadRaw(entry.path()),
              testing::ReadRaw(fs::path("pic2") / entry.path().filename()))
        << entry.path();
  }

  // The desktop icon in every size of the icon theme: a tile on a
  // transparent background.
  QProcess icons;
  icons.start(QStringLiteral(KESTREL_TEST_PICGEN),
              {QStringLiteral("--icons"), QStringLiteral("icons")});
  ASSERT_TRUE(icons.waitForFinished(20000));
  EXPECT_EQ(icons.exitCode(), 0);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string dim = std::to_string(size) + "x" + std::to_string(size);
    QImage icon;
    ASSERT_TRUE(icon.load(QString::fromStdString("icons/hicolor/" + dim + "/apps/kestrel.png")))
        << dim;
    EXPECT_EQ(icon.size(), QSize(size, size));
    EXPECT_TRUE(icon.hasAlphaChannel());
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0) << dim;
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255) << dim;
  }
}

}  // namespace
}  // namespace kestrel
