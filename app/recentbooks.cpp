#include "recentbooks.h"

#include "readersettings.h"

#include <QFileInfo>

namespace {

const QString kKey = QStringLiteral("MainWindow/recentBooks");

} // namespace

namespace RecentBooks {

QStringList load()
{
    QStringList books;
    // A new store object reads what another window may have stored since. A list of one is
    // stored as plain text, which toStringList reads as well.
    for (const QString& path : readerSettings().value(kKey).toStringList()) {
        if (!path.isEmpty() && !books.contains(path))
            books.append(path);
        if (books.size() == kMaxBooks)
            break;
    }
    return books;
}

void remember(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList books = load();
    books.removeAll(absolute);
    books.prepend(absolute);
    while (books.size() > kMaxBooks)
        books.removeLast();
    readerSettings().setValue(kKey, books);
}

} // namespace RecentBooks
