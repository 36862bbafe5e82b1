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

// The value of an option given as "--name value" or "--name=value"; advances *i past it.
// Empty when there is none.
QString optionValue(const QStringList& arguments, qsizetype* i)
{
    const QString& argument = arguments.at(*i);
    const qsizetype equals = argument.indexOf(QLatin1Char('='));
    if (equals >= 0)
        return argument.mid(equals + 1);
    ++*i;
    return arguments.value(*i);
}

bool isOption(const QString& argument, QLatin1String name)
{
    return argument == name || (argument.startsWith(name) && argument.mid(name.size()).startsWith(QLatin1Char('=')));
}

StartRequest invalid(const QString& error)
{
    StartRequest request;
    request.kind = StartRequest::Kind::Invalid;
    request.error = error;
    return request;
}

// An export asks for a plain book file; its checks come once every argument is read.
StartRequest checkedExport(StartRequest request, const QString& target)
{
    if (request.exportPath.isEmpty())
        return request.chapter.isEmpty() ? request
                                         : invalid(QCoreApplication::translate("main", "--chapter needs --export-pdf"));
    if (target.isEmpty())
        return invalid(QCoreApplication::translate("main", "--export-pdf needs a book to export"));
    if (request.kind == StartRequest::Kind::NotABook || !request.topic.isEmpty() || request.context)
        return invalid(QCoreApplication::translate("main", "\"%1\" is not a book file to export").arg(target));
    request.kind = StartRequest::Kind::ExportPdf;
    return request;
}

} // namespace

StartRequest parseCommandLine(const QStringList& arguments)
{
    StartRequest request;
    bool options = true;
    bool targetSeen = false;
    QString target;
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
        if (options && (isOption(argument, QLatin1String("--export-pdf")) || isOption(argument, QLatin1String("--chapter")))) {
            const bool chapter = argument.startsWith(QLatin1String("--chapter"));
            const QString value = optionValue(arguments, &i);
            if (value.isEmpty()) {
                return invalid(chapter ? QCoreApplication::translate("main", "--chapter needs an in-book path")
                                       : QCoreApplication::translate("main", "--export-pdf needs the PDF file to write"));
            }
            (chapter ? request.chapter : request.exportPath) = value;
            continue;
        }
        if (targetSeen)
            continue;   // only the first argument counts
        targetSeen = true;
        target = argument;
        if (!argument.isEmpty())
            readTarget(argument, &request);
    }
    return checkedExport(request, target);
}

QString commandLineHelp()
{
    return QCoreApplication::translate("main",
        "Usage: pagewick [--context N] [BOOK]\n"
        "       pagewick --export-pdf OUT.pdf [--chapter IN-BOOK-PATH] BOOK.chm\n"
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
        "  --export-pdf OUT.pdf\n"
        "                write the book as one PDF, its contents as the PDF's outline and its\n"
        "                links between pages as links inside the PDF, and end; no window is\n"
        "                opened and no display is needed. Progress goes to standard error.\n"
        "                Ends with 0 when the PDF was written, else with 1 and the reason\n"
        "  --chapter IN-BOOK-PATH\n"
        "                with --export-pdf: only the contents entry of that page (such as\n"
        "                /html/intro.htm) and every entry under it\n"
        "  -h, --help    show this text\n"
        "A BOOK whose name begins with - is given after --.\n"
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
