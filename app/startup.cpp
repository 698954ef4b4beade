#include "app/startup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstdio>

#include "app/about.h"
#include "config/catalogue.h"
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

bool InstallQtTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  const QString name = QStringLiteral("qtbase_ru");
  if (app == nullptr) return false;
  if (app->findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly) != nullptr) return true;
  auto* translator = new QTranslator(app);
  translator->setObjectName(name);
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"),
                        QStringLiteral("_"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    std::fprintf(stderr,
                 "kestrel: Qt's Russian translations (qtbase_ru.qm) not found in %s; dialog "
                 "buttons stay English (Debian package qt6-translations-l10n)\n",
                 folder.toLocal8Bit().constData());
    return false;
  }
  return true;
}

std::unique_ptr<TForm1> StartProgram() {
  auto form1 = std::make_unique<TForm1>();
  TForm1::Windows& w = form1->Forms();
  w.Form3 = new TForm3(form1.get());
  w.Form5 = new TForm5(form1.get());
  w.Form6 = new TForm6(form1.get());
  w.Form7 = new TForm7(form1.get());
  w.Form8 = new TForm8(form1.get());
  w.Form9 = new TForm9(form1.get());
  w.Form10 = new TForm10(form1.get());
  w.Form11 = new TForm11(form1.get());
  w.Form12 = new TForm12(form1.get());

  // The start-up load, as the settings window comes into being.
  const ConfigOutcome outcome = StartupLoad();
  if (!outcome.Error.empty()) ui::ShowErrorBox(nullptr, outcome.Error);
  if (outcome.Quit) {
    ui::RequestQuit(kConfigQuitStatus, outcome.StderrLine);
    return form1;
  }
  form1->ConfigLoaded();
  return form1;
}

}  // namespace kestrel
