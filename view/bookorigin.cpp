#include "bookorigin.h"

#include "bookidentity.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kPageScheme = QStringLiteral("pagewick-book");

} // namespace

QString pageScheme()
{
    return kPageScheme;
}

bool isPageScheme(const QString& scheme)
{
    return scheme.compare(kPageScheme, Qt::CaseInsensitive) == 0;
}

QString bookHost(const QString& bookFile)
{
    return BookIdentity::ofPath(bookFile).originHost();
}

void BookOrigins::setPreferredName(const QString& bookFile)
{
    if (!bookFile.isEmpty())
        m_books.insert(bookHost(bookFile), bookFile);
}

QString BookOrigins::registered(const QString& bookFile)
{
    const QString host = bookHost(bookFile);
    if (!m_books.contains(host))
        m_books.insert(host, bookFile);
    return host;
}

QString BookOrigins::bookOf(const QUrl& url) const
{
    return isPageScheme(url.scheme()) ? m_books.value(url.host()) : bookOfDocument(url);
}

void BookOrigins::registerDocument(const QUrl& bookUrl, const QString& bookFile)
{
    constexpr qsizetype kMaxDocuments = 512;
    if (m_documents.size() >= kMaxDocuments)
        m_documents.clear();
    m_documents.insert(bookUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment), bookFile);
}

QString BookOrigins::bookOfDocument(const QUrl& bookUrl) const
{
    if (bookUrl.isEmpty() || isPageScheme(bookUrl.scheme()))
        return {};
    return m_documents.value(bookUrl.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment));
}

QString BookOrigins::bookNamedBy(const BookLocation& place, const QString& relativeTo)
{
    if (!place.isValid())
        return {};
    if (place.bookFile().isEmpty())
        return relativeTo;
    QString bookFile = BookLocation::bookFileAsNamed(place.bookFile());
    if (QFileInfo(bookFile).isRelative()) {
        if (relativeTo.isEmpty())
            return {};
        bookFile = QDir(QFileInfo(relativeTo).absolutePath()).absoluteFilePath(bookFile);
    }
    return QDir::cleanPath(bookFile);
}

QUrl BookOrigins::pageUrl(const BookLocation& location, const QString& relativeTo)
{
    const QString bookFile = bookNamedBy(location, relativeTo);
    if (bookFile.isEmpty())
        return {};
    const QString path = location.path();
    const qsizetype query = path.indexOf(QLatin1Char('?'));
    QUrl url;
    url.setScheme(kPageScheme);
    url.setHost(registered(bookFile));
    url.setPath(query < 0 ? path : path.left(query), QUrl::TolerantMode);
    if (query >= 0)
        url.setQuery(path.mid(query + 1), QUrl::TolerantMode);
    if (!location.fragment().isEmpty())
        url.setFragment(location.fragment(), QUrl::TolerantMode);
    return url;
}

bool BookOrigins::isOwnBook(const QUrl& initiator, const QUrl& target) const
{
    const QString ownBook = bookOf(initiator);
    if (ownBook.isEmpty())
        return false;
    const QString ownHost = bookHost(ownBook);
    if (isPageScheme(target.scheme()))
        return target.host() == ownHost;
    const QString named = bookNamedBy(BookLocation::fromUrl(target), ownBook);
    return !named.isEmpty() && bookHost(named) == ownHost;
}

BookLocation BookOrigins::locationOf(const QUrl& url) const
{
    const QString bookFile = bookOf(url);
    if (bookFile.isEmpty())
        return BookLocation::outside(url.toString());
    if (isPageScheme(url.scheme()))
        return BookLocation(bookFile, url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
    // A document under a book URL: the same place as for its page address.
    const QString path = BookLocation::fromUrl(url).path().section(QLatin1Char('?'), 0, 0);
    QUrl rest;
    rest.setPath(QUrl::fromPercentEncoding(path.toUtf8()));
    if (url.hasQuery())
        rest.setQuery(url.query(QUrl::FullyEncoded), QUrl::StrictMode);
    if (url.hasFragment())
        rest.setFragment(url.fragment(QUrl::FullyEncoded), QUrl::StrictMode);
    return BookLocation(bookFile, rest.toString());
}
