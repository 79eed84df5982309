#include "desktop/screens.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace Screens {

namespace {

// Squared length of the gap between two rectangles; 0 when they touch or overlap.
qint64 gap(const QRect& a, const QRect& b) {
    const qint64 dx = std::max({0, a.left() - (b.x() + b.width()), b.left() - (a.x() + a.width())});
    const qint64 dy = std::max({0, a.top() - (b.y() + b.height()), b.top() - (a.y() + a.height())});
    return dx * dx + dy * dy;
}

qint64 overlap(const QRect& a, const QRect& b) {
    const QRect common = a.intersected(b);
    return common.isEmpty() ? 0 : qint64(common.width()) * common.height();
}

} // namespace

QList<QRect> availableAreas() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens())
        areas << screen->availableGeometry();
    return areas;
}

QRect nearestArea(const QRect& rect, const QList<QRect>& areas) {
    QRect best;
    qint64 bestOverlap = 0;
    qint64 bestGap = -1;
    for (const QRect& area : areas) {
        const qint64 shared = overlap(rect, area);
        const qint64 distance = gap(rect, area);
        if (shared > bestOverlap || (bestOverlap == 0 && shared == 0 && (bestGap < 0 || distance < bestGap))) {
            best = area;
            bestOverlap = shared;
            bestGap = distance;
        }
    }
    return best;
}

QRect moveInside(const QRect& rect, const QRect& area) {
    const int width = std::min(rect.width(), area.width());
    const int height = std::min(rect.height(), area.height());
    const int x = std::clamp(rect.x(), area.x(), area.x() + area.width() - width);
    const int y = std::clamp(rect.y(), area.y(), area.y() + area.height() - height);
    return QRect(x, y, width, height);
}

QRect reachable(const QRect& rect, const QRect& grip, const QList<QRect>& areas) {
    const QRect band = grip.translated(rect.topLeft());
    qint64 shown = 0;
    bool held = false;
    for (const QRect& area : areas) {
        shown += overlap(rect, area);
        held = held || area.contains(band);
    }
    if (held && 2 * shown >= qint64(rect.width()) * rect.height())
        return rect;
    // Moved with its grip, which may lie outside it (a title bar above the window).
    const QRect whole = rect.united(band);
    const QRect placed = inside(whole, areas);
    return QRect(placed.topLeft() + (rect.topLeft() - whole.topLeft()), rect.size() - (whole.size() - placed.size()));
}

QRect inside(const QRect& rect, const QList<QRect>& areas) {
    const QRect area = nearestArea(rect, areas);
    return area.isEmpty() ? rect : moveInside(rect, area);
}

} // namespace Screens
