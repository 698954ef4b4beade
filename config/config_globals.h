// Process-wide configuration state: what the configuration loader (LoadInit),
// the catalogue choice and the settings window write, and what the windows,
// the link and the vehicle module read.
//
// Everything here is owned by the user-interface thread (the loader, the
// windows and the module calls all run on it); nothing is shared with the link
// threads except through link/link_globals.h. Texts are code page 1251.
//
// The engine constants (InjectorFlow, Cylinders, Displacement, FuelFactor,
// MapCorrection) are not here: they live in the module parameter block
// kestrel::ValueQuery (link/link_globals.h), which the loader and the settings
// window write directly. The link settings live in kestrel::LinkSettings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// ---------------------------------------------------------------- texts of the main window

// Line 1 of the configuration in use: the car name shown in the main window's
// upper box. The main window may edit it ("Сохранить как..." writes it back).
extern std::string CarName;
// Line 2: the ECU type shown in the main window's lower box; editable likewise.
extern std::string EcuType;

// ---------------------------------------------------------------- files and folders

// Line 3: the folder of the selected ECU as written in the file (it may hold
// backslashes; use EcuFilePath to build a path from it). Holds VORTA.ini,
// dtc.ini and VORTA.so.
extern std::string EcuFolder;

// The configuration file in use: "ecu.ini" from start-up on (whether it exists
// or not), "ECU/" followed by the catalogue file name after a successful
// catalogue choice. The settings window reads and rewrites this file.
extern std::string ConfigFileName;

// 1 when the start-up load found no "ecu.ini" (the start-up timer then shows
// the catalogue).
extern std::uint8_t ConfigMissing;

// A path read from a file with '\' separators turned into '/' (Windows-style
// paths such as "ECU\TOYOTA" are read as "ECU/TOYOTA").
std::string NativePath(std::string_view path);

// The path of a file inside the ECU folder: EcuFolder, a separator and the
// name, with backslashes read as '/'. An empty EcuFolder gives "/" + name (the
// folder text followed by a separator, as the original program built it).
std::string EcuFilePath(std::string_view fileName);

// ---------------------------------------------------------------- dashboard start-up

// Set by every load from line 17 (dashboard autostart). The dashboard starts
// polling when it finds it set, and clears it.
extern std::uint8_t StartRequest;

// The autostart setting shown and edited in the settings window; copied from
// StartRequest once by the start-up timer.
extern std::uint8_t AutostartDashboard;

// Line 18: delay before the dashboard reconnects after a link error, in
// hundreds of milliseconds.
extern std::int32_t ReconnectTime;

// ---------------------------------------------------------------- enabling of the lists

// Which main-window buttons and menu items the configuration allows. Each load
// sets the flags as it reads the counts (so a load that stops on a bad line has
// set only the flags before it); the main window applies them after LoadInit.
struct ListEnabling {
  bool Dashboard = false;  // "Приборная панель": dashboard list not empty
  bool Live = false;  // "Таблица" and "Графики параметров": live list not empty
  bool Freeze = false;  // "Стоп-кадры": freeze-frame list not empty
  bool Dtc = false;     // "Ошибки ECU": reading AND clearing lists both not empty
  bool Info = false;    // "Информация о ECU": information list not empty
};
extern ListEnabling ListsEnabled;

// ---------------------------------------------------------------- ending the program

// Exit status of the program when a configuration problem ends it (empty
// catalogue, no dtc.ini, no module or a missing export).
inline constexpr int kConfigQuitStatus = 1;

// Resets every global of this header to its start-up value (tests).
void ResetConfigGlobals();

}  // namespace kestrel
