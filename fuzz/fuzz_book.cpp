// Opens arbitrary bytes as a book and runs every operation of the book facade on it.
#include "lchmfile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Damaged books produce many diagnostics; they are expected and would only slow the run.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = QDir::temp().filePath(
        QStringLiteral("pagewick-fuzz-book-%1.chm").arg(::getpid()));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }

    LCHMFile book;
    if (!book.openBook(path))
        return 0;
    (void)book.bookTitle();
    (void)book.homePage();
    QVector<LCHMParsedEntry> contents;
    book.parseContents(&contents);
    for (const LCHMParsedEntry& entry : contents) {
        for (const QString& url : entry.urls)
            (void)book.topicTitleForUrl(url);
    }
    QStringList files;
    if (book.listFiles(&files)) {
        int reads = 0;
        for (const QString& file : files) {
            QByteArray bytes;
            book.readFileBytes(&bytes, file);
            if (++reads == 64)
                break;
        }
    }
    QStringList results;
    book.fullTextSearch(QStringLiteral("the"), &results, 700);
    book.fullTextSearch(QStringLiteral("\"of the\" -de +zu"), &results, 700);
    book.closeBook();
    return 0;
}
