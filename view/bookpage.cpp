#include "bookpage.h"

#include "lchmfile.h"

namespace {

// How much of a page is searched for a declared character set, as browsers do.
constexpr qsizetype kCharsetScanBytes = 1024;

bool declaresCharset(const QByteArray& data)
{
    if (data.startsWith("\xEF\xBB\xBF") || data.startsWith("\xFF\xFE") || data.startsWith("\xFE\xFF"))
        return true;
    const QByteArray head = data.left(kCharsetScanBytes).toLower();
    return head.contains("charset") || head.contains("encoding=");
}

} // namespace

bool readBookObject(LCHMFile& book, const QUrl& url, const QString& inBookPath, QByteArray* data)
{
    if (book.readFileBytes(data, inBookPath))
        return true;
    const QString asWritten = url.path(QUrl::FullyEncoded).section(QStringLiteral("::"), -1);
    return asWritten != inBookPath && book.readFileBytes(data, asWritten);
}

QByteArray contentTypeWithCharset(const QByteArray& type, const QByteArray& data, const QByteArray& codecName)
{
    if (type != "text/html" || codecName.isEmpty() || declaresCharset(data))
        return type;
    return type + "; charset=" + codecName;
}
