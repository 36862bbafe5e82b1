#include "bookurl.h"

#include <QFileInfo>
#include <QStringList>

namespace {

const QString kStoreTag = QStringLiteral("@MSITStore:");
const QString kSeparator = QStringLiteral("::");

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

} // namespace

QString makeBookUrl(const QString& bookPath, const QString& inBookPath)
{
    return BookLocation(bookPath, inBookPath).toStoreUrl();
}

QString bookFileAsNamed(const QString& written)
{
    if (written.contains(QLatin1Char('%')) && !QFileInfo::exists(written)) {
        const QString plain = decoded(written);
        if (QFileInfo::exists(plain))
            return plain;
    }
    return written;
}

QUrl urlFromText(const QString& text)
{
    const int head = bookUrlHeadLength(text);
    if (head == 0)
        return QUrl(text);
    int separator = int(text.indexOf(kSeparator, head));
    if (separator < 0)
        separator = int(text.size());
    const QString book = bookFileAsNamed(text.mid(head, separator - head));
    QString url = text.left(head);
    url += QString::fromLatin1(QUrl::toPercentEncoding(book, "/"));
    url += text.mid(separator);
    return QUrl(url, QUrl::TolerantMode);
}

bool splitBookUrl(const QUrl& url, QString* bookFile, QString* inBookPath, QString* encodedInBookPath)
{
    const QString scheme = url.scheme().toLower();
    QString rest = url.path(QUrl::FullyEncoded);
    QString inBook;
    if (scheme == QLatin1String("mk") && !rest.startsWith(kStoreTag, Qt::CaseInsensitive)) {
        // A "/"-rooted link resolved against a book URL: no book named.
        bookFile->clear();
        inBook = rest;
    } else {
        if (scheme == QLatin1String("mk"))
            rest.remove(0, kStoreTag.size());
        else if (scheme != QLatin1String("ms-its") && scheme != QLatin1String("its"))
            return false;
        // The book part is encoded by urlFromText, so the first "::" ends it. Some requests
        // repeat the whole head inside the path ("…::/@MSITStore:…::/style.css"): the page is
        // what follows the last separator.
        const int separator = int(rest.indexOf(kSeparator));
        *bookFile = decoded(separator < 0 ? rest : rest.left(separator));
        if (separator >= 0)
            inBook = rest.mid(rest.lastIndexOf(kSeparator) + kSeparator.size());
    }
    *inBookPath = decoded(inBook);
    if (encodedInBookPath)
        *encodedInBookPath = inBook;
    return true;
}

BookLocation bookLocationOf(const QUrl& bookUrl)
{
    QString bookFile;
    QString unused;
    QString inBook;
    if (!splitBookUrl(bookUrl, &bookFile, &unused, &inBook))
        return BookLocation::outside(bookUrl.toString());
    if (bookUrl.hasQuery())
        inBook += QLatin1Char('?') + bookUrl.query(QUrl::FullyEncoded);
    return BookLocation(bookFile, inBook, bookUrl.fragment(QUrl::FullyEncoded));
}

QString inBookPathOf(const QString& reportedUrl, const QString& bookPath)
{
    const BookLocation location = BookLocation::fromText(reportedUrl, bookPath);
    return location.isInBook(bookPath) ? location.pathWithFragment() : reportedUrl;
}
