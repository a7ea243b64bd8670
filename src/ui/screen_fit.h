#pragma once
// Keeping windows on the screen: where a window's frame lies, which screen shows it, and how to
// move (and, for a window of fixed size, shrink) it so that all of it, title bar included, stays
// inside a screen's available area.

#include <QMargins>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace nimbrel::ui {

// The frame the window system draws around `window`'s client area: the real one once the window
// has been shown with a frame, else the last real one any window had, else an estimate.
QMargins FrameMargins(const QWidget& window);

// The screen whose available area holds the largest part of `frame`; null when none holds any.
QScreen* ScreenShowing(const QRect& frame);

// `frame` moved (not resized) to lie inside `area`: a frame larger than the area keeps its top
// left corner in the area's, so the title bar stays reachable.
QRect KeptInside(const QRect& frame, const QRect& area);

// The largest client area that fits `screen`'s available area together with the window's frame
// (for a window not shown yet, an estimated frame, the same at every start).
QSize LargestClientSize(const QWidget& window, const QScreen* screen);

// Moves a window that is not shown yet so that its frame is centred in the available area of
// `screen` (the primary screen when null), never above or left of that area.
void CentreOnScreen(QWidget& window, const QScreen* screen);

// Moves a window whose frame reaches out of every screen's available area back inside the area
// of the screen that shows most of it.
void KeepOnScreen(QWidget& window);

}  // namespace nimbrel::ui
