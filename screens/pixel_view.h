// The logic's pictures on screen: shows a pixel buffer drawn by
// screenlogic/ (the dashboard's gauges, the graphs' charts) as it is, and
// repaints only what the window marks as changed.
#pragma once

#include <QColor>
#include <QWidget>

#include "screenlogic/gauges.h"

class QPaintEvent;

namespace kestrel {

// A colour of the logic (0x00BBGGRR) for Qt.
inline QColor ToQColor(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

class PixelView : public QWidget {
 public:
  // The buffer must outlive the view; the view takes its size.
  PixelView(QWidget* parent, const PixelBuffer& buffer);

  // Repaints columns first..last (both included) of the picture.
  void UpdateColumns(int first, int last);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const PixelBuffer& buffer_;
};

}  // namespace kestrel
