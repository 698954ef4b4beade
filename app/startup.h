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

}  // namespace kestrel
