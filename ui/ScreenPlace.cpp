#include "ui/ScreenPlace.h"

#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <tuple>

QMargins ScreenPlace::FrameOf(const QWidget* window)
{
    const QRect inner = window->geometry();
    const QRect outer = window->frameGeometry();
    const QMargins known(inner.left() - outer.left(), inner.top() - outer.top(),
        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    if (!known.isNull() || QGuiApplication::platformName() == QLatin1String("offscreen"))
        return known;
    // Not framed yet: the window manager's title bar and edges are not known before the first
    // showing, so room is left for a generous title bar; the real frame corrects it after.
    const qreal ratio = std::max<qreal>(window->devicePixelRatioF(), 1.0);
    const auto logical
        = [ratio](int devicePixels) { return static_cast<int>(std::ceil(devicePixels / ratio)); };
    return QMargins(
        logical(kGuessedEdge), logical(kGuessedTitleBar), logical(kGuessedEdge), logical(kGuessedEdge));
}

QPoint ScreenPlace::Beside(
    const QSize& framed, const QRect& window, const QRect& available, const std::vector<QRect>& keepClear)
{
    const auto area = [](const QRect& a, const QRect& b) {
        const QRect both = a.intersected(b);
        return both.isEmpty() ? qint64(0) : qint64(both.width()) * both.height();
    };
    const auto cost = [&](const QRect& place) {
        qint64 covered = 0;
        for (const QRect& kept : keepClear)
            covered += area(place, kept);
        const QPoint away = place.center() - window.center();
        return std::tuple(covered, area(place, window), away.manhattanLength());
    };
    QRect best(QPoint(), framed);
    best.moveCenter(window.center());
    // Every place within the screen on a grid, and the places touching the window's edges.
    std::vector<QPoint> corners {{window.right() + 1, window.top()}, {window.left(), window.bottom() + 1},
        {window.left() - framed.width(), window.top()}, {window.left(), window.top() - framed.height()}};
    const int lastX = available.right() - framed.width() + 1;
    const int lastY = available.bottom() - framed.height() + 1;
    for (int y = available.top(); y <= lastY; y += kStep) {
        for (int x = available.left(); x <= lastX; x += kStep)
            corners.emplace_back(x, y);
        corners.emplace_back(lastX, y);
    }
    for (int x = available.left(); x <= lastX; x += kStep)
        corners.emplace_back(x, lastY);
    bool found = false;
    decltype(cost(best)) bestCost {};
    for (const QPoint& corner : corners) {
        const QRect place(corner, framed);
        if (!available.contains(place))
            continue;
        const auto placeCost = cost(place);
        if (found && placeCost >= bestCost)
            continue;
        best = place;
        bestCost = placeCost;
        found = true;
    }
    if (!found) {
        // A screen smaller than the window: its top-left corner in view.
        best.moveLeft(std::max(available.left(), std::min(best.left(), lastX)));
        best.moveTop(std::max(available.top(), std::min(best.top(), lastY)));
    }
    return best.topLeft();
}
