#pragma once

#include <QPoint>
#include <QString>

#include <optional>

class QSettings;

// Where the reader left each book: its last page and scroll position, kept in the reader's own
// settings (group "Reader", never in the book file, which may be read-only and holds the
// notes). A book is known by its identity: its canonical path, then its size and modification
// time; a different file at the same path (a new edition copied over the old one) has no place.
// At most kMaxBooks books are kept, the least recently used dropped first. Several windows share
// the list, so every change reads the stored list again before writing it.
namespace LastPlaces {

constexpr int kMaxBooks = 200;

struct Place
{
    QString page;     // in-book path and "#fragment", as a BookLocation path holds it
    QPoint scroll;
};

// "Open books where I left them" (on unless the reader turned it off).
bool enabled(QSettings& settings);
void setEnabled(QSettings& settings, bool on);

// The place kept for the book file at bookPath; none when the file is not the one the place
// was kept for, or none was kept.
std::optional<Place> find(QSettings& settings, const QString& bookPath);
// Keeps place for the book file as it is now on disk (call it after the book was last written
// to), as the most recently used; an empty page forgets the book instead.
void remember(QSettings& settings, const QString& bookPath, const Place& place);

} // namespace LastPlaces
