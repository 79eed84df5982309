#pragma once

#include <QList>
#include <QRect>

// Keeps windows within reach when the screens differ from the last run (a
// monitor unplugged, a laptop without its external screen): a rectangle is
// judged against the available areas of all screens (without panels and docks).
namespace Screens {

// The available area of every screen, in the desktop's coordinates.
QList<QRect> availableAreas();

// The area `rect` overlaps most, or, when it overlaps none, the one with the
// smallest gap to it; an empty rectangle when there are no areas.
QRect nearestArea(const QRect& rect, const QList<QRect>& areas);

// `rect` moved the least to lie inside `area`; a side longer than the area's is
// cut to the area's.
QRect moveInside(const QRect& rect, const QRect& area);

// A restored rectangle: as it is when its grip (the band the window is moved
// by: a title bar, or a handle with buttons), given relative to the
// rectangle's top left corner, lies wholly on one area and at least half of
// the rectangle lies on the areas; otherwise moved inside the nearest area.
// A window that only touches a screen cannot be taken hold of.
QRect reachable(const QRect& rect, const QRect& grip, const QList<QRect>& areas);

// `rect` moved to lie entirely inside its nearest area.
QRect inside(const QRect& rect, const QList<QRect>& areas);

} // namespace Screens
