// Where a page appears on the screen. Pages follow each other: the next one
// opens with its top-left corner where the one it replaces had its own, the
// first one in the middle of the screen, and none ever hangs over the edge
// of the screen's free area (task bars and panels left out).
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <optional>

namespace ui {

// The client rectangle, in screen coordinates, for a page of `size`.
// `previous` is the client rectangle of the page it replaces, if any;
// `frame` the window frame around a client area (title bar and borders, as
// far as they are known); `available` the free area of the screen. A page
// larger than that area keeps its top-left corner on it.
QRect PlacePage(const std::optional<QRect>& previous, const QSize& size, const QMargins& frame,
                const QRect& available);

}  // namespace ui
