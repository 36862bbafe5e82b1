#include "lastplaces.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSettings>
#include <QVariantMap>

#include <algorithm>

namespace {

const QString kEnabledKey = QStringLiteral("Reader/openWhereLeft");
const QString kPlacesKey = QStringLiteral("Reader/lastPlaces");
const QString kPath = QStringLiteral("path");
const QString kSize = QStringLiteral("size");
const QString kModified = QStringLiteral("modified");
const QString kPage = QStringLiteral("page");
const QString kScroll = QStringLiteral("scroll");

// The identity of the file at bookPath: canonical path, size, modification time; an empty
// path when there is no such file.
QVariantMap identityOf(const QString& bookPath)
{
    const QFileInfo file(bookPath);
    const QString canonical = file.canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    return {{kPath, canonical}, {kSize, file.size()},
            {kModified, file.lastModified().toMSecsSinceEpoch()}};
}

bool sameIdentity(const QVariantMap& entry, const QVariantMap& identity)
{
    return entry.value(kPath).toString() == identity.value(kPath).toString()
        && entry.value(kSize).toLongLong() == identity.value(kSize).toLongLong()
        && entry.value(kModified).toLongLong() == identity.value(kModified).toLongLong();
}

QVariantList storedPlaces(QSettings& settings)
{
    settings.sync();   // another window may have closed a book since
    return settings.value(kPlacesKey).toList();
}

} // namespace

namespace LastPlaces {

bool enabled(QSettings& settings)
{
    return settings.value(kEnabledKey, true).toBool();
}

void setEnabled(QSettings& settings, bool on)
{
    settings.setValue(kEnabledKey, on);
    settings.sync();
}

std::optional<Place> find(QSettings& settings, const QString& bookPath)
{
    const QVariantMap identity = identityOf(bookPath);
    if (identity.isEmpty())
        return std::nullopt;
    for (const QVariant& stored : storedPlaces(settings)) {
        const QVariantMap entry = stored.toMap();
        if (entry.value(kPath).toString() != identity.value(kPath).toString())
            continue;
        if (!sameIdentity(entry, identity) || entry.value(kPage).toString().isEmpty())
            return std::nullopt;
        return Place{entry.value(kPage).toString(), entry.value(kScroll).toPoint()};
    }
    return std::nullopt;
}

void remember(QSettings& settings, const QString& bookPath, const Place& place)
{
    QVariantMap entry = identityOf(bookPath);
    if (entry.isEmpty())
        return;
    QVariantList places = storedPlaces(settings);
    places.erase(std::remove_if(places.begin(), places.end(),
                                [&entry](const QVariant& stored) {
                                    return stored.toMap().value(kPath).toString() == entry.value(kPath).toString();
                                }),
                 places.end());
    if (!place.page.isEmpty()) {
        entry.insert(kPage, place.page);
        entry.insert(kScroll, place.scroll);
        places.prepend(entry);
    }
    while (places.size() > kMaxBooks)
        places.removeLast();
    settings.setValue(kPlacesKey, places);
    settings.sync();
}

} // namespace LastPlaces
