#include "app/qt/placement.h"

#include <algorithm>

namespace ui {

QRect PlacePage(const std::optional<QRect>& previous, const QSize& size, const QMargins& frame,
                const QRect& available) {
  const QSize outer = size.grownBy(frame);
  QPoint top_left;  // of the frame
  if (previous) {
    top_left = previous->topLeft() - QPoint(frame.left(), frame.top());
  } else {
    top_left = QPoint(available.x() + (available.width() - outer.width()) / 2,
                      available.y() + (available.height() - outer.height()) / 2);
  }
  // Back inside on the right and at the bottom first, so that a page too
  // big for the screen ends with its title bar and left edge showing.
  top_left.setX(std::min(top_left.x(), available.x() + available.width() - outer.width()));
  top_left.setY(std::min(top_left.y(), available.y() + available.height() - outer.height()));
  top_left.setX(std::max(top_left.x(), available.x()));
  top_left.setY(std::max(top_left.y(), available.y()));
  return QRect(top_left + QPoint(frame.left(), frame.top()), size);
}

}  // namespace ui
