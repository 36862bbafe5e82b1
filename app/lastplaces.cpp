#include "lastplaces.h"

#include "bookidentity.h"

#include <QSettings>
#include <QVector>

#include <algorithm>

namespace {

const QString kEnabledKey = QStringLiteral("Reader/openWhereLeft");
// An array of entries, newest first, each with the keys below; readable in the settings file.
const QString kPlacesKey = QStringLiteral("Reader/lastPlaces");
const QString kPath = QStringLiteral("path");
const QString kSize = QStringLiteral("size");
const QString kModified = QStringLiteral("modified");
const QString kPage = QStringLiteral("page");
const QString kScroll = QStringLiteral("scroll");

struct Entry
{
    // The identity of a book file: canonical path, size, modification time (ms since 1970).
    QString path;
    qint64 size = -1;
    qint64 modified = -1;
    LastPlaces::Place place;
};

// The identity of the file at bookPath (BookIdentity); an empty path when there is no such file.
Entry identityOf(const QString& bookPath)
{
    const BookIdentity book = BookIdentity::ofPath(bookPath);
    Entry entry;
    if (book.stamp() != ItsfFileStamp()) {
        entry.path = book.canonicalPath();
        entry.size = qint64(book.stamp().size);
        entry.modified = book.stamp().modifiedNs / 1000000;
    }
    return entry;
}

QVector<Entry> readEntries(QSettings& settings)
{
    settings.sync();   // another window may have closed a book since
    QVector<Entry> entries;
    const int count = settings.beginReadArray(kPlacesKey);
    for (int i = 0; i < std::min(count, LastPlaces::kMaxBooks); ++i) {
        settings.setArrayIndex(i);
        entries.append({settings.value(kPath).toString(), settings.value(kSize, -1).toLongLong(),
                         settings.value(kModified, -1).toLongLong(),
                         {settings.value(kPage).toString(), settings.value(kScroll).toPoint()}});
    }
    settings.endArray();
    return entries;
}

void writeEntries(QSettings& settings, const QVector<Entry>& entries)
{
    settings.remove(kPlacesKey);
    settings.beginWriteArray(kPlacesKey, int(entries.size()));
    for (int i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries.at(i);
        settings.setArrayIndex(i);
        settings.setValue(kPath, entry.path);
        settings.setValue(kSize, entry.size);
        settings.setValue(kModified, entry.modified);
        settings.setValue(kPage, entry.place.page);
        settings.setValue(kScroll, entry.place.scroll);
    }
    settings.endArray();
    settings.sync();
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
    const Entry book = identityOf(bookPath);
    if (book.path.isEmpty())
        return std::nullopt;
    const QVector<Entry> entries = readEntries(settings);
    const auto kept = std::find_if(entries.cbegin(), entries.cend(),
                                   [&book](const Entry& entry) { return entry.path == book.path; });
    // A different size or modification time: another file at the same path.
    if (kept == entries.cend() || kept->size != book.size || kept->modified != book.modified || kept->place.page.isEmpty())
        return std::nullopt;
    return kept->place;
}

void remember(QSettings& settings, const QString& bookPath, const Place& place)
{
    Entry book = identityOf(bookPath);
    if (book.path.isEmpty())
        return;
    QVector<Entry> entries = readEntries(settings);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&book](const Entry& entry) { return entry.path == book.path; }),
                  entries.end());
    if (!place.page.isEmpty()) {
        book.place = place;
        entries.prepend(book);
    }
    if (entries.size() > kMaxBooks)
        entries.resize(kMaxBooks);
    writeEntries(settings, entries);
}

} // namespace LastPlaces
