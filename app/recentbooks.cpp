#include "recentbooks.h"

#include "readersettings.h"

#include <QFileInfo>

namespace {

const QString kKey = QStringLiteral("MainWindow/recentBooks");

} // namespace

namespace RecentBooks {

QStringList load()
{
    // A new store object reads what another window may have stored since. A list of one is
    // stored as plain text, which toStringList reads as well.
    QStringList books = readerSettings().value(kKey).toStringList();
    books.removeAll(QString());
    books.removeDuplicates();
    return books.mid(0, kMaxBooks);
}

void remember(const QString& path)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList books = load();
    books.removeAll(absolute);
    books.prepend(absolute);
    readerSettings().setValue(kKey, books.mid(0, kMaxBooks));
}

} // namespace RecentBooks
