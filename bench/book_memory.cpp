// Peak memory of the work the reader does on a book: opening it, reading every object and
// extracting it into a temporary folder. `book_memory <book>...` prints, per book, the peak
// resident set before and after, in KiB; `book_memory --write-crafted <folder>` first writes
// the hand-shaped books that claim far more than they hold (and a page 1,000 folders deep)
// into that folder.

#include "chmwriter.h"
#include "extractor.h"
#include "lchmfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/resource.h>

namespace {

long peakKiB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool writeCrafted(const QDir& folder)
{
    constexpr quint32 frames = 32768;
    QByteArray windows;
    appendLe32(windows, 4096);
    appendLe32(windows, 256 << 10);
    const ChmWriterObject claimedWindows{"/#WINDOWS", {}, true, 0, quint64(frames) * 32768};
    const ChmWriterObject page{"/index.htm", "<p>index</p>"};
    QVector<ChmWriterObject> windowsBook = claimingCompressedSection(frames, windows);
    windowsBook << claimedWindows << page;
    QVector<ChmWriterObject> sectionBook = claimingCompressedSection(1u << 20);
    sectionBook << page << ChmWriterObject{"/big.htm", {}, true, 0, 1ull << 30};
    const QVector<ChmWriterObject> deepBook{page, {QByteArray("/d").repeated(1000) + "/leaf.htm", "leaf"}};
    ChmWriterOptions deepOptions;
    deepOptions.chunkSize = 8192;
    if (!writeChmContainer(folder.filePath("windows-1gib.chm"), windowsBook))
        return false;
    if (!writeChmContainer(folder.filePath("section-32gib.chm"), sectionBook))
        return false;
    return writeChmContainer(folder.filePath("deep-1000.chm"), deepBook, deepOptions);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QStringList books = app.arguments().mid(1);
    if (books.size() >= 2 && books.first() == QLatin1String("--write-crafted")) {
        const QDir folder(books.at(1));
        if (!folder.mkpath(QStringLiteral(".")) || !writeCrafted(folder))
            return 1;
        books = books.mid(2);
    }
    for (const QString& path : std::as_const(books)) {
        const long before = peakKiB();
        int objects = 0, read = 0;
        {
            LCHMFile book;
            if (book.openBook(path)) {
                QStringList files;
                book.listFiles(&files);
                for (const QString& file : std::as_const(files)) {
                    QByteArray bytes;
                    ++objects;
                    read += book.readFileBytes(&bytes, file) ? 1 : 0;
                }
            }
        }
        QTemporaryDir target;
        const ExtractionResult result = BookExtractor::extract(path, target.path());
        const long after = peakKiB();
        std::printf("%-28s %9lld bytes  objects %5d read %5d  written %5d failed %3d  peak %7ld KiB -> %7ld KiB (+%ld)\n",
                    qPrintable(QFileInfo(path).fileName()), QFileInfo(path).size(), objects, read, result.written,
                    result.failed, before, after, after - before);
    }
    return 0;
}
