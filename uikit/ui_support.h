// Qt helpers shared by every window, in every layer.
//
// The core keeps every text in code page 1251; the windows show Unicode. All
// conversions between the two go through Text()/Cp() below so that no window
// has its own idea of the code page. Glyphs are the bitmaps of the folder
// "pic" in the working directory.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

class QWidget;

namespace kestrel::ui {

// Code page 1251 bytes to a QString.
QString Text(std::string_view cp1251);

// A QString to code page 1251 bytes; characters outside the code page become '?'.
std::string Cp(const QString& text);

// The application title, also the caption of the error box.
QString AppTitle();

// Loads "pic/<name>" from the working directory. Like a button glyph, the colour
// of the bottom-left pixel is treated as transparent. A missing or unreadable
// file gives a null pixmap (the caller shows its button without a picture).
QPixmap Glyph(const QString& name);

// The application's standard error box: the title, an error icon, the text, OK.
void ShowErrorBox(QWidget* parent, std::string_view cp1251);

// Routes error boxes to a handler instead of showing them (tests record the
// texts this way); an empty handler restores the box. Returns the previous one.
using ErrorBoxHandler = std::function<void(const QString&)>;
ErrorBoxHandler SetErrorBoxHandler(ErrorBoxHandler handler);

// Ends the program: writes `stderrLine` (UTF-8, when not empty) and a line end
// to standard error, remembers the request and asks every running event loop
// (the main loop and any modal window's) to end with `status`. Code that may
// run after a quit request checks QuitRequested() before it opens a window,
// since an event loop started afterwards would run normally.
void RequestQuit(int status, const std::string& stderrLine = {});
bool QuitRequested();
int QuitStatus();
void ResetQuit();  // tests

// Fixes a window's client area to width x height and centres it on its screen.
void FixAndCentre(QWidget* window, int width, int height);

}  // namespace kestrel::ui
