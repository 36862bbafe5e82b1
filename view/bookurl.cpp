#include "bookurl.h"

#include <QFileInfo>
#include <QStringList>

namespace {

const QString kStorePrefix = QStringLiteral("mk:@MSITStore:");
const QString kStoreTag = QStringLiteral("@MSITStore:");
const QString kSeparator = QStringLiteral("::");

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

// The length of the scheme-and-tag head of a book URL text ("mk:@MSITStore:", "ms-its:",
// "its:"), or 0 when the text is not written as one.
int bookUrlHeadLength(const QString& text)
{
    if (text.startsWith(kStorePrefix, Qt::CaseInsensitive))
        return int(kStorePrefix.size());
    for (const QLatin1String head : {QLatin1String("ms-its:"), QLatin1String("its:")}) {
        if (text.startsWith(head, Qt::CaseInsensitive))
            return int(head.size());
    }
    return 0;
}

} // namespace

QString makeBookUrl(const QString& bookPath, const QString& inBookPath)
{
    return kStorePrefix + bookPath + kSeparator + inBookPath;
}

bool isWholeUrl(const QString& text)
{
    static const QStringList schemes = {
        QStringLiteral("mk:"), QStringLiteral("ms-its:"), QStringLiteral("its:"),
        QStringLiteral("http:"), QStringLiteral("https:"), QStringLiteral("ftp:"),
        QStringLiteral("about:"),
    };
    for (const QString& scheme : schemes) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QUrl urlFromText(const QString& text)
{
    const int head = bookUrlHeadLength(text);
    if (head == 0)
        return QUrl(text);
    int separator = int(text.indexOf(kSeparator, head));
    if (separator < 0)
        separator = int(text.size());
    QString book = text.mid(head, separator - head);
    // A book part copied from a URL the browser reported may still be percent-encoded ('#'
    // and '%' stay encoded there); take it decoded when only that form names a file.
    if (book.contains(QLatin1Char('%')) && !QFileInfo::exists(book)) {
        const QString plain = decoded(book);
        if (QFileInfo::exists(plain))
            book = plain;
    }
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

QString inBookPathOf(const QString& reportedUrl, const QString& bookPath)
{
    if (!reportedUrl.startsWith(kStorePrefix, Qt::CaseInsensitive))
        return reportedUrl;
    const QString rest = reportedUrl.mid(kStorePrefix.size());
    // Try every separator: a folder name may hold "::" itself.
    for (int at = int(rest.indexOf(kSeparator)); at >= 0; at = int(rest.indexOf(kSeparator, at + 1))) {
        const QString book = rest.left(at);
        if (book == bookPath || decoded(book) == bookPath)
            return rest.mid(at + kSeparator.size());
    }
    return reportedUrl;
}
