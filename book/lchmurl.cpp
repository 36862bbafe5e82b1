#include "lchmurl.h"

#include <QStringDecoder>
#include <QStringList>
#include <QVarLengthArray>

#include <initializer_list>

namespace {

// The schemes whose links leave the book for the web or a mail client.
bool isRemoteScheme(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("ftp")
        || scheme == QLatin1String("mailto") || scheme == QLatin1String("news");
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

bool isRemoteUrl(const QString& url)
{
    if (url.startsWith(QLatin1String("mailto:")))
        return true;

    // A scheme is a run of word characters at the very start, followed by "://".
    qsizetype end = 0;
    while (end < url.size() && (url.at(end).isLetterOrNumber() || url.at(end) == QLatin1Char('_')))
        ++end;
    if (end == 0 || !QStringView(url).mid(end).startsWith(QLatin1String("://")))
        return false;
    return isRemoteScheme(url.left(end).toLower());
}

bool isJavascriptUrl(const QString& url)
{
    return url.startsWith(QLatin1String("javascript://"));
}

bool isOtherBookUrl(const QString& url)
{
    // ms-its:<book>::<page>, the book part running to the last "::".
    static const QLatin1String prefix("ms-its:");
    return url.startsWith(prefix, Qt::CaseInsensitive) && url.indexOf(QLatin1String("::"), prefix.size()) >= 0;
}

QString makeAbsolutePath(const QString& url)
{
    if (isRemoteUrl(url) || isJavascriptUrl(url) || isOtherBookUrl(url))
        return url;
    return cleanInBookPath({ url });
}

QString resolveSitemapTarget(const QString& target, const QString& sitemapPath)
{
    if (isRemoteUrl(target) || isJavascriptUrl(target) || isOtherBookUrl(target))
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
    if (path.isEmpty() || !isSeparator(path.at(0))) {
        folder = QStringView(sitemapPath);
        qsizetype slash = folder.size() - 1;
        while (slash >= 0 && !isSeparator(folder.at(slash)))
            --slash;
        folder.truncate(slash + 1);
    }
    return cleanInBookPath({ folder, path }, AboveRoot::Clamp);
}
