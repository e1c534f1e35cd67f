#pragma once

#include <QMargins>
#include <Qt>

class QWidget;

namespace platform {

// The main windows have a fixed layout: they can be minimised and closed, not maximised.
inline constexpr Qt::WindowFlags kFixedWindowFlags =
    Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
    Qt::WindowCloseButtonHint;

// The frame the window manager gives the window around its client area. A shown window
// reports the frame it has; before it is shown, an X11 window manager that supports
// _NET_REQUEST_FRAME_EXTENTS is asked for the frame it will give, so the window can be placed
// by its outer size before it appears. Elsewhere (no window manager, offscreen) no margins.
QMargins windowFrameMargins(QWidget& window);

}  // namespace platform
