#include "ui/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace nimbrel::ui {

namespace {

// A title bar and thin borders: what a window not shown yet is assumed to get.
constexpr QMargins kEstimatedFrame(4, 30, 4, 4);

// The last frame the window system really drew; before any, the estimate.
QMargins& KnownFrame() {
    static QMargins known = kEstimatedFrame;
    return known;
}

QRect FrameOf(const QWidget& window, const QPoint& frameCorner) {
    const QMargins margins = FrameMargins(window);
    return QRect(frameCorner, window.size().grownBy(margins));
}

}  // namespace

QMargins FrameMargins(const QWidget& window) {
    if (window.isVisible()) {
        const QRect frame = window.frameGeometry();
        const QRect client = window.geometry();
        // A window manager that has not framed the window yet reports the client area alone.
        if (frame.contains(client) && frame != client) {
            KnownFrame() = QMargins(client.left() - frame.left(), client.top() - frame.top(),
                                    frame.right() - client.right(), frame.bottom() - client.bottom());
            return KnownFrame();
        }
    }
    return KnownFrame();
}

QScreen* ScreenShowing(const QRect& frame) {
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(frame);
        const qint64 area = static_cast<qint64>(shown.width()) * shown.height();
        if (!shown.isEmpty() && area > bestArea) {
            best = screen;
            bestArea = area;
        }
    }
    return best;
}

QRect KeptInside(const QRect& frame, const QRect& area) {
    QRect kept = frame;
    if (kept.right() > area.right()) kept.moveRight(area.right());
    if (kept.bottom() > area.bottom()) kept.moveBottom(area.bottom());
    if (kept.left() < area.left()) kept.moveLeft(area.left());
    if (kept.top() < area.top()) kept.moveTop(area.top());
    return kept;
}

QSize LargestClientSize(const QWidget& window, const QScreen* screen) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // A window not shown yet is fitted with the estimate alone, so that it gets the same size at
    // every start, whatever other windows have shown meanwhile.
    const QMargins margins = window.isVisible() ? FrameMargins(window) : kEstimatedFrame;
    return screen->availableGeometry().size().shrunkBy(margins).expandedTo(QSize(1, 1));
}

void CentreOnScreen(QWidget& window, const QScreen* screen) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    QRect frame = FrameOf(window, QPoint());
    frame.moveCenter(area.center());
    window.move(KeptInside(frame, area).topLeft());
}

void KeepOnScreen(QWidget& window) {
    const QRect frame = FrameOf(window, window.pos());
    const QScreen* screen = ScreenShowing(frame);
    if (!screen) screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect kept = KeptInside(frame, screen->availableGeometry());
    if (kept.topLeft() != frame.topLeft()) window.move(kept.topLeft());
}

}  // namespace nimbrel::ui
