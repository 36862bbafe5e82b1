#include "commandline.h"

#include "booklocation.h"
#include "startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

const QString kSeparator = QStringLiteral("::");

QString decodedOnce(const QString& text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

// A decoded in-book path or fragment in the form a BookLocation keeps: as the page's address
// reads, with '%', '#' and '?' written escaped.
QString asAddressText(const QString& decoded, bool fragment)
{
    QUrl url;
    if (fragment)
        url.setFragment(decoded, QUrl::DecodedMode);
    else
        url.setPath(decoded, QUrl::DecodedMode);
    return fragment ? url.fragment() : url.path(QUrl::PrettyDecoded);
}

bool readContextNumber(const QString& text, quint32* number)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    *number = (hex ? text.mid(2) : text).toUInt(&ok, hex ? 16 : 10);
    return ok && !text.startsWith(QLatin1Char('+')) && !text.startsWith(QLatin1Char('-'));
}

// The first argument, read as a book or a topic of a book.
void readTarget(const QString& argument, StartRequest* request)
{
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QUrl fileUrl(argument);
        if (fileUrl.isLocalFile() && isBookName(fileUrl.toLocalFile())) {
            request->bookPath = fileUrl.toLocalFile();
            return;
        }
    }
    const bool link = bookUrlHeadLength(argument) > 0 || argument.contains(kSeparator);
    if (isBookName(argument) && (!link || QFileInfo::exists(argument))) {
        request->bookPath = argument;   // a book name, used as it stands
        return;
    }
    if (!link) {
        request->kind = StartRequest::Kind::NotABook;
        return;
    }
    const BookLocation place =
        BookLocation::fromText(bookUrlHeadLength(argument) > 0 ? argument : QStringLiteral("ms-its:") + argument);
    const QString book = decodedOnce(place.bookFile());
    if (!isBookName(book)) {
        request->kind = StartRequest::Kind::NotABook;
        return;
    }
    request->bookPath = QDir::cleanPath(QDir::current().absoluteFilePath(book));
    const QString path = asAddressText(decodedOnce(place.path()), false);
    if (path != QLatin1String("/") || !place.fragment().isEmpty()) {
        const QString fragment = asAddressText(decodedOnce(place.fragment()), true);
        request->topic = BookLocation(request->bookPath, path, fragment).pathWithFragment();
    }
}

} // namespace

StartRequest parseCommandLine(const QStringList& arguments)
{
    StartRequest request;
    bool options = true;
    bool targetSeen = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (options && (argument == QLatin1String("--help") || argument == QLatin1String("-h"))) {
            request.kind = StartRequest::Kind::Help;
            return request;
        }
        if (options && argument == QLatin1String("--")) {
            options = false;
            continue;
        }
        if (options && (argument == QLatin1String("--context") || argument.startsWith(QLatin1String("--context=")))) {
            const bool joined = argument.contains(QLatin1Char('='));
            const QString value = joined ? argument.section(QLatin1Char('='), 1) : arguments.value(i + 1);
            if (!joined)
                ++i;
            quint32 number = 0;
            if (!readContextNumber(value, &number)) {
                request.kind = StartRequest::Kind::Invalid;
                request.error = QCoreApplication::translate("main", "--context needs a number (decimal, or hexadecimal "
                                                                    "after 0x), not \"%1\"").arg(value);
                return request;
            }
            request.context = number;
            continue;
        }
        if (targetSeen)
            continue;   // only the first argument counts
        targetSeen = true;
        if (!argument.isEmpty())
            readTarget(argument, &request);
    }
    return request;
}

QString commandLineHelp()
{
    return QCoreApplication::translate("main",
        "Usage: pagewick [--context N] [BOOK]\n"
        "\n"
        "Opens a Compiled HTML Help book (.chm) in a window of its own. Without BOOK it opens\n"
        "the user guide, Help.chm. Only the first BOOK counts.\n"
        "\n"
        "BOOK is one of:\n"
        "  BOOK.chm                           the book, at its home page or where you left it\n"
        "  BOOK.chm::/path/topic.htm#part     the book at that topic\n"
        "  mk:@MSITStore:BOOK.chm::/topic.htm\n"
        "  ms-its:BOOK.chm::/topic.htm        the same, as programs and links write it\n"
        "  its:BOOK.chm::/topic.htm\n"
        "A relative BOOK is taken against the current folder; %-escapes are decoded once. A\n"
        "topic that is not in the book opens the home page and says so.\n"
        "\n"
        "Options:\n"
        "  --context N   open the topic the book maps help context number N to (decimal, or\n"
        "                hexadecimal after 0x)\n"
        "  -h, --help    show this text\n"
        "\n"
        "In the window, the menu bar lists every command with its key (F1: the user guide).\n");
}

QString topicLink(const QString& bookPath, const BookLocation& place)
{
    if (!place.isValid())
        return {};
    QString book = QDir::cleanPath(QFileInfo(bookPath).absoluteFilePath());
    book.replace(QLatin1Char('%'), QLatin1String("%25")).replace(kSeparator, QLatin1String("%3A%3A"));
    return book + kSeparator + place.pathWithFragment();
}
