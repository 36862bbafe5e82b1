#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

// Where the main window opens, chosen from the stored size and position and the screens'
// available areas alone, so that it can be checked without screens.
//
// - No stored size: three quarters of the first area's width and height (the primary screen).
// - No stored position: centred on the first area.
// - A stored frame that shows less than a grip of its top edge (where the title bar is) on
//   every area, a monitor since removed for instance, is pulled back onto the first area,
//   shrunk to fit it. Otherwise stored values are used as they are.
// No areas at all (no screen yet): the stored values, or 700x500 at (50, 50).
QRect chooseWindowGeometry(std::optional<QSize> storedSize, std::optional<QPoint> storedPos,
                           const QList<QRect>& availableAreas);

// The available areas of the screens there are, the primary screen's first.
QList<QRect> availableScreenAreas();
