#include "booklocation.h"

#include "lchmurl.h"

#include <QUrl>

namespace {

const QString kStorePrefix = QStringLiteral("mk:@MSITStore:");
const QString kSeparator = QStringLiteral("::");

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

bool sameBook(const QString& written, const QString& bookFile)
{
    return !bookFile.isEmpty() && (written == bookFile || decoded(written) == bookFile);
}

} // namespace

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

bool isWholeUrl(const QString& text)
{
    for (const QLatin1String scheme : {QLatin1String("mk:"), QLatin1String("ms-its:"), QLatin1String("its:"),
                                       QLatin1String("http:"), QLatin1String("https:"), QLatin1String("ftp:"),
                                       QLatin1String("about:")}) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

BookLocation::BookLocation(const QString& bookFile, const QString& path, const QString& fragment)
    : m_kind(Kind::InBook), m_bookFile(bookFile), m_fragment(fragment)
{
    QString rest = path;
    const qsizetype hash = rest.indexOf(QLatin1Char('#'));
    if (hash >= 0) {
        if (m_fragment.isEmpty())
            m_fragment = rest.mid(hash + 1);
        rest.truncate(hash);
    }
    // The query is kept as written: only the path before it is cleaned.
    const qsizetype query = rest.indexOf(QLatin1Char('?'));
    m_path = makeAbsolutePath(query < 0 ? rest : rest.left(query));
    if (!m_path.startsWith(QLatin1Char('/')))   // a look-alike of a web or mail link
        m_path.prepend(QLatin1Char('/'));
    if (query >= 0)
        m_path += QStringView(rest).mid(query);
}

BookLocation BookLocation::outside(const QString& address)
{
    BookLocation location;
    if (!address.isEmpty()) {
        location.m_kind = Kind::Outside;
        location.m_address = address;
    }
    return location;
}

BookLocation BookLocation::fromText(const QString& text, const QString& currentBook)
{
    if (text.isEmpty())
        return {};
    const int head = bookUrlHeadLength(text);
    if (head == 0) {
        if (text.startsWith(QLatin1String("mk:"), Qt::CaseInsensitive))   // "mk:/images/a.gif"
            return BookLocation(currentBook, text.mid(3));
        if (isWholeUrl(text))
            return outside(text);
        return BookLocation(currentBook, text);
    }
    const QString rest = text.mid(head);
    // The current book may hold "::" in a folder name, and may be written encoded: try every
    // separator for it before taking the first as the end of the book part.
    for (qsizetype at = rest.indexOf(kSeparator); at >= 0; at = rest.indexOf(kSeparator, at + 1)) {
        if (sameBook(rest.left(at), currentBook))
            return BookLocation(currentBook, rest.mid(at + kSeparator.size()));
    }
    const qsizetype separator = rest.indexOf(kSeparator);
    if (separator < 0)
        return BookLocation(sameBook(rest, currentBook) ? currentBook : rest, QString());
    return BookLocation(rest.left(separator), rest.mid(separator + kSeparator.size()));
}

bool BookLocation::isInBook(const QString& bookFile) const
{
    return isValid() && sameBook(m_bookFile, bookFile);
}

QString BookLocation::pathWithFragment() const
{
    if (!isValid())
        return {};
    return m_fragment.isEmpty() ? m_path : m_path + QLatin1Char('#') + m_fragment;
}

QString BookLocation::toStoreUrl() const
{
    if (!isValid())
        return {};
    if (m_bookFile.isEmpty())
        return QStringLiteral("mk:") + pathWithFragment();
    return kStorePrefix + m_bookFile + kSeparator + pathWithFragment();
}

QString BookLocation::toOtherBookUrl() const
{
    if (!isValid())
        return {};
    return QStringLiteral("ms-its:") + m_bookFile + kSeparator + pathWithFragment();
}

QString BookLocation::toText(const QString& currentBook) const
{
    if (!isValid())
        return address();
    return isInBook(currentBook) ? pathWithFragment() : toStoreUrl();
}

QString BookLocation::toAddress() const
{
    return isValid() ? toStoreUrl() : address();
}

bool BookLocation::operator==(const BookLocation& other) const
{
    return m_kind == other.m_kind && m_bookFile == other.m_bookFile && m_path == other.m_path
        && m_fragment == other.m_fragment && m_address == other.m_address;
}
