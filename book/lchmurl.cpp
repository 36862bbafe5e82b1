#include "lchmurl.h"

#include <QStringList>

namespace {

// The schemes whose links leave the book for the web or a mail client.
bool isRemoteScheme(const QString& scheme)
{
    return scheme == QLatin1String("http") || scheme == QLatin1String("ftp")
        || scheme == QLatin1String("mailto") || scheme == QLatin1String("news");
}

// Backslashes become "/", empty and "." segments go, ".." removes itself and the segment
// before it (a ".." with nothing removable before it stays), and the result always starts
// with "/" and never ends with one (unless it is just "/"). The same path written relative
// or absolute, with either separator, gets the same key.
QString cleanInBookPath(const QString& path)
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
            else
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
