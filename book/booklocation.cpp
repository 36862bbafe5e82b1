#include "booklocation.h"

#include <QFileInfo>
#include <QStringDecoder>
#include <QVarLengthArray>

#include <algorithm>
#include <initializer_list>

namespace {

// The heads of the book URL forms, each followed by a book file, "::" and an in-book path.
// Their schemes are the book schemes; "mk:" alone is followed by an in-book path of the
// current book.
const QLatin1String kStoreHead("mk:@MSITStore:");
const QLatin1String kOtherBookHead("ms-its:");
const QLatin1String kBookHeads[] = {kStoreHead, kOtherBookHead, QLatin1String("its:")};
const QString kSeparator = QStringLiteral("::");

// The schemes of the web.
const QStringList kWebSchemes = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("ftp")};

QLatin1String schemeOf(QLatin1String head)
{
    return QLatin1String(head.data(), head.indexOf(QLatin1Char(':')));
}

QString decoded(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

bool sameBook(const QString& written, const QString& bookFile)
{
    return !bookFile.isEmpty() && (written == bookFile || decoded(written) == bookFile);
}

// Links that leave the book: a web or news address ("scheme://", the scheme a run of word
// characters at the very start, in any case), a mail link, a script or another book's page.
bool leavesTheBook(const QString& url)
{
    if (url.startsWith(QLatin1String("mailto:")) || url.startsWith(QLatin1String("javascript://")))
        return true;
    if (url.startsWith(kOtherBookHead, Qt::CaseInsensitive) && url.indexOf(kSeparator, kOtherBookHead.size()) >= 0)
        return true;   // ms-its:<book>::<page>
    // Each of these schemes is a run of word characters, so the first "://" ends it.
    const QString scheme = url.left(std::max<qsizetype>(url.indexOf(QLatin1String("://")), 0));
    return isWebScheme(scheme) || scheme.compare(QLatin1String("news"), Qt::CaseInsensitive) == 0
        || scheme.compare(QLatin1String("mailto"), Qt::CaseInsensitive) == 0;
}

// What a ".." with nothing before it to remove does: stay (the plain rule), or vanish, so
// that the path never climbs above the book's root.
enum class AboveRoot { Keep, Clamp };

bool isSeparator(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

// Backslashes become "/", empty and "." segments go, ".." removes itself and the segment
// before it, and the result always starts with "/" and never ends with one (unless it is
// just "/"). The same path written relative or absolute, with either separator, gets the
// same key.
//
// The pieces are read as one path written in a row; each but the last ends at a separator
// (or is empty), so no segment runs from one piece into the next. The result is built in
// one string, a ".." cutting it back to where the segment before it began.
QString cleanInBookPath(std::initializer_list<QStringView> pieces, AboveRoot aboveRoot = AboveRoot::Keep)
{
    qsizetype total = 1;
    for (const QStringView piece : pieces)
        total += piece.size() + 1;
    QString out;
    out.reserve(total);
    QVarLengthArray<qsizetype, 32> starts;  // where each kept segment's "/" is in `out`

    for (const QStringView piece : pieces) {
        const qsizetype length = piece.size();
        qsizetype i = 0;
        while (i < length) {
            if (isSeparator(piece.at(i))) {
                ++i;
                continue;
            }
            qsizetype end = i + 1;
            while (end < length && !isSeparator(piece.at(end)))
                ++end;
            const QStringView part = piece.mid(i, end - i);
            i = end;
            if (part == QLatin1String("."))
                continue;
            if (part == QLatin1String("..")) {
                if (!starts.isEmpty() && QStringView(out).mid(starts.last() + 1) != QLatin1String("..")) {
                    out.truncate(starts.last());
                    starts.removeLast();
                } else if (aboveRoot == AboveRoot::Keep) {
                    starts.append(out.size());
                    out += QLatin1String("/..");
                }
                continue;
            }
            starts.append(out.size());
            out += QLatin1Char('/');
            out += part;
        }
    }
    if (out.isEmpty())
        out = QStringLiteral("/");
    return out;
}

} // namespace

// The length of the head of a book URL text (any of kBookHeads, in any case), or 0 when the
// text is not written as one.
int bookUrlHeadLength(const QString& text)
{
    for (const QLatin1String head : kBookHeads) {
        if (text.startsWith(head, Qt::CaseInsensitive))
            return int(head.size());
    }
    return 0;
}

QStringList bookSchemes()
{
    QStringList schemes;
    for (const QLatin1String head : kBookHeads)
        schemes << schemeOf(head);
    return schemes;
}

bool isBookScheme(const QString& scheme)
{
    static const QStringList schemes = bookSchemes();
    return schemes.contains(scheme, Qt::CaseInsensitive);
}

bool isWebScheme(const QString& scheme)
{
    return kWebSchemes.contains(scheme, Qt::CaseInsensitive);
}

bool isWholeUrl(const QString& text)
{
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QString scheme = text.left(colon);
    return isBookScheme(scheme) || isWebScheme(scheme) || scheme.compare(QLatin1String("about"), Qt::CaseInsensitive) == 0;
}

QString makeAbsolutePath(const QString& url)
{
    if (leavesTheBook(url))
        return url;
    return cleanInBookPath({ url });
}

QString resolveSitemapTarget(const QString& target, const QString& sitemapPath)
{
    if (leavesTheBook(target))
        return target;

    // Escapes such as %20 are decoded once, as UTF-8 (the encoding of the book's object
    // names). Escapes that do not form UTF-8 leave the text as it was written.
    QString path = target;
    if (path.contains(QLatin1Char('%'))) {
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(QByteArray::fromPercentEncoding(path.toUtf8()));
        if (!utf8.hasError())
            path = decoded;
    }
    // A relative target starts in the sitemap's own folder.
    QStringView folder;
    if (path.isEmpty() || !isSeparator(path.at(0)))
        folder = QStringView(sitemapPath).first(1 + std::max(sitemapPath.lastIndexOf(QLatin1Char('/')),
                                                             sitemapPath.lastIndexOf(QLatin1Char('\\'))));
    return cleanInBookPath({ folder, path }, AboveRoot::Clamp);
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
        if (text.startsWith(QString(schemeOf(kStoreHead)) + QLatin1Char(':'), Qt::CaseInsensitive))   // "mk:/images/a.gif"
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

BookLocation BookLocation::fromUrl(const QUrl& url)
{
    const QString scheme = url.scheme();
    QString rest = url.path(QUrl::FullyEncoded);
    const QLatin1String storeTag = kStoreHead.mid(schemeOf(kStoreHead).size() + 1);   // "@MSITStore:"
    const bool store = scheme.compare(schemeOf(kStoreHead), Qt::CaseInsensitive) == 0;
    QString bookFile;
    QString inBook;
    if (store && !rest.startsWith(storeTag, Qt::CaseInsensitive)) {
        inBook = rest;   // a "/"-rooted link resolved against a book URL: no book named
    } else {
        if (!isBookScheme(scheme))
            return outside(url.toString());
        if (store)
            rest.remove(0, storeTag.size());
        // The book part is encoded by urlFromText, so the first "::" ends it.
        const qsizetype separator = rest.indexOf(kSeparator);
        bookFile = decoded(separator < 0 ? rest : rest.left(separator));
        if (separator >= 0)
            inBook = rest.mid(rest.lastIndexOf(kSeparator) + kSeparator.size());
    }
    if (url.hasQuery())
        inBook += QLatin1Char('?') + url.query(QUrl::FullyEncoded);
    return BookLocation(bookFile, inBook, url.fragment(QUrl::FullyEncoded));
}

QUrl BookLocation::urlFromText(const QString& text)
{
    const int head = bookUrlHeadLength(text);
    if (head == 0)
        return QUrl(text);
    qsizetype separator = text.indexOf(kSeparator, head);
    if (separator < 0)
        separator = text.size();
    const QString book = bookFileAsNamed(text.mid(head, separator - head));
    QString url = text.left(head);
    url += QString::fromLatin1(QUrl::toPercentEncoding(book, "/"));
    url += QStringView(text).mid(separator);
    return QUrl(url, QUrl::TolerantMode);
}

QString BookLocation::bookFileAsNamed(const QString& written)
{
    if (written.contains(QLatin1Char('%')) && !QFileInfo::exists(written)) {
        const QString plain = decoded(written);
        if (QFileInfo::exists(plain))
            return plain;
    }
    return written;
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
        return QString(schemeOf(kStoreHead)) + QLatin1Char(':') + pathWithFragment();
    return QString(kStoreHead) + m_bookFile + kSeparator + pathWithFragment();
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
