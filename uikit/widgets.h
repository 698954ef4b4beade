// Widgets every window builds the same way: speed buttons with glyphs from
// the folder "pic", the "K-Line:" status pair, and a control enabled or left
// as it is by a tick's decision.
#pragma once

#include <QString>
#include <cstdint>
#include <string_view>

class QFont;
class QLabel;
class QToolButton;
class QWidget;

namespace kestrel::ui {

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

}  // namespace kestrel::ui
