// Where windows go on the screen: the frame the window manager puts around a window, and the
// place for a dialog that opens beside a window without covering what must stay in view. All in
// the screen's logical pixels; nothing here moves a window.
//
// Threads: the interface thread.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

class ScreenPlace {
public:
    // The frame's edges around `window`: as the window manager drew them, or before it has, room
    // for a generous title bar and edges (none on the offscreen platform, which draws no frame).
    static QMargins FrameOf(const QWidget* window);

    // The top-left corner of a framed window of `framed` size within `available`: the place
    // covering the least of `keepClear`, then the least of `window`, then nearest to `window`,
    // tried on a grid of kStep pixels and touching each of the window's edges. On a screen smaller
    // than it, the window's top-left corner in view.
    static QPoint Beside(const QSize& framed, const QRect& window, const QRect& available,
        const std::vector<QRect>& keepClear);

private:
    // The frame assumed before the window manager has drawn one, in device pixels.
    static constexpr int kGuessedTitleBar = 40;
    static constexpr int kGuessedEdge = 6;
    static constexpr int kStep = 8;
};
