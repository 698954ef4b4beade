#include "screens/pixel_view.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>

namespace kestrel {

PixelView::PixelView(QWidget* parent, const PixelBuffer& buffer)
    : QWidget(parent), buffer_(buffer) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  resize(buffer.Width(), buffer.Height());
}

void PixelView::UpdateColumns(int first, int last) {
  if (last < first) return;
  update(first, 0, last - first + 1, height());
}

void PixelView::paintEvent(QPaintEvent* event) {
  // The buffer's rows are already in the layout of an RGB32 image.
  const QImage image(reinterpret_cast<const uchar*>(buffer_.Bits()), buffer_.Width(),
                     buffer_.Height(), buffer_.Width() * 4, QImage::Format_RGB32);
  QPainter painter(this);
  painter.drawImage(event->rect().topLeft(), image, event->rect());
}

}  // namespace kestrel
