// Fuzzes what the page view's "mk" scheme handler does with a request, apart from the browser
// engine: a book URL in, the object's bytes and content type out. The input's first line is the
// in-book part of the URL (with any escapes, query or fragment); the rest is the book.
//
// Seeds: each book behind the paths of some of its objects (make_seeds). An input that finds a
// fault belongs in tests/tst_bookfile.cpp or tests/tst_paths.cpp as a test case.

#include "bookpage.h"
#include "booklocation.h"
#include "lchmfile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QDir::temp().filePath(QStringLiteral("pagewick-fuzz-page-%1.chm").arg(::getpid()));
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype newline = input.indexOf('\n');
    if (newline < 0)
        return 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(input.constData() + newline + 1, qint64(size) - newline - 1);
    }

    const QString inBook = QString::fromUtf8(input.left(newline));
    const QUrl url = BookLocation::urlFromText(BookLocation(path, inBook).toStoreUrl());
    const BookLocation place = BookLocation::fromUrl(url);
    const QString bookFile = place.bookFile();
    const QString inBookPath = QUrl::fromPercentEncoding(place.path().section(QLatin1Char('?'), 0, 0).toUtf8());
    if (!place.isValid() || bookFile != path)
        return 0;   // the in-book part reached into the book's name: not a page request
    LCHMFile book;
    if (!book.openBook(bookFile))
        return 0;
    QByteArray bytes;
    if (readBookObject(book, url, inBookPath, &bytes)) {
        const QByteArray type = contentTypeWithCharset("text/html", bytes, book.codecName());
        if (!type.startsWith("text/html"))
            std::abort();
    }
    (void)BookLocation::fromText(url.toString(), path);
    return 0;
}
