// Widgets every window builds the same way: the frame of a diagnostic
// window, speed buttons with glyphs from the folder "pic", the "K-Line:"
// status pair, and a control enabled or left as it is by a tick's decision.
#pragma once

#include <QDialog>
#include <QFont>
#include <QString>
#include <cstdint>
#include <string_view>

class QCloseEvent;
class QLabel;
class QShowEvent;
class QToolButton;
class QWidget;

namespace kestrel::ui {

// A diagnostic window: a modal dialog with a title bar, system menu and close
// button only, of a fixed client size, in the windows' base font (MS Sans
// Serif 11 px), titled with a code page 1251 text. Each time the program
// shows it (not when a minimised window comes back) it is fixed and centred
// and FormActivate runs; the close button, Escape and done() run FormClose.
class DiagnosticWindow : public QDialog {
 public:
  DiagnosticWindow(QWidget* parent, std::string_view title, int clientWidth, int clientHeight);

  virtual void FormActivate() = 0;
  virtual void FormClose() = 0;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void done(int result) override;

 private:
  int clientWidth_;
  int clientHeight_;
};

// The room a label's last glyph needs past its advance: more for a slanted
// font.
int Overhang(const QLabel* label);

// Sets a label's text and fits its width to it, as an auto-sized label does:
// a left-aligned one keeps its left edge, a right-aligned one its right edge.
void ShowAutoSized(QLabel* label, const QString& text);

// The font of the "K-Line:" status pair: Times New Roman bold 15 px.
QFont StatusFont();

// A flat button without focus at x, y, size x size, with its hint (code page
// 1251). Large buttons (38 px) take a 32 px glyph, small ones (19 px) 15 px.
QToolButton* MakeSpeedButton(QWidget* parent, int x, int y, int size, std::string_view hint);

// Shows "pic/<file>" on the button; a missing picture leaves it without one.
void SetGlyph(QToolButton* button, const char* file);

// The caption "K-Line:" and the status label beside it, at x, y, in `font`.
// The status label keeps clear of the caption in fonts wider than designed
// and reaches `right`.
struct StatusPair {
  QLabel* Caption = nullptr;
  QLabel* Status = nullptr;
};
StatusPair MakeStatusPair(QWidget* parent, int x, int y, int statusX, int right, const QFont& font,
                          const QString& initial);

// Shows the status text of a link state on the label when it differs; in
// the error state its tool tip explains every set bit of the error word.
void ShowLinkStatus(QLabel* label, std::uint16_t status, std::uint16_t error,
                    bool dashboard = false);

// The tool tip alone: the explanation of the error bits in the error state,
// none otherwise.
void ShowLinkErrorTip(QWidget* widget, std::uint16_t status, std::uint16_t error);

}  // namespace kestrel::ui
