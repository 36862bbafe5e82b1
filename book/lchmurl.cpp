#include "lchmurl.h"

#include <QStringDecoder>
#include <QStringList>

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

// Backslashes become "/", empty and "." segments go, ".." removes itself and the segment
// before it, and the result always starts with "/" and never ends with one (unless it is
// just "/"). The same path written relative or absolute, with either separator, gets the
// same key.
QString cleanInBookPath(const QString& path, AboveRoot aboveRoot = AboveRoot::Keep)
{
    QString text = path;
    text.replace(QLatin1Char('\\'), QLatin1Char('/'));

    QStringList segments;
    const auto parts = QStringView(text).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QStringView part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!segments.isEmpty() && segments.constLast() != QLatin1String(".."))
                segments.removeLast();
            else if (aboveRoot == AboveRoot::Keep)
                segments.append(QStringLiteral(".."));
            continue;
        }
        segments.append(part.toString());
    }
    return QLatin1Char('/') + segments.join(QLatin1Char('/'));
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
    return cleanInBookPath(url);
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
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));

    // A relative target starts in the sitemap's own folder.
    if (!path.startsWith(QLatin1Char('/'))) {
        QString folder = sitemapPath;
        folder.replace(QLatin1Char('\\'), QLatin1Char('/'));
        folder.truncate(folder.lastIndexOf(QLatin1Char('/')) + 1);
        path.prepend(folder);
    }
    return cleanInBookPath(path, AboveRoot::Clamp);
}
