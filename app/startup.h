// The program's start: the windows in their fixed order and the start-up load.
#pragma once

#include <memory>

#include "app/main_window.h"

namespace kestrel {

// Creates the main window, the live table, the dashboard, the freeze-frame,
// trouble-code, ECU information and graph windows, the About window, the
// catalogue window and, last, the settings window, whose creation performs the
// start-up load (ecu.ini, then the trouble-code texts and PID names). The main
// window owns the others; its one-shot timer is running. When the load ends
// the program, ui::QuitRequested() is set and the caller shows nothing.
std::unique_ptr<TForm1> StartProgram();

// Qt's own texts in Russian, whatever the user's locale: the buttons of the
// error and confirmation boxes and of the file dialogs, which Qt draws from
// its translations (Debian qt6-translations-l10n). Without them the program
// still runs, with English buttons, and says so on standard error. Returns
// whether they were loaded.
bool InstallQtTranslations();

}  // namespace kestrel
