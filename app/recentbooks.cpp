#include "recentbooks.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const QString kKey = QStringLiteral("MainWindow/recentBooks");

} // namespace

namespace RecentBooks {

QStringList load(QSettings& settings)
{
    settings.sync();  // another window may have opened a book since
    QStringList books;
    // A list of one is stored as plain text, which toStringList reads as well.
    for (const QString& path : settings.value(kKey).toStringList()) {
        if (!path.isEmpty() && !books.contains(path))
            books.append(path);
        if (books.size() == kMaxBooks)
            break;
    }
    return books;
}

void remember(QSettings& settings, const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList books = load(settings);
    books.removeAll(absolute);
    books.prepend(absolute);
    while (books.size() > kMaxBooks)
        books.removeLast();
    settings.setValue(kKey, books);
    settings.sync();
}

} // namespace RecentBooks
