#include "windowgeometry.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace {

// How much of the frame's top edge must be on a screen for the reader to grab and move it.
constexpr int kGripWidth = 64;
constexpr int kGripHeight = 24;

bool reachable(const QRect& frame, const QList<QRect>& areas)
{
    const QRect top(frame.topLeft(), QSize(frame.width(), kGripHeight));
    return std::any_of(areas.begin(), areas.end(), [&top](const QRect& area) {
        const QRect seen = area.intersected(top);
        return seen.width() >= std::min(kGripWidth, top.width()) && seen.height() >= std::min(kGripHeight, top.height());
    });
}

} // namespace

QRect chooseWindowGeometry(std::optional<QSize> storedSize, std::optional<QPoint> storedPos,
                           const QList<QRect>& availableAreas)
{
    if (availableAreas.isEmpty())
        return QRect(storedPos.value_or(QPoint(50, 50)), storedSize.value_or(QSize(700, 500)));
    const QRect primary = availableAreas.constFirst();
    QSize size = storedSize && storedSize->isValid() ? *storedSize : QSize(primary.width() * 3 / 4, primary.height() * 3 / 4);
    if (!storedPos) {
        QRect centred(QPoint(), size.boundedTo(primary.size()));
        centred.moveCenter(primary.center());
        return centred;
    }
    const QRect frame(*storedPos, size);
    if (reachable(frame, availableAreas))
        return frame;
    size = size.boundedTo(primary.size());
    const QPoint pulled(std::clamp(storedPos->x(), primary.left(), primary.right() + 1 - size.width()),
                        std::clamp(storedPos->y(), primary.top(), primary.bottom() + 1 - size.height()));
    return QRect(pulled, size);
}

QList<QRect> availableScreenAreas()
{
    QList<QRect> areas;
    if (QScreen* primary = QGuiApplication::primaryScreen())
        areas.append(primary->availableGeometry());
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen())
            areas.append(screen->availableGeometry());
    }
    return areas;
}
